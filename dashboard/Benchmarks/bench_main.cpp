// Prints how the engine bridge's own work compares with the bare Qt work it
// wraps. Runs in a temporary HOME; never touches the real one.
#include "Benchmark.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace Bench {

namespace {

std::vector<std::pair<const char *, Function>> &registry()
{
    static std::vector<std::pair<const char *, Function>> functions;
    return functions;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

bool add(const char *name, Function function)
{
    registry().emplace_back(name, std::move(function));
    return true;
}

Pair compare(int rounds, const std::function<void()> &candidate, const std::function<void()> &baseline)
{
    // One warm-up each.
    candidate();
    baseline();
    std::vector<double> a;
    std::vector<double> b;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        timer.start();
        candidate();
        a.push_back(timer.nsecsElapsed() / 1e9);
        timer.start();
        baseline();
        b.push_back(timer.nsecsElapsed() / 1e9);
    }
    // The median of each: robust against a busy machine's outliers. With
    // VARNO_BENCH_MIN=1 the fastest rounds are compared instead.
    if (qEnvironmentVariableIsSet("VARNO_BENCH_MIN"))
        return Pair{*std::min_element(a.begin(), a.end()), *std::min_element(b.begin(), b.end())};
    return Pair{median(a), median(b)};
}

void report(const QString &name, const Pair &pair)
{
    std::printf("%-44s %10.3f ms %10.3f ms   ratio %.3f\n", qPrintable(name), pair.candidate * 1e3, pair.baseline * 1e3,
                pair.ratio());
    std::fflush(stdout);
}

} // namespace Bench

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    std::printf("%-44s %13s %13s\n", "benchmark (median)", "ours", "baseline");
    // VARNO_BENCH_ONLY=<text> runs only the benchmarks whose name contains it.
    const QString only = qEnvironmentVariable("VARNO_BENCH_ONLY");
    for (const auto &[name, function] : Bench::registry()) {
        if (!only.isEmpty() && !QString::fromLatin1(name).contains(only))
            continue;
        std::printf("-- %s\n", name);
        function();
    }
    return 0;
}
