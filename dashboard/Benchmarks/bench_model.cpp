// The library model's load of 3,000 apps: the time the GUI thread spends per
// load (reading the engine's output, decoding, replacing the library,
// reconciling incidents) against decoding alone.

#include "Benchmark.h"

#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "platform/VarnoPaths.h"
#include "records/AppRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <stdexcept>
#include <vector>

namespace {

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The seal requests a load starts are measured apart: here they fail at once,
// without a child.
QCoro::Task<TrustSealRecord> noSeal(QString)
{
    throw std::runtime_error("seals are measured apart");
    co_return TrustSealRecord();
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
    // Two editions of the library, loaded in turn: a library equal to the one
    // applied is not applied again, so each load applies one.
    const QByteArray json = Bench::libraryJson(3000);
    QByteArray edition = json;
    edition.replace("Benchmark Application", "Benchmark Applications");
    const QByteArray editions[] = {json, edition};
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

    AppModelServices quiet = AppModelServices::quiet();
    quiet.openApplication = [](const QString &) {};
    AppModelServices sealed = quiet;
    quiet.trustSeal = noSeal;
    AppModel model(quiet);

    int sink = 0;
    // GUI-thread CPU time of a whole load against decoding the same bytes,
    // alternating, medians of 15 rounds.
    std::vector<double> loads;
    std::vector<double> decodes;
    for (int round = 0; round < 15; ++round) {
        const QByteArray &bytes = editions[round % 2];
        if (data.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            data.write(bytes);
            data.close();
        }
        QEventLoop loop;
        double start = threadSeconds();
        auto task = loadOnce(&model, &loop);
        loop.exec();
        loads.push_back(threadSeconds() - start);
        start = threadSeconds();
        sink += int(AppRecord::decodeList(bytes)->size());
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
    std::printf("   ours: load() (engine call, decode, apply, incidents, probes started), GUI-thread CPU;\n"
                "   baseline: AppRecord::decodeList of the same bytes; seal requests fail without a child\n");
    Bench::report(QStringLiteral("load() on the GUI thread vs decode alone"),
                  Bench::Pair{loads[loads.size() / 2], decodes[decodes.size() / 2]});
    // The seal pass apart: its children (the engine's seal command, here a
    // shell that fails) started and read on the GUI thread.
    {
        AppModel withSeals(sealed);
        withSeals.setApps(*AppRecord::decodeList(json));
        std::vector<double> passes;
        for (int round = 0; round < 5; ++round) {
            const double start = threadSeconds();
            withSeals.enrichEligibleSeals();
            while (withSeals.isEnrichingSeals())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            passes.push_back(threadSeconds() - start);
        }
        std::sort(passes.begin(), passes.end());
        std::printf("   a seal pass apart (%d children, %d at a time): %.3f ms of GUI-thread CPU (median of 5)\n",
                    int(AppModel::eligibleSealCandidates(withSeals.apps(), AppModel::sealCandidateLimit).size()),
                    AppModel::sealConcurrency, passes[passes.size() / 2] * 1e3);
    }
    sink += int(model.apps().size());
    VARNOProcess::setPython3OverrideForTesting(std::nullopt);
    if (sink == 42)
        std::printf(" ");
}

const bool modelBenchmarksRegistered = Bench::add("model load", modelLoad);

} // namespace
