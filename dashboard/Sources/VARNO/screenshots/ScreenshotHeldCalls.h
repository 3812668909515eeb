#pragma once

#include <QVBoxLayout>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <utility>
#include <vector>

// Engine calls that do not answer while a scene's picture is taken. A scene
// answers every one of them as it closes, while its views still stand, so
// that no call (and no coroutine of a view waiting on it) outlives it.
class ScreenshotHeldCalls {
public:
    struct Awaiter {
        ScreenshotHeldCalls *calls;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> waiting) { calls->m_waiting.push_back(waiting); }
        void await_resume() const noexcept {}
    };

    static ScreenshotHeldCalls &instance()
    {
        static ScreenshotHeldCalls calls;
        return calls;
    }

    Awaiter hold() { return Awaiter{this}; }
    // How many calls wait (a scene that shows a call under way has one).
    std::size_t waiting() const { return m_waiting.size(); }

    // Resumes every held call; a call that a resumed view makes in turn is
    // let go as well.
    void releaseAll()
    {
        while (!m_waiting.empty()) {
            const std::vector<std::coroutine_handle<>> waiting = std::exchange(m_waiting, {});
            for (const std::coroutine_handle<> call : waiting)
                call.resume();
        }
    }

private:
    std::vector<std::coroutine_handle<>> m_waiting;
};

// An engine call of a scene that does not answer while the picture is taken.
inline QCoro::Task<void> heldCall()
{
    co_await ScreenshotHeldCalls::instance().hold();
}

// A scene that fills itself with `view` and lets the held calls go as it
// closes, before the view goes.
class ScreenshotHoldingScene : public QWidget {
public:
    explicit ScreenshotHoldingScene(QWidget *view)
    {
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view);
    }
    ~ScreenshotHoldingScene() override { ScreenshotHeldCalls::instance().releaseAll(); }
};
