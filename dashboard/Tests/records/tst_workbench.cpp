#include "TestRegistry.h"
#include "TestSupport.h"

#include "platform/VarnoPaths.h"
#include "records/DeveloperWorkbenchState.h"
#include "records/RecordCodingError.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

DeveloperWorkbenchState stateWith(std::function<void(DeveloperWorkbenchState &)> change)
{
    DeveloperWorkbenchState state;
    change(state);
    return state;
}

} // namespace

class TestDeveloperWorkbenchState : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void enumerations()
    {
        QCOMPARE(DeveloperWorkbench::rawValue(DeveloperUpdatePolicy::trackOnly), QStringLiteral("track_only"));
        QCOMPARE(DeveloperWorkbench::rawValue(DeveloperUpdatePolicy::askBeforeUpdating),
                 QStringLiteral("ask_before_updating"));
        QCOMPARE(DeveloperWorkbench::updatePolicyFromRawValue(QStringLiteral("Ask_before_updating")), std::nullopt);
        QCOMPARE(DeveloperWorkbench::updatePolicyFromRawValue(QStringLiteral("ask_before_updating")),
                 std::optional(DeveloperUpdatePolicy::askBeforeUpdating));

        const QStringList keys = {QStringLiteral("homebrewFormulaeEnabled"), QStringLiteral("homebrewCasksEnabled"),
                                  QStringLiteral("npmEnabled"), QStringLiteral("pythonEnabled"),
                                  QStringLiteral("vendorInstallersEnabled")};
        const QList<DeveloperSource> sources = DeveloperWorkbench::allSources();
        QCOMPARE(sources.size(), keys.size());
        for (qsizetype i = 0; i < sources.size(); ++i) {
            QCOMPARE(DeveloperWorkbench::flagKey(sources.at(i)), keys.at(i));
            QCOMPARE(DeveloperWorkbench::sourceFromRawValue(DeveloperWorkbench::rawValue(sources.at(i))),
                     std::optional(sources.at(i)));
            // Each source switches its own flag and no other.
            DeveloperWorkbenchState state;
            state.setEnabled(sources.at(i), true);
            const QJsonObject json = state.toJson();
            for (const QString &key : keys)
                QCOMPARE(json.value(key).toBool(), key == keys.at(i));
            QVERIFY(state.isEnabled(sources.at(i)));
        }
    }

    void lenientDecoding_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<DeveloperWorkbenchState>("expected");

        QTest::newRow("empty object") << QByteArray("{}") << DeveloperWorkbenchState();
        QTest::newRow("policy of another type") << QByteArray("{\"updatePolicy\":5}") << DeveloperWorkbenchState();
        QTest::newRow("folders with a number")
            << QByteArray("{\"projectFolders\":[\"/a\",3]}") << DeveloperWorkbenchState();
        QTest::newRow("flag as text") << QByteArray("{\"workbenchEnabled\":\"yes\"}") << DeveloperWorkbenchState();
        QTest::newRow("flag as number") << QByteArray("{\"npmEnabled\":1}") << DeveloperWorkbenchState();
        QTest::newRow("nulls") << QByteArray("{\"updatePolicy\":null,\"projectFolders\":null,\"npmEnabled\":null}")
                               << DeveloperWorkbenchState();
        QTest::newRow("one bad key does not spoil the others")
            << QByteArray("{\"workbenchEnabled\":true,\"npmEnabled\":\"on\",\"pythonEnabled\":true}")
            << stateWith([](DeveloperWorkbenchState &s) {
                   s.workbenchEnabled = true;
                   s.pythonEnabled = true;
               });
        QTest::newRow("kept as it stands, not normalised")
            << QByteArray("{\"updatePolicy\":\"Ask_before_updating\",\"projectFolders\":[\"/b\",\"\",\"/a\",\"/b\"]}")
            << stateWith([](DeveloperWorkbenchState &s) {
                   s.updatePolicy = QStringLiteral("Ask_before_updating");
                   s.projectFolders = {QStringLiteral("/b"), QString(), QStringLiteral("/a"), QStringLiteral("/b")};
               });
        QTest::newRow("every key") << QByteArray(
            "{\"workbenchEnabled\":true,\"updatePolicy\":\"ask_before_updating\","
            "\"homebrewFormulaeEnabled\":true,\"homebrewCasksEnabled\":true,\"npmEnabled\":true,"
            "\"pythonEnabled\":true,\"vendorInstallersEnabled\":true,\"projectFolders\":[\"/p\"],"
            "\"unknown\":1}") << stateWith([](DeveloperWorkbenchState &s) {
            s.workbenchEnabled = s.homebrewFormulaeEnabled = s.homebrewCasksEnabled = true;
            s.npmEnabled = s.pythonEnabled = s.vendorInstallersEnabled = true;
            s.updatePolicy = QStringLiteral("ask_before_updating");
            s.projectFolders = {QStringLiteral("/p")};
        });
    }

    void lenientDecoding()
    {
        QFETCH(QByteArray, json);
        QFETCH(DeveloperWorkbenchState, expected);
        QCOMPARE(DeveloperWorkbenchState::decode(json), expected);
    }

    void topLevelMustBeAnObject()
    {
        QVERIFY_THROWS_EXCEPTION(RecordDecodingError, DeveloperWorkbenchState::decode("[1]"));
        QVERIFY_THROWS_EXCEPTION(RecordDecodingError, DeveloperWorkbenchState::decode("{\"npmEnabled\":"));
    }

    void normalisation_data()
    {
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QString>("expectedPolicy");
        QTest::addColumn<QStringList>("expectedFolders");

        const QString track = QStringLiteral("track_only");
        const QString ask = QStringLiteral("ask_before_updating");
        QTest::newRow("empty dropped, duplicates removed, sorted")
            << ask << QStringList{QStringLiteral("/b"), QString(), QStringLiteral("/a"), QStringLiteral("/b")} << ask
            << QStringList{QStringLiteral("/a"), QStringLiteral("/b")};
        QTest::newRow("policy is matched exactly")
            << QStringLiteral("Ask_before_updating") << QStringList() << track << QStringList();
        QTest::newRow("unknown policy") << QStringLiteral("auto") << QStringList() << track << QStringList();
        QTest::newRow("empty policy") << QString() << QStringList() << track << QStringList();
        QTest::newRow("blank folders stay, upper case first")
            << track << QStringList{QStringLiteral("/a"), QStringLiteral(" "), QStringLiteral("/B")} << track
            << QStringList{QStringLiteral(" "), QStringLiteral("/B"), QStringLiteral("/a")};
        // U+1F600 (a surrogate pair in UTF-16) lies after U+FF5E in code-point order.
        QTest::newRow("code point order beyond the basic plane")
            << track << QStringList{QStringLiteral("/\U0001F600"), QStringLiteral("/\uFF5E"), QStringLiteral("/\u00E9")}
            << track << QStringList{QStringLiteral("/\u00E9"), QStringLiteral("/\uFF5E"), QStringLiteral("/\U0001F600")};
        QTest::newRow("prefix sorts first") << track << QStringList{QStringLiteral("/ab"), QStringLiteral("/a")}
                                            << track << QStringList{QStringLiteral("/a"), QStringLiteral("/ab")};
    }

    void normalisation()
    {
        QFETCH(QString, policy);
        QFETCH(QStringList, folders);
        QFETCH(QString, expectedPolicy);
        QFETCH(QStringList, expectedFolders);
        DeveloperWorkbenchState state;
        state.updatePolicy = policy;
        state.projectFolders = folders;
        state.npmEnabled = true;
        const DeveloperWorkbenchState normal = state.normalized();
        QCOMPARE(normal.updatePolicy, expectedPolicy);
        QCOMPARE(normal.projectFolders, expectedFolders);
        QVERIFY(normal.npmEnabled);
        QCOMPARE(normal.normalized(), normal);
    }

    // All eight keys, values as they are; decoding the output gives the state back.
    void encodingRoundTrips()
    {
        DeveloperWorkbenchState state;
        state.updatePolicy = QStringLiteral("weird");
        state.projectFolders = {QStringLiteral("/z"), QString(), QStringLiteral("/z")};
        state.vendorInstallersEnabled = true;
        const QByteArray bytes = state.encode();
        const QJsonObject object = QJsonDocument::fromJson(bytes).object();
        QCOMPARE(object.keys().size(), 8);
        QCOMPARE(object.value(QStringLiteral("updatePolicy")).toString(), QStringLiteral("weird"));
        QCOMPARE(DeveloperWorkbenchState::decode(bytes), state);
    }

    void unencodableTextFails()
    {
        DeveloperWorkbenchState state;
        state.projectFolders = {QStringLiteral("/ok"), QString(QChar(0xD800))};
        try {
            state.encode();
            QFAIL("encoded");
        } catch (const RecordEncodingError &error) {
            QCOMPARE(error.codingPath(), QStringLiteral("projectFolders.1"));
        }
    }

    void storeLoad_data()
    {
        QTest::addColumn<bool>("writeFile");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<DeveloperWorkbenchState>("expected");

        QTest::newRow("missing file") << false << QByteArray() << DeveloperWorkbenchState();
        QTest::newRow("top level array") << true << QByteArray("[{\"npmEnabled\":true}]") << DeveloperWorkbenchState();
        QTest::newRow("not JSON") << true << QByteArray("npmEnabled = true") << DeveloperWorkbenchState();
        QTest::newRow("empty file") << true << QByteArray() << DeveloperWorkbenchState();
        QTest::newRow("stored state, not normalised")
            << true << QByteArray("{\"npmEnabled\":true,\"updatePolicy\":\"x\",\"projectFolders\":[\"/b\",\"/a\"]}")
            << stateWith([](DeveloperWorkbenchState &s) {
                   s.npmEnabled = true;
                   s.updatePolicy = QStringLiteral("x");
                   s.projectFolders = {QStringLiteral("/b"), QStringLiteral("/a")};
               });
    }

    void storeLoad()
    {
        QFETCH(bool, writeFile);
        QFETCH(QByteArray, contents);
        QFETCH(DeveloperWorkbenchState, expected);
        VarnoTest::TempHome home;
        QCOMPARE(DeveloperWorkbenchStateStore::filePath(),
                 home.path() + QStringLiteral("/Library/Application Support/VARNO/developer_workbench.json"));
        if (writeFile)
            QVERIFY(VarnoTest::writeFile(DeveloperWorkbenchStateStore::filePath(), contents));
        QCOMPARE(DeveloperWorkbenchStateStore::load(), expected);
    }

    void storeLoadOfAFolderIsTheDefault()
    {
        VarnoTest::TempHome home;
        home.mkpath(QStringLiteral("Library/Application Support/VARNO/developer_workbench.json"));
        QCOMPARE(DeveloperWorkbenchStateStore::load(), DeveloperWorkbenchState());
    }

    void reports_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("decodes");
        QTest::addColumn<DeveloperReportEnvelope>("expected");

        DeveloperReportEnvelope plain{QStringLiteral("inspect"),
                                      {QStringLiteral("All good."), std::nullopt, std::nullopt}};
        DeveloperReportEnvelope flags{QStringLiteral("plan_updates"), {QStringLiteral("S"), true, false}};
        QTest::newRow("summary only") << QByteArray("{\"kind\":\"inspect\",\"payload\":{\"summary\":\"All good.\"}}")
                                      << true << plain;
        QTest::newRow("flags carried") << QByteArray(
            "{\"kind\":\"plan_updates\",\"payload\":{\"summary\":\"S\",\"state_corrupted\":true,"
            "\"truncated\":false}}") << true
                                       << flags;
        QTest::newRow("null flags are absent")
            << QByteArray("{\"kind\":\"inspect\",\"payload\":{\"summary\":\"All good.\",\"truncated\":null}}") << true
            << plain;
        QTest::newRow("no kind") << QByteArray("{\"payload\":{\"summary\":\"S\"}}") << false << DeveloperReportEnvelope();
        QTest::newRow("no payload") << QByteArray("{\"kind\":\"inspect\"}") << false << DeveloperReportEnvelope();
        QTest::newRow("no summary") << QByteArray("{\"kind\":\"inspect\",\"payload\":{}}") << false
                                    << DeveloperReportEnvelope();
        QTest::newRow("null summary") << QByteArray("{\"kind\":\"inspect\",\"payload\":{\"summary\":null}}") << false
                                      << DeveloperReportEnvelope();
        QTest::newRow("kind of another type")
            << QByteArray("{\"kind\":1,\"payload\":{\"summary\":\"S\"}}") << false << DeveloperReportEnvelope();
        QTest::newRow("flag as number") << QByteArray(
            "{\"kind\":\"inspect\",\"payload\":{\"summary\":\"S\",\"truncated\":1}}")
                                        << false << DeveloperReportEnvelope();
        QTest::newRow("payload as text") << QByteArray("{\"kind\":\"inspect\",\"payload\":\"S\"}") << false
                                         << DeveloperReportEnvelope();
    }

    void reports()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, decodes);
        QFETCH(DeveloperReportEnvelope, expected);
        if (decodes) {
            QCOMPARE(DeveloperReportEnvelope::decode(json), expected);
        } else {
            QVERIFY_THROWS_EXCEPTION(RecordDecodingError, DeveloperReportEnvelope::decode(json));
        }
    }
};

VARNO_TEST_CLASS(TestDeveloperWorkbenchState)
#include "tst_workbench.moc"
