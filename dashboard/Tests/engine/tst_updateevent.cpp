#include "TestRegistry.h"
#include "TestSupport.h"

#include "engine/UpdateEvent.h"
#include "engine/UpdateStreamReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

namespace {

using E = UpdateEvent;

std::optional<UpdateEvent> decodeText(const QByteArray &json)
{
    return UpdateEvent::decode(QJsonDocument::fromJson(json).object());
}

E::QueuedApp app(const QString &id, const QString &name, std::optional<QString> current = std::nullopt,
                 std::optional<QString> latest = std::nullopt, std::optional<QString> mechanism = std::nullopt)
{
    return E::QueuedApp{id, name, current, latest, mechanism};
}

// Collects what a reader hands out, in order.
struct Recorder {
    QStringList items; // "E:<event>" or "T:<text>"
    UpdateStreamReader reader{[this](const UpdateEvent &e) { items << QStringLiteral("E:") + e.debugText(); },
                              [this](const QString &t) { items << QStringLiteral("T:") + t; }};
};

} // namespace

class TestUpdateEventDecoding : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodes_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<bool>("isEvent");
        QTest::addColumn<UpdateEvent>("expected");

        QTest::newRow("queue_start full")
            << QByteArray("{\"event\":\"queue_start\",\"count\":2,\"apps\":[{\"bundle_id\":\"a\",\"app_name\":\"A\","
                          "\"current_version\":\"1.2\",\"latest_version\":\"1.10\",\"update_mechanism\":\"cask\"},"
                          "{\"bundle_id\":\"b\",\"app_name\":\"B\",\"current_version\":3}]}")
            << true << E(E::QueueStart{2, {app("a", "A", "1.2", "1.10", "cask"), app("b", "B")}});
        QTest::newRow("queue_start entry without app_name left out")
            << QByteArray("{\"event\":\"queue_start\",\"count\":2,\"apps\":[{\"bundle_id\":\"a\"},"
                          "{\"bundle_id\":\"b\",\"app_name\":\"B\"}]}")
            << true << E(E::QueueStart{2, {app("b", "B")}});
        QTest::newRow("queue_start non-object element empties the list")
            << QByteArray("{\"event\":\"queue_start\",\"count\":2,\"apps\":[{\"bundle_id\":\"a\",\"app_name\":\"A\"},7]}")
            << true << E(E::QueueStart{2, {}});
        QTest::newRow("queue_start defaults")
            << QByteArray("{\"event\":\"queue_start\",\"count\":\"2\",\"apps\":{}}") << true << E(E::QueueStart{0, {}});
        QTest::newRow("app_start only bundle_id") << QByteArray("{\"event\":\"app_start\",\"bundle_id\":\"x\"}") << true
                                                  << E(E::AppStart{"x", 0, 0, "fetching"});
        QTest::newRow("app_start full") << QByteArray(
            "{\"event\":\"app_start\",\"bundle_id\":\"x\",\"index\":2,\"total\":5,\"status\":\"verifying\"}")
                                        << true << E(E::AppStart{"x", 2, 5, "verifying"});
        QTest::newRow("app_start fraction and wrong types are absent")
            << QByteArray("{\"event\":\"app_start\",\"bundle_id\":\"x\",\"index\":1.5,\"total\":true,\"status\":null}")
            << true << E(E::AppStart{"x", 0, 0, "fetching"});
        QTest::newRow("app_start integral double")
            << QByteArray("{\"event\":\"app_start\",\"bundle_id\":\"x\",\"index\":3.0}") << true
            << E(E::AppStart{"x", 3, 0, "fetching"});
        QTest::newRow("app_start without bundle_id")
            << QByteArray("{\"event\":\"app_start\",\"index\":1}") << false << E();
        QTest::newRow("app_start numeric bundle_id")
            << QByteArray("{\"event\":\"app_start\",\"bundle_id\":5}") << false << E();
        QTest::newRow("app_done error null falls back to reason")
            << QByteArray("{\"event\":\"app_done\",\"bundle_id\":\"x\",\"error\":null,\"reason\":\"busy\","
                          "\"reason_code\":\"APP_RUNNING\"}")
            << true << E(E::AppDone{"x", false, "busy", std::nullopt, false, "APP_RUNNING"});
        QTest::newRow("app_done error wins over reason")
            << QByteArray("{\"event\":\"app_done\",\"bundle_id\":\"x\",\"success\":false,\"skipped\":true,"
                          "\"error\":\"e\",\"reason\":\"r\",\"error_code\":\"C\",\"reason_code\":\"R\"}")
            << true << E(E::AppDone{"x", false, "e", std::nullopt, true, "C"});
        QTest::newRow("app_done success")
            << QByteArray("{\"event\":\"app_done\",\"bundle_id\":\"x\",\"success\":true,\"new_version\":\"1.10\"}")
            << true << E(E::AppDone{"x", true, std::nullopt, "1.10", false, std::nullopt});
        QTest::newRow("app_done number is not a Boolean")
            << QByteArray("{\"event\":\"app_done\",\"bundle_id\":\"x\",\"success\":1}") << true
            << E(E::AppDone{"x", false, std::nullopt, std::nullopt, false, std::nullopt});
        QTest::newRow("queue_done") << QByteArray("{\"event\":\"queue_done\",\"updated\":1,\"failed\":2,\"skipped\":3,"
                                                  "\"reason\":\"aborted\"}")
                                    << true << E(E::QueueDone{1, 2, 3, "aborted"});
        QTest::newRow("queue_done defaults")
            << QByteArray("{\"event\":\"queue_done\"}") << true << E(E::QueueDone{0, 0, 0, std::nullopt});
        QTest::newRow("queue_paused with extra members")
            << QByteArray("{\"event\":\"queue_paused\",\"x\":[1]}") << true << E(E::QueuePaused{});
        QTest::newRow("queue_resumed") << QByteArray("{\"event\":\"queue_resumed\"}") << true << E(E::QueueResumed{});
        QTest::newRow("case variant is no event") << QByteArray("{\"event\":\"Queue_Paused\"}") << false << E();
        QTest::newRow("unknown name") << QByteArray("{\"event\":\"app_progress\",\"bundle_id\":\"x\"}") << false << E();
        QTest::newRow("event not a string") << QByteArray("{\"event\":1}") << false << E();
        QTest::newRow("empty object") << QByteArray("{}") << false << E();
    }

    void decodes()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, isEvent);
        QFETCH(UpdateEvent, expected);
        const auto decoded = decodeText(json);
        QCOMPARE(decoded.has_value(), isEvent);
        if (isEvent)
            QCOMPARE(decoded->debugText(), expected.debugText());
        if (isEvent)
            QVERIFY(*decoded == expected);
    }
};

class TestUpdateStreamReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void splitsEventsFromFreeText()
    {
        Recorder r;
        r.reader.feed("{\"event\":\"queue_paused\"}\nplain warning\n\n[1,2]\n{\"event\":\"QUEUE_PAUSED\"}\n");
        r.reader.feed("{\"event\":\"app_start\"}\n{not json\n  {\"event\":\"queue_resumed\"}\n");
        QCOMPARE(r.items,
                 (QStringList{QStringLiteral("E:queuePaused"), QStringLiteral("T:plain warning"),
                              QStringLiteral("T:[1,2]"), QStringLiteral("T:{\"event\":\"QUEUE_PAUSED\"}"),
                              QStringLiteral("T:{\"event\":\"app_start\"}"), QStringLiteral("T:{not json"),
                              QStringLiteral("E:queueResumed")}));
        QCOMPARE(r.reader.finish().size(), 5);
    }

    void characterSplitAcrossReadsIsKept()
    {
        // "é" is C3 A9 and "…" is E2 80 A6; each read ends inside one of them.
        Recorder r;
        const QByteArray line = "{\"event\":\"app_start\",\"bundle_id\":\"caf\xC3\xA9\",\"status\":\"w\xE2\x80\xA6\"}\n"
                                "d\xC3\xA9j\xC3\xA0 vu\n";
        const qsizetype firstCut = line.indexOf("\xC3\xA9") + 1;
        const qsizetype secondCut = line.indexOf("\xE2\x80\xA6") + 2;
        r.reader.feed(line.left(firstCut));
        r.reader.feed(line.mid(firstCut, secondCut - firstCut));
        r.reader.feed(line.mid(secondCut));
        QCOMPARE(r.items,
                 (QStringList{QStringLiteral("E:appStart(caf\u00e9, 0/0, \"w\u2026\")"),
                              QStringLiteral("T:d\u00e9j\u00e0 vu")}));
    }

    void byteByByteEqualsWhole()
    {
        const QByteArray stream = "{\"event\":\"queue_start\",\"apps\":[{\"bundle_id\":\"a\",\"app_name\":\"\xC3\x85sa\"}]}\n"
                                  "note \xF0\x9F\x94\xA7 fixed\n{\"event\":\"queue_done\",\"updated\":1}\n";
        Recorder whole;
        whole.reader.feed(stream);
        Recorder bytes;
        for (char c : stream)
            bytes.reader.feed(QByteArray(1, c));
        QCOMPARE(bytes.items, whole.items);
        QCOMPARE(whole.items.size(), 3);
    }

    void manyLinesInOneReadAreAllDelivered()
    {
        // Far more than the pending cap in one read: no event may be lost.
        QByteArray burst;
        for (int i = 0; i < 5000; ++i)
            burst += "{\"event\":\"app_start\",\"bundle_id\":\"org.sim.app" + QByteArray::number(i) + "\"}\n";
        QVERIFY(burst.size() > 3 * UpdateStreamReader::pendingCap);
        int events = 0;
        QString last;
        UpdateStreamReader reader(
            [&](const UpdateEvent &e) {
                ++events;
                last = e.as<UpdateEvent::AppStart>()->bundleId;
            },
            nullptr);
        reader.feed(burst);
        QCOMPARE(events, 5000);
        QCOMPARE(last, QStringLiteral("org.sim.app4999"));
    }

    void overlongLineKeepsItsEndAtACharacter_data()
    {
        QTest::addColumn<QList<qsizetype>>("cuts"); // where the reads end
        QTest::newRow("one read") << QList<qsizetype>{};
        QTest::newRow("reads ending inside characters") << QList<qsizetype>{99999, 120001};
    }

    void overlongLineKeepsItsEndAtACharacter()
    {
        QFETCH(QList<qsizetype>, cuts);
        // 70000 two-byte characters, then the line's end and an event.
        QByteArray stream;
        for (int i = 0; i < 70000; ++i)
            stream += "\xC3\xA9";
        stream += "END\n{\"event\":\"queue_paused\"}\n";
        Recorder r;
        qsizetype from = 0;
        for (qsizetype cut : cuts) {
            r.reader.feed(stream.mid(from, cut - from));
            from = cut;
        }
        r.reader.feed(stream.mid(from));
        QCOMPARE(r.items.size(), 2);
        const QString kept = r.items.at(0).mid(2);
        QVERIFY(kept.endsWith(QStringLiteral("\u00e9END")));
        QVERIFY(!kept.contains(QChar(QChar::ReplacementCharacter)));
        QVERIFY(kept.toUtf8().size() <= UpdateStreamReader::pendingCap);
        QVERIFY(kept.toUtf8().size() >= UpdateStreamReader::pendingCap - 3);
        QCOMPARE(r.items.at(1), QStringLiteral("E:queuePaused"));
    }

    void overlongLineReadsTheSameWhateverTheSplit_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("items");
        const qsizetype over = UpdateStreamReader::pendingCap + 4465;
        const QByteArray next = "\n{\"event\":\"queue_paused\"}\n";
        // Only continuation bytes: nothing of the line is left at a character.
        QTest::newRow("continuation bytes only")
            << QByteArray(over, '\x80') + next << QStringList{QStringLiteral("E:queuePaused")};
        QTest::newRow("continuation bytes, then one letter") << QByteArray(over, '\x80') + "z"
                + next << QStringList{QStringLiteral("T:z"), QStringLiteral("E:queuePaused")};
        QTest::newRow("letters") << QByteArray(over, 'x') + next
                                 << QStringList{QStringLiteral("T:")
                                                    + QString(UpdateStreamReader::pendingCap, QLatin1Char('x')),
                                                QStringLiteral("E:queuePaused")};
    }

    void overlongLineReadsTheSameWhateverTheSplit()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, items);
        // Whole, in reads of 4096 bytes, and with the line feed in a read of its own.
        const qsizetype lineFeed = stream.indexOf('\n');
        const QList<QList<qsizetype>> splits{{}, {lineFeed}, {lineFeed - 1, lineFeed}};
        QList<qsizetype> pages;
        for (qsizetype at = 4096; at < stream.size(); at += 4096)
            pages << at;
        for (QList<qsizetype> cuts : splits + QList<QList<qsizetype>>{pages}) {
            Recorder r;
            qsizetype from = 0;
            for (qsizetype cut : cuts) {
                r.reader.feed(stream.mid(from, cut - from));
                from = cut;
            }
            r.reader.feed(stream.mid(from));
            r.reader.finish();
            QCOMPARE(r.items, items);
        }
    }

    void finalLineWithoutLineFeedIsFreeText()
    {
        Recorder r;
        r.reader.feed("{\"event\":\"queue_paused\"}\n  {\"event\":\"queue_resumed\"}  \n\n");
        r.reader.feed("{\"event\":\"queue_done\"}");
        const QStringList tail = r.reader.finish();
        QCOMPARE(r.items,
                 (QStringList{QStringLiteral("E:queuePaused"), QStringLiteral("E:queueResumed"),
                              QStringLiteral("T:{\"event\":\"queue_done\"}")}));
        QCOMPARE(tail, QStringList{QStringLiteral("{\"event\":\"queue_done\"}")});
    }

    void invalidUtf8LineIsFreeTextNeverAnEvent()
    {
        Recorder r;
        r.reader.feed("{\"event\":\"app_start\",\"bundle_id\":\"\xFF\"}\nbad \xC3( byte\n{\"event\":\"queue_paused\"}\n");
        QCOMPARE(r.items.size(), 3);
        QVERIFY(r.items.at(0).startsWith(QStringLiteral("T:{\"event\":\"app_start\"")));
        QVERIFY(r.items.at(1).startsWith(QStringLiteral("T:bad ")));
        QCOMPARE(r.items.at(2), QStringLiteral("E:queuePaused"));
    }

    void tailKeepsTheLastLinesAndCountsTheRest_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<QString>("first");
        QTest::addColumn<int>("size");
        QTest::newRow("under the limit") << 3 << QStringLiteral("line 1") << 3;
        QTest::newRow("exactly the limit") << 200 << QStringLiteral("line 1") << 200;
        QTest::newRow("one over") << 201 << QStringLiteral("[\u2026 1 earlier line(s) dropped \u2026]") << 201;
        QTest::newRow("250") << 250 << QStringLiteral("[\u2026 50 earlier line(s) dropped \u2026]") << 201;
    }

    void tailKeepsTheLastLinesAndCountsTheRest()
    {
        QFETCH(int, lines);
        QFETCH(QString, first);
        QFETCH(int, size);
        UpdateStreamReader reader(nullptr, nullptr);
        for (int i = 1; i <= lines; ++i)
            reader.feed(QStringLiteral("line %1\n").arg(i).toUtf8());
        const QStringList tail = reader.finish();
        QCOMPARE(tail.size(), size);
        QCOMPARE(tail.first(), first);
        QCOMPARE(tail.last(), QStringLiteral("line %1").arg(lines));
    }

    void reentrantFeedKeepsOrder()
    {
        // A delivery that spins an event loop may let more bytes arrive; they
        // must wait until the current line is handled.
        QStringList order;
        UpdateStreamReader *self = nullptr;
        bool fedInside = false;
        UpdateStreamReader reader(
            [&](const UpdateEvent &e) {
                order << e.debugText();
                if (!fedInside) {
                    fedInside = true;
                    self->feed("{\"event\":\"queue_resumed\"}\n");
                    order << QStringLiteral("delivery returns");
                }
            },
            [&](const QString &t) { order << t; });
        self = &reader;
        reader.feed("{\"event\":\"queue_paused\"}\nafter\n");
        QCOMPARE(order,
                 (QStringList{QStringLiteral("queuePaused"), QStringLiteral("delivery returns"),
                              QStringLiteral("after"), QStringLiteral("queueResumed")}));
    }
};

VARNO_TEST_CLASS(TestUpdateEventDecoding)
VARNO_TEST_CLASS(TestUpdateStreamReader)
#include "tst_updateevent.moc"
