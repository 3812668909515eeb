// How fast the update stream decodes and delivers events, and how much of the
// GUI thread it takes while doing so.
//
//   bench_updatestream [events]      (default 100000)
//
// 1. Decoder and delivery alone: the events as one byte stream, fed to the
//    reader in pipe-sized chunks.
// 2. The whole stream: a fake engine writes the events to its standard error
//    as fast as it can; the run is timed from start to end, and the GUI
//    thread's CPU time over that span gives its share.
//
// Runs in a temporary HOME; needs python3.

#include "engine/UpdateStream.h"
#include "engine/UpdateStreamReader.h"
#include "engine/VARNOError.h"
#include "platform/VarnoPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <cstdio>
#include <ctime>
#include <exception>

namespace {

double threadCpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QByteArray eventLine(int i, int total)
{
    if (i % 2 == 0)
        return "{\"event\":\"app_start\",\"bundle_id\":\"org.sim.app" + QByteArray::number(i / 2) + "\",\"index\":"
            + QByteArray::number(i / 2 + 1) + ",\"total\":" + QByteArray::number(total / 2)
            + ",\"status\":\"installing\"}\n";
    return "{\"event\":\"app_done\",\"bundle_id\":\"org.sim.app" + QByteArray::number(i / 2)
        + "\",\"success\":true,\"skipped\":false,\"new_version\":\"2.0." + QByteArray::number(i) + "\"}\n";
}

void decoderOnly(int count)
{
    QByteArray stream;
    for (int i = 0; i < count; ++i)
        stream += eventLine(i, count);
    qint64 delivered = 0;
    UpdateStreamReader reader([&](const UpdateEvent &) { ++delivered; }, nullptr);
    QElapsedTimer timer;
    timer.start();
    const qsizetype chunk = 65536;
    for (qsizetype at = 0; at < stream.size(); at += chunk)
        reader.feed(stream.mid(at, chunk));
    reader.finish();
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    std::printf("decoder and delivery: %lld events, %.1f MB in %.3f s: %.0f events/s\n",
                static_cast<long long>(delivered), double(stream.size()) / 1e6, seconds, double(delivered) / seconds);
}

struct Outcome {
    bool done = false;
    QString error;
};

QCoro::Task<void> drive(Outcome *outcome, qint64 *delivered, QEventLoop *loop)
{
    try {
        co_await UpdateStream::streamUpdate(QStringList(), [](std::shared_ptr<UpdateQueueController>) {},
                                            [delivered](const UpdateEvent &) { ++*delivered; });
    } catch (const std::exception &error) {
        outcome->error = QString::fromUtf8(error.what());
    }
    outcome->done = true;
    loop->quit();
}

int wholeStream(int count)
{
    const QString engine = QStringLiteral(
        "import os\n"
        "count = %1\n"
        "def line(i):\n"
        "    if i % 2 == 0:\n"
        "        return b'{\"event\":\"app_start\",\"bundle_id\":\"org.sim.app%d\",\"index\":%d,\"total\":%d,"
        "\"status\":\"installing\"}\\n' % (i // 2, i // 2 + 1, count // 2)\n"
        "    return b'{\"event\":\"app_done\",\"bundle_id\":\"org.sim.app%d\",\"success\":true,\"skipped\":false,"
        "\"new_version\":\"2.0.%d\"}\\n' % (i // 2, i)\n"
        "data = memoryview(b''.join(line(i) for i in range(count)))\n"
        "while data:\n"
        "    n = os.write(2, data[:65536])\n"
        "    data = data[n:]\n")
                               .arg(count);
    QDir().mkpath(VarnoPaths::engineDir());
    QFile script(VarnoPaths::engineScript());
    if (!script.open(QIODevice::WriteOnly) || script.write(engine.toUtf8()) < 0) {
        std::fprintf(stderr, "couldn't write the fake engine\n");
        return 1;
    }
    script.close();

    Outcome outcome;
    qint64 delivered = 0;
    QEventLoop loop;
    QElapsedTimer timer;
    timer.start();
    const double cpuBefore = threadCpuSeconds();
    auto task = drive(&outcome, &delivered, &loop);
    if (!outcome.done)
        loop.exec();
    const double cpu = threadCpuSeconds() - cpuBefore;
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    if (!outcome.error.isEmpty()) {
        std::fprintf(stderr, "the run failed: %s\n", qPrintable(outcome.error));
        return 1;
    }
    std::printf("whole stream: %lld events in %.3f s: %.0f events/s; GUI thread busy %.3f s (%.0f%% of the run, "
                "%.2f us per event)\n",
                static_cast<long long>(delivered), seconds, double(delivered) / seconds, cpu, 100.0 * cpu / seconds,
                1e6 * cpu / double(qMax<qint64>(delivered, 1)));
    return delivered == count ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    if (count <= 0)
        return 2;
    decoderOnly(count);
    return wholeStream(count);
}
