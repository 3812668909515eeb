#include "TestRegistry.h"
#include "TestSupport.h"

#include "kit/VarnoColor.h"
#include "platform/MainBundle.h"
#include "records/RemediationRegistry.h"
#include "sheets/CommandHints.h"
#include "sheets/ContributeSheet.h"
#include "sheets/UpdateFlowView.h"
#include "sheets/UpdateRowView.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using Icon = UpdateRowContent::StateIcon;
Q_DECLARE_METATYPE(UpdateRowContent::StateIcon)
Q_DECLARE_METATYPE(ContributeForm)

using ProgressMap = QHash<QString, UpdateState>;

namespace {

AppRecord rec(const QByteArray &json, const char *id = "org.x", const char *name = "Xylo")
{
    QByteArray text = QByteArray("{\"bundle_id\":\"") + id + "\",\"app_name\":\"" + name + "\""
        + (json.isEmpty() ? "" : ",") + json + "}";
    const auto record = AppRecord::fromJson(QJsonDocument::fromJson(text).object());
    if (!record)
        qFatal("test record does not decode: %s", text.constData());
    return *record;
}

std::optional<AppIncident> incident(const char *code, AppIncident::Kind kind)
{
    return AppIncident{QString::fromLatin1(code), kind, std::nullopt};
}

QString cause(const std::optional<QString> &code)
{
    return RemediationRegistry::shared().cause(code);
}

ContributeForm form(const char *mechanism, const char *feed = "", const char *home = "", const char *download = "",
                    const char *cask = "", const char *mas = "", bool push = false)
{
    ContributeForm f;
    f.mechanism = QString::fromUtf8(mechanism);
    f.feedURL = QString::fromUtf8(feed);
    f.homepageURL = QString::fromUtf8(home);
    f.downloadURL = QString::fromUtf8(download);
    f.caskToken = QString::fromUtf8(cask);
    f.masID = QString::fromUtf8(mas);
    f.shouldPush = push;
    return f;
}

QHash<QString, UpdateState> progress(std::initializer_list<std::pair<const char *, UpdateState>> entries)
{
    QHash<QString, UpdateState> map;
    for (const auto &[id, state] : entries)
        map.insert(QString::fromLatin1(id), state);
    return map;
}

QList<AppRecord> records(std::initializer_list<const char *> ids)
{
    QList<AppRecord> list;
    for (const char *id : ids)
        list.append(rec({}, id, id));
    return list;
}

QStringList ids(const QList<AppRecord> &list)
{
    QStringList out;
    for (const AppRecord &app : list)
        out.append(app.bundle_id);
    return out;
}

} // namespace

