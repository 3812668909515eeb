#include "TestRegistry.h"
#include "TestSupport.h"

#include "base/SerialQueue.h"
#include "engine/UpdateLogWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

namespace {

QByteArray filler(qsizetype size)
{
    QByteArray bytes;
    bytes.reserve(size);
    for (qsizetype i = 0; i < size; ++i)
        bytes.append(char('a' + i % 26));
    return bytes;
}

} // namespace

class TestUpdateLogWriter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void writesTimestampedLinesInOrder()
    {
        VarnoTest::TempHome home;
        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9), Qt::UTC));
        auto writer = UpdateLogWriter::open();
        QVERIFY(writer);
        QCOMPARE(writer->path(), home.filePath(QStringLiteral("Library/Logs/VARNO/update.err")));
        writer->write(QStringLiteral("first"));
        writer->write(QStringLiteral("Traceback:\n  line two \u2014 caf\u00e9"));
        writer->flush();
        clock.advance(1s);
        writer->write(QStringLiteral("third"));
        writer->flush();
        QCOMPARE(VarnoTest::readFile(writer->path()),
                 QStringLiteral("[2026-03-01 14:05:09] first\n"
                                "[2026-03-01 14:05:09] Traceback:\n  line two \u2014 caf\u00e9\n"
                                "[2026-03-01 14:05:10] third\n")
                     .toUtf8());
    }

    void appendsToAnExistingLog()
    {
        VarnoTest::TempHome home;
        const QString path = home.filePath(QStringLiteral("logs/update.err"));
        QVERIFY(VarnoTest::writeFile(path, "old line\n"));
        auto writer = UpdateLogWriter::open(path);
        QVERIFY(writer);
        writer->write(QStringLiteral("new"));
        writer->flush();
        const QByteArray content = VarnoTest::readFile(path);
        QVERIFY(content.startsWith("old line\n["));
        QVERIFY(content.endsWith("] new\n"));
    }

    void rotatesAtOpening_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("300000 bytes") << 300000 << true;
        QTest::newRow("262145 bytes") << 262145 << true;
        QTest::newRow("exactly 262144 bytes") << 262144 << false;
        QTest::newRow("small") << 10 << false;
    }

    void rotatesAtOpening()
    {
        QFETCH(int, size);
        QFETCH(bool, rotated);
        VarnoTest::TempHome home;
        const QString path = UpdateLogWriter::defaultPath();
        const QByteArray old = filler(size);
        QVERIFY(VarnoTest::writeFile(path, old));
        auto writer = UpdateLogWriter::open();
        QVERIFY(writer);
        if (rotated) {
            QCOMPARE(QFileInfo(path).size(), 0);
            QCOMPARE(VarnoTest::readFile(path + QStringLiteral(".prev")), old.right(UpdateLogWriter::rotationSize));
        } else {
            QCOMPARE(VarnoTest::readFile(path), old);
            QVERIFY(!QFile::exists(path + QStringLiteral(".prev")));
        }
    }

    void roomAskedForRotatesEarlierAtOpening_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("room");
        QTest::addColumn<bool>("rotated");
        QTest::newRow("fits beside the room") << 100000 << 131072 << false;
        QTest::newRow("exactly fits") << int(UpdateLogWriter::rotationSize - 131072) << 131072 << false;
        QTest::newRow("one byte too many") << int(UpdateLogWriter::rotationSize - 131072 + 1) << 131072 << true;
        QTest::newRow("all the room, a small log") << 10 << int(UpdateLogWriter::rotationSize) << true;
        QTest::newRow("all the room, an empty log") << 0 << int(UpdateLogWriter::rotationSize) << false;
    }

    void roomAskedForRotatesEarlierAtOpening()
    {
        // A writer that keeps within its room cannot push what the log held
        // out of .prev: the earlier text moves there whole, first.
        QFETCH(int, size);
        QFETCH(int, room);
        QFETCH(bool, rotated);
        VarnoTest::TempHome home;
        const QString path = UpdateLogWriter::defaultPath();
        QVERIFY(VarnoTest::writeFile(path + QStringLiteral(".prev"), "an older generation"));
        const QByteArray old = filler(size);
        QVERIFY(VarnoTest::writeFile(path, old));
        auto writer = UpdateLogWriter::open(path, room);
        QVERIFY(writer);
        if (rotated) {
            QCOMPARE(QFileInfo(path).size(), 0);
            QCOMPARE(VarnoTest::readFile(path + QStringLiteral(".prev")), old);
        } else {
            QCOMPARE(VarnoTest::readFile(path), old);
            QCOMPARE(VarnoTest::readFile(path + QStringLiteral(".prev")), QByteArray("an older generation"));
        }
    }

    void theWriteThatCrossesTheLimitEndsUpInPrev()
    {
        VarnoTest::TempHome home;
        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9), Qt::UTC));
        const QString path = UpdateLogWriter::defaultPath();
        QVERIFY(VarnoTest::writeFile(path + QStringLiteral(".prev"), "an older generation"));
        QVERIFY(VarnoTest::writeFile(path, filler(UpdateLogWriter::rotationSize)));
        auto writer = UpdateLogWriter::open();
        QVERIFY(writer);
        writer->write(QStringLiteral("the last straw"));
        writer->flush();
        QCOMPARE(QFileInfo(path).size(), 0);
        const QByteArray previous = VarnoTest::readFile(path + QStringLiteral(".prev"));
        QCOMPARE(previous.size(), UpdateLogWriter::rotationSize);
        QVERIFY(previous.endsWith("[2026-03-01 14:05:09] the last straw\n"));

        writer->write(QStringLiteral("after"));
        writer->flush();
        QCOMPARE(VarnoTest::readFile(path), QByteArray("[2026-03-01 14:05:09] after\n"));
    }

    void keepsTheLogWhenThePrevCopyFails()
    {
        // A folder in the way of update.err.prev: the copy cannot be written,
        // so nothing may be thrown away.
        VarnoTest::TempHome home;
        const QString path = UpdateLogWriter::defaultPath();
        QVERIFY(QDir().mkpath(path + QStringLiteral(".prev")));
        const QByteArray old = filler(300000);
        QVERIFY(VarnoTest::writeFile(path, old));
        auto writer = UpdateLogWriter::open();
        QVERIFY(writer);
        QCOMPARE(QFileInfo(path).size(), 300000);
        writer->write(QStringLiteral("still here"));
        writer->flush();
        const QByteArray content = VarnoTest::readFile(path);
        QVERIFY(content.startsWith(old));
        QVERIFY(content.endsWith("] still here\n"));
    }

    void noWriterWhenTheLogCannotBeOpened_data()
    {
        QTest::addColumn<QString>("blocker");   // made a file
        QTest::addColumn<QString>("directory"); // made a folder
        QTest::addColumn<QString>("logPath");
        QTest::newRow("folder is a file") << QStringLiteral("logs") << QString() << QStringLiteral("logs/update.err");
        QTest::newRow("log is a folder") << QString() << QStringLiteral("logs/update.err")
                                         << QStringLiteral("logs/update.err");
    }

    void noWriterWhenTheLogCannotBeOpened()
    {
        QFETCH(QString, blocker);
        QFETCH(QString, directory);
        QFETCH(QString, logPath);
        VarnoTest::TempHome home;
        if (!blocker.isEmpty())
            QVERIFY(VarnoTest::writeFile(home.filePath(blocker), "x"));
        if (!directory.isEmpty())
            home.mkpath(directory);
        QVERIFY(!UpdateLogWriter::open(home.filePath(logPath)));
    }

    void queuedWritesSurviveTheWriter()
    {
        VarnoTest::TempHome home;
        const QString path = UpdateLogWriter::defaultPath();
        {
            auto writer = UpdateLogWriter::open();
            QVERIFY(writer);
            for (int i = 0; i < 500; ++i)
                writer->write(QStringLiteral("entry %1").arg(i));
        }
        SerialQueue::waitForAll();
        const QList<QByteArray> lines = VarnoTest::readFile(path).split('\n');
        QCOMPARE(lines.size(), 501); // and the empty rest after the last line feed
        for (int i = 0; i < 500; ++i)
            QVERIFY2(lines.at(i).endsWith(" entry " + QByteArray::number(i)), lines.at(i).constData());
    }

    void aFloodIsBoundedAndCounted()
    {
        // A disk that cannot keep up: what waits stays under the cap, the
        // rest is counted in one line after what was kept.
        VarnoTest::TempHome home;
        VarnoTest::FixedClock clock(QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9), Qt::UTC));
        const QString path = home.filePath(QStringLiteral("logs/update.err"));
        auto writer = UpdateLogWriter::open(path);
        QVERIFY(writer);
        const std::function<void()> release = writer->holdWritesForTesting();
        const QString entry(1000, QLatin1Char('z'));
        const int total = 3000;
        for (int i = 0; i < total; ++i)
            writer->write(entry);
        release();
        writer->flush();
        // One batch, far past the rotation size: its newest part is in .prev,
        // ending with the count.
        const int kept = int(UpdateLogWriter::pendingCap / entry.size());
        const QByteArray previous = VarnoTest::readFile(path + QStringLiteral(".prev"));
        QVERIFY(previous.endsWith(
            "] " + entry.toUtf8() + "\n"
            + QStringLiteral("[2026-03-01 14:05:09] [\u2026 %1 line(s) dropped \u2026]\n").arg(total - kept).toUtf8()));

        // Once drained, the queue takes entries again.
        writer->write(QStringLiteral("after the flood"));
        writer->flush();
        QVERIFY(VarnoTest::readFile(path).endsWith("] after the flood\n"));
    }

    void writesFromManyThreadsAllLand()
    {
        VarnoTest::TempHome home;
        auto writer = UpdateLogWriter::open();
        QVERIFY(writer);
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&writer, t] {
                for (int i = 0; i < 100; ++i)
                    writer->write(QStringLiteral("t%1 %2").arg(t).arg(i));
            });
        }
        for (auto &thread : threads)
            thread.join();
        writer->flush();
        QCOMPARE(VarnoTest::readFile(writer->path()).count('\n'), 400);
    }
};

class TestSerialQueue : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runsInOrderOffTheCallingThread()
    {
        SerialQueue queue(QStringLiteral("test"));
        QList<int> seen;
        std::atomic<bool> onCaller{false};
        const auto caller = std::this_thread::get_id();
        for (int i = 0; i < 200; ++i)
            queue.async([&, i] {
                if (std::this_thread::get_id() == caller)
                    onCaller = true;
                seen.append(i);
            });
        queue.sync();
        QCOMPARE(seen.size(), 200);
        for (int i = 0; i < 200; ++i)
            QCOMPARE(seen.at(i), i);
        QVERIFY(!onCaller);
    }

    void syncFromInsideTheQueueDoesNotDeadlock()
    {
        SerialQueue queue(QStringLiteral("test"));
        std::atomic<bool> returned{false};
        queue.async([&] {
            QVERIFY(queue.isCurrent());
            queue.sync();
            returned = true;
        });
        queue.sync();
        QVERIFY(returned);
        QVERIFY(!queue.isCurrent());
    }
};

VARNO_TEST_CLASS(TestUpdateLogWriter)
VARNO_TEST_CLASS(TestSerialQueue)
#include "tst_updatelog.moc"
