#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace Bench {

// Runs each function `rounds` times, alternating between them so that drift
// of the machine affects both alike, and returns the median seconds of each.
struct Pair {
    double candidate = 0;
    double baseline = 0;
    double ratio() const { return baseline > 0 ? candidate / baseline : 0; }
};
Pair compare(int rounds, const std::function<void()> &candidate, const std::function<void()> &baseline);

void report(const QString &name, const Pair &pair);

// The `list --json --all` output of a library of `count` varied apps.
QByteArray libraryJson(int count);

// Each benchmark registers itself; main runs them all in order.
using Function = std::function<void()>;
bool add(const char *name, Function function);

} // namespace Bench
