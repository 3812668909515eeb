// How fast the update stream decodes and delivers events, and how much of the
// GUI thread it takes while doing so, each against the plain Qt way of doing
// the same work (medians of alternating rounds).
//
//   varno_updatestream_benchmark [events]      (default 100000)
//
// 1. Decoder and delivery: the events as one byte stream, fed in pipe-sized
//    chunks to the stream's reader (line splitting, UTF-8 check, JSON,
//    UpdateEvent), against splitting the same bytes at line feeds and
//    decoding each line with QJsonDocument and UpdateEvent::decode.
// 2. The whole stream: a fake engine writes the events to its standard error
//    as fast as it can; the GUI thread's CPU time over the run through
//    UpdateStream::streamUpdate, against a bare QProcess running the same
//    engine whose standard error is split and decoded as in the baseline of 1.
//
// Runs in a temporary HOME; needs python3.

#include "engine/UpdateStream.h"
#include "engine/UpdateStreamReader.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "platform/VarnoPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <qcoro/qcorotask.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <exception>
#include <vector>

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

QByteArray eventLine(int i, int total)
{
    if (i % 2 == 0)
        return "{\"event\":\"app_start\",\"bundle_id\":\"org.sim.app" + QByteArray::number(i / 2)
            + "\",\"index\":" + QByteArray::number(i / 2 + 1) + ",\"total\":" + QByteArray::number(total / 2)
            + ",\"status\":\"installing\"}\n";
    return "{\"event\":\"app_done\",\"bundle_id\":\"org.sim.app" + QByteArray::number(i / 2)
        + "\",\"success\":true,\"skipped\":false,\"new_version\":\"2.0." + QByteArray::number(i) + "\"}\n";
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void printFigure(const char *name, double ours, double baseline, const char *unit)
{
    std::printf("%-44s %10.3f %s %10.3f %s   ratio %.3f\n", name, ours, unit, baseline, unit,
                baseline > 0 ? ours / baseline : 0.0);
    std::fflush(stdout);
}

// The plain way to the same events: split at line feeds, parse each line.
qint64 decodeLines(const QByteArray &bytes, QByteArray *rest)
{
    qint64 events = 0;
    QByteArray data = *rest + bytes;
    qsizetype from = 0;
    while (true) {
        const qsizetype end = data.indexOf('\n', from);
        if (end < 0)
            break;
        const QByteArray line = data.sliced(from, end - from);
        from = end + 1;
        const QJsonDocument document = QJsonDocument::fromJson(line);
        if (document.isObject() && UpdateEvent::decode(document.object()))
            ++events;
    }
    *rest = data.sliced(from);
    return events;
}

void decoderOnly(int count)
{
    QByteArray stream;
    for (int i = 0; i < count; ++i)
        stream += eventLine(i, count);
    const qsizetype chunk = 65536;
    std::vector<double> ours;
    std::vector<double> plain;
    qint64 delivered = 0;
    qint64 decoded = 0;
    for (int round = 0; round < 7; ++round) {
        delivered = 0;
        double start = threadCpuSeconds();
        UpdateStreamReader reader([&](const UpdateEvent &) { ++delivered; }, nullptr);
        for (qsizetype at = 0; at < stream.size(); at += chunk)
            reader.feed(stream.mid(at, chunk));
        reader.finish();
        ours.push_back(threadCpuSeconds() - start);

        decoded = 0;
        start = threadCpuSeconds();
        QByteArray rest;
        for (qsizetype at = 0; at < stream.size(); at += chunk)
            decoded += decodeLines(stream.mid(at, chunk), &rest);
        plain.push_back(threadCpuSeconds() - start);
    }
    std::printf("-- update stream: %lld events (%.1f MB) in 64 KiB chunks, thread CPU time, median of 7\n"
                "   ours: UpdateStreamReader (lines, UTF-8 check, JSON, UpdateEvent, delivery);\n"
                "   baseline: split at line feeds, QJsonDocument::fromJson + UpdateEvent::decode per line"
                " (%lld events)\n",
                static_cast<long long>(delivered), double(stream.size()) / 1e6, static_cast<long long>(decoded));
    const double a = median(ours);
    const double b = median(plain);
    printFigure("decoder and delivery", a * 1e3, b * 1e3, "ms");
    std::printf("   %.0f events/s (ours), %.0f events/s (baseline)\n", double(delivered) / a, double(decoded) / b);
}

struct Outcome {
    bool done = false;
    QString error;
};

QCoro::Task<void> drive(Outcome *outcome, qint64 *delivered, QEventLoop *loop)
{
    try {
        co_await UpdateStream::streamUpdate(
            QStringList(), [](std::shared_ptr<UpdateQueueController>) {},
            [delivered](const UpdateEvent &) { ++*delivered; });
    } catch (const std::exception &error) {
        outcome->error = QString::fromUtf8(error.what());
    }
    outcome->done = true;
    loop->quit();
}

bool writeEngine(int count)
{
    const QString engine =
        QStringLiteral(
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
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate) || script.write(engine.toUtf8()) < 0)
        return false;
    return true;
}

// One run through the app's stream; the GUI thread's CPU seconds, or -1.
double oursOnce(int count)
{
    Outcome outcome;
    qint64 delivered = 0;
    QEventLoop loop;
    const double cpuBefore = threadCpuSeconds();
    auto task = drive(&outcome, &delivered, &loop);
    if (!outcome.done)
        loop.exec();
    const double cpu = threadCpuSeconds() - cpuBefore;
    if (!outcome.error.isEmpty()) {
        std::fprintf(stderr, "the run failed: %s\n", qPrintable(outcome.error));
        return -1;
    }
    return delivered == count ? cpu : -1;
}

// The same engine through a bare QProcess, its standard error decoded the
// plain way; the GUI thread's CPU seconds, or -1.
double bareOnce(int count)
{
    QProcess process;
    process.setProgram(VARNOProcess::python3());
    process.setArguments(QStringList{VarnoPaths::engineScript()} + UpdateStream::arguments(QStringList()));
    process.setWorkingDirectory(VarnoPaths::engineDir());
    qint64 events = 0;
    QByteArray rest;
    QObject::connect(&process, &QProcess::readyReadStandardError, &process,
                     [&] { events += decodeLines(process.readAllStandardError(), &rest); });
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    const double cpuBefore = threadCpuSeconds();
    process.start();
    loop.exec();
    events += decodeLines(process.readAllStandardError(), &rest);
    const double cpu = threadCpuSeconds() - cpuBefore;
    return events == count ? cpu : -1;
}

int wholeStream(int count)
{
    if (!writeEngine(count)) {
        std::fprintf(stderr, "couldn't write the fake engine\n");
        return 1;
    }
    std::vector<double> ours;
    std::vector<double> bare;
    for (int round = 0; round < 5; ++round) {
        const double a = oursOnce(count);
        const double b = bareOnce(count);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a run lost events\n");
            return 1;
        }
        ours.push_back(a);
        bare.push_back(b);
    }
    const double a = median(ours);
    const double b = median(bare);
    std::printf("-- whole stream from a fake engine writing %d events, GUI-thread CPU time, median of 5\n"
                "   ours: UpdateStream::streamUpdate (runner, reader, delivery);\n"
                "   baseline: bare QProcess, standard error split and decoded as above\n",
                count);
    printFigure("GUI thread over the whole stream", a * 1e3, b * 1e3, "ms");
    std::printf("   %.2f us per event (ours)\n", 1e6 * a / double(count));
    return 0;
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
