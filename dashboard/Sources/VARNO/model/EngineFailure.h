#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <exception>
#include <optional>
#include <utility>

// How the model reads a failed engine call: the sentence the user sees, and
// whether it was the engine's exit 75 (another update is already running).
struct EngineFailure {
    QString description;
    bool isExit75 = false;

    // Any exception an engine call may throw; never throws itself.
    static EngineFailure from(std::exception_ptr error);
};

// Awaits an engine call whose result is not needed and hands back its
// failure, if any, instead of throwing it.
template<typename Awaitable>
QCoro::Task<std::optional<EngineFailure>> attemptEngineCall(Awaitable call)
{
    std::optional<EngineFailure> failure;
    try {
        co_await std::move(call);
    } catch (...) {
        failure = EngineFailure::from(std::current_exception());
    }
    co_return failure;
}