// The sheets' pure rules, as tables.
class TestSheetRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { MainBundle::setPathOverride(VarnoTest::stagedBundlePath()); }

    // --- Commands offered for copying ---------------------------------------------------

    void shellWords_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<std::optional<QString>>("word");
        QTest::newRow("token") << "handmade-paint" << std::optional<QString>("handmade-paint");
        QTest::newRow("digits") << "497799835" << std::optional<QString>("497799835");
        QTest::newRow("at and plus") << "font-x@1+2" << std::optional<QString>("font-x@1+2");
        QTest::newRow("blank") << "handmade paint" << std::optional<QString>("'handmade paint'");
        QTest::newRow("command substitution") << "x$(rm -rf ~)" << std::optional<QString>("'x$(rm -rf ~)'");
        QTest::newRow("semicolon") << "x; reboot" << std::optional<QString>("'x; reboot'");
        QTest::newRow("quote") << "it's" << std::optional<QString>("'it'\\''s'");
        QTest::newRow("line break") << "a\nb" << std::optional<QString>("'a\nb'");
        QTest::newRow("option-like") << "--force" << std::optional<QString>();
        QTest::newRow("empty") << "" << std::optional<QString>();
    }
    void shellWords()
    {
        QFETCH(QString, value);
        QFETCH(std::optional<QString>, word);
        QCOMPARE(CommandHints::shellWord(value), word);
        QCOMPARE(CommandHints::brewInstallCask(value),
                 word ? std::optional<QString>(QStringLiteral("brew install --cask ") + *word) : std::nullopt);
    }

    // --- Contribution sheet ---------------------------------------------------------------

    void canSubmit_data()
    {
        QTest::addColumn<ContributeForm>("form");
        QTest::addColumn<bool>("can");
        QTest::newRow("fresh sparkle") << form("sparkle") << false;
        QTest::newRow("sparkle with feed") << form("sparkle", "h") << true;
        QTest::newRow("sparkle, blank feed counts") << form("sparkle", " ") << true;
        QTest::newRow("sparkle, download only") << form("sparkle", "", "", "https://d") << false;
        QTest::newRow("direct without download") << form("direct_download", "https://f") << false;
        QTest::newRow("direct with download") << form("direct_download", "", "", "https://d") << true;
        QTest::newRow("vendor, nothing") << form("vendor_self_update") << true;
        QTest::newRow("cask without token") << form("cask") << false;
        QTest::newRow("cask with token") << form("cask", "", "", "", "tok") << true;
        QTest::newRow("mas without id") << form("mas", "https://f") << false;
        QTest::newRow("mas with id") << form("mas", "", "", "", "", "12") << true;
        QTest::newRow("mas, token of cask doesn't count") << form("mas", "", "", "", "tok") << false;
        QTest::newRow("no mechanism") << form("", "https://f") << false;
    }
    void canSubmit()
    {
        QFETCH(ContributeForm, form);
        QFETCH(bool, can);
        QCOMPARE(ContributeRules::canSubmit(form), can);
    }

    void contributeArguments_data()
    {
        QTest::addColumn<ContributeForm>("form");
        QTest::addColumn<QStringList>("tail");
        QTest::newRow("vendor alone") << form("vendor_self_update") << QStringList{};
        QTest::newRow("vendor, push") << form("vendor_self_update", "", "", "", "", "", true) << QStringList{"--push"};
        QTest::newRow("every URL, whatever the mechanism")
            << form("direct_download", "https://f", "https://h", "https://d", "", "", true)
            << QStringList{"--feed-url",     "https://f", "--homepage-url", "https://h",
                           "--download-url", "https://d", "--push"};
        QTest::newRow("cask token only for cask")
            << form("cask", "", "", "", "tok", "12") << QStringList{"--cask-token", "tok"};
        QTest::newRow("mas id only for mas, push last")
            << form("mas", "", "https://h", "", "tok", "12", true)
            << QStringList{"--homepage-url", "https://h", "--mas-id", "12", "--push"};
        QTest::newRow("blanks sent raw, one argument each")
            << form("sparkle", " https://f x; rm -rf ~ ") << QStringList{"--feed-url", " https://f x; rm -rf ~ "};
    }
    void contributeArguments()
    {
        QFETCH(ContributeForm, form);
        QFETCH(QStringList, tail);
        const QStringList head{"contribute", "--bundle-id", "org.x", "--mechanism", form.mechanism};
        QCOMPARE(ContributeRules::arguments(QStringLiteral("org.x"), form), head + tail);
    }

    // A value that would reach the engine as an option is refused, naming the field.
    void contributeRefusal_data()
    {
        QTest::addColumn<QString>("bundleId");
        QTest::addColumn<ContributeForm>("form");
        QTest::addColumn<QString>("field");
        QTest::newRow("fine") << "org.x" << form("sparkle", "https://f") << "";
        QTest::newRow("feed") << "org.x" << form("sparkle", "--push") << "Feed URL";
        QTest::newRow("homepage") << "org.x" << form("vendor_self_update", "", "-h") << "Homepage URL";
        QTest::newRow("download") << "org.x" << form("direct_download", "", "", "--mechanism=x") << "Download URL";
        QTest::newRow("cask token") << "org.x" << form("cask", "", "", "", "-t") << "Homebrew Cask token";
        QTest::newRow("mas id") << "org.x" << form("mas", "", "", "", "", "-1") << "Mac App Store item ID";
        QTest::newRow("hidden cask token is not sent") << "org.x" << form("mas", "", "", "", "-t", "1") << "";
        QTest::newRow("blank then dash is a value") << "org.x" << form("sparkle", " -f") << "";
        QTest::newRow("bundle id") << "-org.x" << form("vendor_self_update") << "bundle id";
    }
    void contributeRefusal()
    {
        QFETCH(QString, bundleId);
        QFETCH(ContributeForm, form);
        QFETCH(QString, field);
        const std::optional<QString> refusal = ContributeRules::refusal(bundleId, form);
        QCOMPARE(refusal.has_value(), !field.isEmpty());
        if (refusal)
            QVERIFY2(refusal->contains(field) && refusal->contains(QStringLiteral("“-”")), qPrintable(*refusal));
    }

    // --- Update row -------------------------------------------------------------------------

    void rowByState_data()
    {
        QTest::addColumn<UpdateState>("state");
        QTest::addColumn<int>("incidentKind"); // -1 none, 0 failed, 1 skipped
        QTest::addColumn<QString>("primary");
        QTest::addColumn<std::optional<QString>>("secondary");
        QTest::addColumn<Icon>("icon");
        QTest::addColumn<QString>("symbol");
        QTest::addColumn<QString>("statusDark");
        QTest::addColumn<QString>("borderDark");
        QTest::addColumn<qreal>("borderOpacity");
        QTest::addColumn<QString>("remedyCode");
        const std::optional<QString> brew(QStringLiteral("Homebrew"));
        QTest::newRow("queued") << UpdateState::queued(2, 5) << -1 << "Queued (2 of 5)" << brew << Icon::symbol << "clock"
                                << "#A89D8A"
                                << "#3E3830" << 1.0 << "";
        QTest::newRow("running") << UpdateState::running("Installing…") << -1 << "Installing…" << brew << Icon::spinner
                                 << ""
                                 << "#D4A853"
                                 << "#D4A853" << 0.3 << "";
        QTest::newRow("skipped, incident") << UpdateState::skipped("nope") << 1 << cause(QStringLiteral("BREW_LOCKED"))
                                           << brew << Icon::symbol << "arrow.uturn.forward"
                                           << "#A89D8A"
                                           << "#3E3830" << 1.0 << "BREW_LOCKED";
        QTest::newRow("skipped, none") << UpdateState::skipped("not now") << -1 << "Skipped — not now" << brew
                                       << Icon::symbol << "arrow.uturn.forward"
                                       << "#A89D8A"
                                       << "#3E3830" << 1.0 << "";
        QTest::newRow("failed, incident")
            << UpdateState::failed("brew said no") << 0 << cause(QStringLiteral("BREW_LOCKED"))
            << std::optional<QString>("brew said no") << Icon::symbol << "exclamationmark.triangle"
            << "#E57373"
            << "#CF4747" << 0.3 << "BREW_LOCKED";
        QTest::newRow("failed, none") << UpdateState::failed("boom") << -1 << cause(std::nullopt)
                                      << std::optional<QString>("boom") << Icon::symbol << "exclamationmark.triangle"
                                      << "#E57373"
                                      << "#CF4747" << 0.3 << "UNKNOWN";
        QTest::newRow("quit denied") << UpdateState::quitDenied("Brusk couldn't quit Xylo") << -1
                                     << "Brusk couldn't quit Xylo" << brew << Icon::symbol << "hand.raised"
                                     << "#FFB74D"
                                     << "#E07B39" << 0.3 << "";
        QTest::newRow("quit denied, incident")
            << UpdateState::quitDenied("q") << 0 << "q" << brew << Icon::symbol << "hand.raised"
            << "#FFB74D"
            << "#E07B39" << 0.3 << "BREW_LOCKED";
        QTest::newRow("done") << UpdateState::done() << -1 << "Updated" << brew << Icon::symbol << "checkmark"
                              << "#4CAF7D"
                              << "#4CAF7D" << 0.3 << "";
        QTest::newRow("done, incident: no remedy")
            << UpdateState::done() << 0 << "Updated" << brew << Icon::symbol << "checkmark"
            << "#4CAF7D"
            << "#4CAF7D" << 0.3 << "";
        QTest::newRow("idle, failed") << UpdateState::idle() << 0 << cause(QStringLiteral("BREW_LOCKED")) << brew
                                      << Icon::symbol << "exclamationmark.triangle"
                                      << "#E57373"
                                      << "#CF4747" << 0.3 << "BREW_LOCKED";
        QTest::newRow("idle, skipped") << UpdateState::idle() << 1 << cause(QStringLiteral("BREW_LOCKED")) << brew
                                       << Icon::symbol << "arrow.uturn.forward"
                                       << "#A89D8A"
                                       << "#3E3830" << 1.0 << "BREW_LOCKED";
        QTest::newRow("idle") << UpdateState::idle() << -1 << "Ready through Homebrew"
                              << std::optional<QString>("brew upgrade --cask xylo") << Icon::none << ""
                              << "#A89D8A"
                              << "#3E3830" << 1.0 << "";
    }
    void rowByState()
    {
        QFETCH(UpdateState, state);
        QFETCH(int, incidentKind);
        QFETCH(QString, primary);
        QFETCH(std::optional<QString>, secondary);
        QFETCH(Icon, icon);
        QFETCH(QString, symbol);
        QFETCH(QString, statusDark);
        QFETCH(QString, borderDark);
        QFETCH(qreal, borderOpacity);
        QFETCH(QString, remedyCode);
        const AppRecord app = rec(R"("update_mechanism":"cask")");
        const std::optional<AppIncident> open = incidentKind < 0
            ? std::nullopt
            : incident("BREW_LOCKED", incidentKind == 0 ? AppIncident::Kind::failed : AppIncident::Kind::skipped);
        const UpdateRowContent c = UpdateRowView::contentFor(app, state, open);
        QCOMPARE(c.primaryLine, primary);
        QCOMPARE(c.secondaryLine, secondary);
        QCOMPARE(c.stateIcon, icon);
        QCOMPARE(c.symbol, symbol);
        QCOMPARE(c.statusLineColor.dark(), statusDark);
        QCOMPARE(c.borderColor.dark(), borderDark);
        QCOMPARE(c.borderOpacity, borderOpacity);
        QCOMPARE(c.showsIncidentAction, !remedyCode.isEmpty());
        QCOMPARE(c.incidentCode, remedyCode);
        QCOMPARE(UpdateRowView::accessibilityLabel(app, c.primaryLine), QStringLiteral("Xylo, ") + primary);
    }

    void doneBadge_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<Icon>("icon");
        QTest::newRow("seal outranks path") << QByteArray(R"("green_seal":true,"verified_path":true)") << Icon::greenSeal;
        QTest::newRow("path") << QByteArray(R"("verified_path":true)") << Icon::verifiedPath;
        QTest::newRow("neither") << QByteArray(R"("green_seal":false)") << Icon::symbol;
    }
    void doneBadge()
    {
        QFETCH(QByteArray, json);
        QFETCH(Icon, icon);
        QCOMPARE(UpdateRowView::contentFor(rec(json), UpdateState::done(), std::nullopt).stateIcon, icon);
    }

    void mechanismTexts_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("ready");
        QTest::addColumn<std::optional<QString>>("hint");
        QTest::newRow("cask") << QByteArray(R"("update_mechanism":"cask","cask_token":"xylo-app")") << "Homebrew"
                              << "Ready through Homebrew" << std::optional<QString>("brew upgrade --cask xylo-app");
        QTest::newRow("Cask, capital") << QByteArray(R"("update_mechanism":"Cask")") << "Homebrew"
                                       << "Ready through the native updater" << std::optional<QString>();
        QTest::newRow("cask, no token: the name, quoted")
            << QByteArray(R"("update_mechanism":"cask")") << "Homebrew"
            << "Ready through Homebrew" << std::optional<QString>("brew upgrade --cask 'big xylo pro'");
        QTest::newRow("cask, token with a command")
            << QByteArray(R"("update_mechanism":"cask","cask_token":"x;open -a Calculator")") << "Homebrew"
            << "Ready through Homebrew" << std::optional<QString>("brew upgrade --cask 'x;open -a Calculator'");
        QTest::newRow("cask, option-like token")
            << QByteArray(R"("update_mechanism":"cask","cask_token":"--force")") << "Homebrew"
            << "Ready through Homebrew" << std::optional<QString>();
        QTest::newRow("mas") << QByteArray(R"("update_mechanism":"mas","mas_id":"497799835")") << "App Store"
                             << "Ready through the App Store" << std::optional<QString>("mas upgrade 497799835");
        QTest::newRow("mas, no id") << QByteArray(R"("update_mechanism":"mas")") << "App Store"
                                    << "Ready through the App Store" << std::optional<QString>("mas upgrade");
        QTest::newRow("sparkle") << QByteArray(R"("update_mechanism":"sparkle")") << "Sparkle"
                                 << "Ready through the app's updater"
                                 << std::optional<QString>("Downloads the app's signed update");
        QTest::newRow("SPARKLE") << QByteArray(R"("update_mechanism":"SPARKLE")") << "Sparkle"
                                 << "Ready through the native updater" << std::optional<QString>();
        QTest::newRow("vendor") << QByteArray(R"("update_mechanism":"vendor_self_update")") << "Native updater"
                                << "Ready through the native updater" << std::optional<QString>();
        QTest::newRow("absent") << QByteArray() << "Native updater"
                                << "Ready through the native updater" << std::optional<QString>();
    }
    void mechanismTexts()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, label);
        QFETCH(QString, ready);
        QFETCH(std::optional<QString>, hint);
        const AppRecord app = rec(json, "org.x", "Big Xylo Pro");
        QCOMPARE(UpdateRowView::mechanismLabel(app), label);
        QCOMPARE(UpdateRowView::readyLine(app), ready);
        QCOMPARE(UpdateRowView::commandHint(app), hint);
        // An idle app without a hint has no secondary line.
        QCOMPARE(UpdateRowView::secondaryLine(app, UpdateState::idle(), std::nullopt), hint);
    }

    void shortenedFailure_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        const QString e84(84, QLatin1Char('e'));
        const QString e85(85, QLatin1Char('e'));
        QTest::newRow("84 whole") << e84 << e84;
        QTest::newRow("85 cut") << e85 << QString(83, QLatin1Char('e')) + QStringLiteral("…");
        QTest::newRow("empty") << ""
                               << "";
        // 84 flags of two code points each (four UTF-16 units): whole.
        QString flags;
        for (int i = 0; i < 84; ++i)
            flags += QStringLiteral("🇸🇪");
        QTest::newRow("84 flags whole") << flags << flags;
        QString e83accents;
        for (int i = 0; i < 90; ++i)
            e83accents += QStringLiteral("e\u0301");
        QTest::newRow("combining marks stay whole") << e83accents << e83accents.left(166) + QStringLiteral("…");
    }
    void shortenedFailure()
    {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(UpdateRowView::shortenedFailure(message), shown);
    }

    // --- Update-run sheet -------------------------------------------------------------------

    void isTerminal_data()
    {
        QTest::addColumn<ProgressMap>("map");
        QTest::addColumn<bool>("terminal");
        QTest::newRow("empty") << QHash<QString, UpdateState>() << false;
        QTest::newRow("all final") << progress({{"a", UpdateState::done()},
                                                {"b", UpdateState::failed("x")},
                                                {"c", UpdateState::skipped("s")},
                                                {"d", UpdateState::quitDenied("q")}})
                                   << true;
        QTest::newRow("one idle") << progress({{"a", UpdateState::done()}, {"b", UpdateState::idle()}}) << false;
        QTest::newRow("one queued") << progress({{"a", UpdateState::done()}, {"b", UpdateState::queued(1, 2)}}) << false;
        QTest::newRow("one running") << progress({{"a", UpdateState::running("r")}}) << false;
    }
    void isTerminal()
    {
        QFETCH(ProgressMap, map);
        QFETCH(bool, terminal);
        QCOMPARE(UpdateFlowView::isTerminal(records({"a"}), map), terminal);
    }

    void subtitle_data()
    {
        QTest::addColumn<QStringList>("active");
        QTest::addColumn<ProgressMap>("map");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<QString>("subtitle");
        const QHash<QString, UpdateState> done = progress({{"a", UpdateState::done()}});
        QTest::newRow("all done outranks paused") << QStringList{"a"} << done << true << "All done.";
        QTest::newRow("paused") << QStringList{"a"} << progress({{"a", UpdateState::queued(1, 1)}}) << true
                                << "Queue paused.";
        QTest::newRow("nothing active") << QStringList{} << QHash<QString, UpdateState>() << false
                                        << "Waiting to start...";
        QTest::newRow("running") << QStringList{"a", "b"}
                                 << progress({{"a", UpdateState::queued(2, 2)}, {"b", UpdateState::running("r")}})
                                 << false << "Running your update queue...";
        QTest::newRow("queued") << QStringList{"a", "b"}
                                << progress({{"a", UpdateState::queued(2, 2)}, {"b", UpdateState::done()}}) << false
                                << "Up next in the queue...";
        QTest::newRow("before the first event")
            << QStringList{"a"} << QHash<QString, UpdateState>() << false << "Waiting to start...";
        QTest::newRow("a running app outside the active list")
            << QStringList{"a"} << progress({{"z", UpdateState::running("r")}}) << false << "Waiting to start...";
    }
    void subtitle()
    {
        QFETCH(QStringList, active);
        QFETCH(ProgressMap, map);
        QFETCH(bool, paused);
        QFETCH(QString, subtitle);
        QList<AppRecord> apps;
        for (const QString &id : active)
            apps.append(rec({}, qPrintable(id)));
        QCOMPARE(UpdateFlowView::headerSubtitle(apps, map, paused, UpdateFlowView::isTerminal(apps, map)), subtitle);
    }

    void completion_data()
    {
        QTest::addColumn<QStringList>("active");
        QTest::addColumn<ProgressMap>("map");
        QTest::addColumn<QString>("message");
        QTest::newRow("in order") << QStringList{"a", "b"}
                                  << progress({{"a", UpdateState::done()}, {"b", UpdateState::done()}})
                                  << "The library is in order.";
        QTest::newRow("three skipped") << QStringList{"a", "b", "c"}
                                       << progress({{"a", UpdateState::skipped("s")},
                                                    {"b", UpdateState::skipped("s")},
                                                    {"c", UpdateState::quitDenied("q")}})
                                       << "3 apps skipped.";
        QTest::newRow("one skipped") << QStringList{"a"} << progress({{"a", UpdateState::skipped("s")}})
                                     << "1 app skipped.";
        QTest::newRow("failed and quit denied")
            << QStringList{"a", "b"} << progress({{"a", UpdateState::failed("f")}, {"b", UpdateState::quitDenied("q")}})
            << "1 app couldn't be updated and 1 skipped — see details above.";
        QTest::newRow("plural by the first count")
            << QStringList{"a", "b", "c"}
            << progress(
                   {{"a", UpdateState::failed("f")}, {"b", UpdateState::failed("f")}, {"c", UpdateState::skipped("s")}})
            << "2 apps couldn't be updated and 1 skipped — see details above.";
        QTest::newRow("one failed") << QStringList{"a"} << progress({{"a", UpdateState::failed("f")}})
                                    << "1 app couldn't be updated — see details above.";
        QTest::newRow("only the active apps count")
            << QStringList{"a"} << progress({{"a", UpdateState::done()}, {"z", UpdateState::failed("f")}})
            << "The library is in order.";
        QTest::newRow("no active apps: every value counts")
            << QStringList{} << progress({{"y", UpdateState::failed("f")}, {"z", UpdateState::failed("f")}})
            << "2 apps couldn't be updated — see details above.";
        QTest::newRow("unfinished: nothing") << QStringList{"a"} << progress({{"a", UpdateState::running("r")}}) << "";
    }
    void completion()
    {
        QFETCH(QStringList, active);
        QFETCH(ProgressMap, map);
        QFETCH(QString, message);
        QList<AppRecord> apps;
        for (const QString &id : active)
            apps.append(rec({}, qPrintable(id)));
        QCOMPARE(UpdateFlowView::completionMessage(apps, map, UpdateFlowView::isTerminal(apps, map)), message);
    }

    void activeAndDisplayOrder()
    {
        // The outdated apps while nothing runs.
        QCOMPARE(ids(UpdateFlowView::activeApps(records({"a", "b"}), records({"b"}), {})), QStringList{"b"});
        // During a run: library records of the map's ids, first record of a
        // repeated id only, unknown ids left out.
        QList<AppRecord> library = records({"a", "b", "c", "d", "e", "f", "g"});
        library.append(rec({}, "c", "Second C"));
        const QHash<QString, UpdateState> map = progress({{"a", UpdateState::done()},
                                                          {"b", UpdateState::queued(3, 6)},
                                                          {"c", UpdateState::quitDenied("q")},
                                                          {"d", UpdateState::running("r")},
                                                          {"e", UpdateState::failed("f")},
                                                          {"f", UpdateState::skipped("s")},
                                                          {"g", UpdateState::idle()},
                                                          {"zz", UpdateState::running("r")}});
        const QList<AppRecord> active = UpdateFlowView::activeApps(library, records({"a"}), map);
        QCOMPARE(ids(active), (QStringList{"a", "b", "c", "d", "e", "f", "g"}));
        QCOMPARE(active.at(2).app_name, QStringLiteral("c"));
        // Running, problems (quit denied with the failures, in library order),
        // queue, skipped, done, idle.
        QCOMPARE(ids(UpdateFlowView::displayOrder(active, map)), (QStringList{"d", "c", "e", "b", "f", "a", "g"}));
        for (int round = 0; round < 5; ++round) // never hash order
            QCOMPARE(ids(UpdateFlowView::displayOrder(active, QHash<QString, UpdateState>(map))),
                     (QStringList{"d", "c", "e", "b", "f", "a", "g"}));
    }

    void waitingSection()
    {
        QCOMPARE(ids(UpdateFlowView::waitingSectionApps(records({"w1", "a", "w2"}), records({"a", "b"}))),
                 (QStringList{"w1", "w2"}));
        QVERIFY(UpdateFlowView::waitingSectionApps(records({"a"}), records({"a"})).isEmpty());
        QVERIFY(UpdateFlowView::waitingSectionApps({}, records({"a"})).isEmpty());
    }

    void sortRanks()
    {
        QCOMPARE(UpdateFlowView::stateSortRank(UpdateState::running("r")), 0);
        QCOMPARE(UpdateFlowView::stateSortRank(UpdateState::failed("f")), 1);
        QCOMPARE(UpdateFlowView::stateSortRank(UpdateState::quitDenied("q")), 1);
        QCOMPARE(UpdateFlowView::stateSortRank(UpdateState::queued(1, 1)), 2);
        QCOMPARE(UpdateFlowView::stateSortRank(UpdateState::skipped("s")), 3);
        QCOMPARE(UpdateFlowView::stateSortRank(UpdateState::done()), 4);
        QCOMPARE(UpdateFlowView::stateSortRank(UpdateState::idle()), 5);
    }
};

VARNO_TEST_CLASS(TestSheetRules)
#include "tst_sheetrules.moc"
