// The library model's load of 3,000 apps: the time the GUI thread spends per
// load (reading the engine's output, decoding, replacing the library,
// reconciling incidents) against decoding alone.

#include "Benchmark.h"

#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "platform/VarnoPaths.h"
#include "records/AppRecord.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <ctime>

namespace {

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QCoro::Task<void> loadOnce(AppModel *model, QEventLoop *loop)
{
    co_await model->load();
    loop->quit();
}

QCoro::Task<void> listOnce(QEventLoop *loop, int *sink)
{
    const QList<AppRecord> apps = co_await VARNOProcess::listApps(false);
    *sink += int(apps.size());
    loop->quit();
}

void modelLoad()
{
    const QByteArray json = Bench::libraryJson(3000);
    // A shell engine that prints the library: the child's own work is not
    // the GUI thread's, and thread CPU time leaves it out.
    VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
    QDir().mkpath(VarnoPaths::engineDir());
    const QString library = VarnoPaths::engineDir() + QStringLiteral("/library.json");
    QFile data(library);
    QFile script(VarnoPaths::engineScript());
    if (!data.open(QIODevice::WriteOnly) || !script.open(QIODevice::WriteOnly))
        return;
    data.write(json);
    data.close();
    // Only the list prints the library; seal requests fail quietly.
    script.write("if [ \"$3\" = list ]; then cat '" + QFile::encodeName(library) + "'; else exit 1; fi\n");
    script.close();

    AppModelServices quiet;
    quiet.detectOpenCore = [](double) { return false; };
    quiet.checkBrew = [](double) { return MechanismHealth::healthy(); };
    quiet.checkMas = [](double) { return MechanismHealth::healthy(); };
    quiet.checkSoftwareUpdate = [](double) -> QCoro::Task<MacOSUpdateStatus> { co_return MacOSUpdateStatus::upToDate(); };
    quiet.notifyUpdates = [](int, const QStringList &) {};
    quiet.revealFile = [](const QString &) {};
    quiet.openApplication = [](const QString &) {};
    AppModel model(quiet);

    int sink = 0;
    // GUI-thread CPU time of a whole load against decoding the same bytes,
    // alternating, medians of 15 rounds.
    std::vector<double> loads;
    std::vector<double> decodes;
    for (int round = 0; round < 15; ++round) {
        QEventLoop loop;
        double start = threadSeconds();
        auto task = loadOnce(&model, &loop);
        loop.exec();
        loads.push_back(threadSeconds() - start);
        start = threadSeconds();
        sink += int(AppRecord::decodeList(json)->size());
        decodes.push_back(threadSeconds() - start);
    }
    // VARNO_BENCH_DETAIL=1: the engine call alone (start, read, decode).
    if (qEnvironmentVariableIsSet("VARNO_BENCH_DETAIL")) {
        std::vector<double> calls;
        for (int round = 0; round < 15; ++round) {
            QEventLoop loop;
            const double start = threadSeconds();
            auto task = listOnce(&loop, &sink);
            loop.exec();
            calls.push_back(threadSeconds() - start);
        }
        std::sort(calls.begin(), calls.end());
        std::printf("   listApps() alone on the GUI thread: %.3f ms\n", calls[calls.size() / 2] * 1e3);
    }
    std::sort(loads.begin(), loads.end());
    std::sort(decodes.begin(), decodes.end());
    Bench::report(QStringLiteral("load() on the GUI thread vs decode alone"),
                  Bench::Pair{loads[loads.size() / 2], decodes[decodes.size() / 2]});
    sink += int(model.apps().size());
    VARNOProcess::setPython3OverrideForTesting(std::nullopt);
    if (sink == 42)
        std::printf(" ");
}

const bool registered = Bench::add("model load", modelLoad);

} // namespace
