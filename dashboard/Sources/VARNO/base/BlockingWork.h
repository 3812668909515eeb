#pragma once

#include <QFuture>
#include <QtConcurrent>

#include <functional>
#include <type_traits>
#include <utility>

// Blocking work of an engine call (decoding a large answer, opening and
// rotating a log) runs on the thread pool and is awaited, so that no engine
// call holds up the GUI thread. Each piece of work is named for tests.
namespace BlockingWork {

// Called with the work's name on the thread that does it (tests); an empty
// function removes it.
void setObserverForTesting(std::function<void(const char *what)> observer);
void notify(const char *what);

// Starts fn(args...) on the global thread pool; co_await the future.
template<typename Fn, typename... Args>
auto start(const char *what, Fn fn, Args... args)
{
    return QtConcurrent::run([what, fn = std::move(fn), ... args = std::move(args)]() mutable {
        notify(what);
        return fn(std::move(args)...);
    });
}

} // namespace BlockingWork
