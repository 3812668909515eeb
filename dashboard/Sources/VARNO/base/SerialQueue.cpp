#include "base/SerialQueue.h"

#include "base/Async.h"
#include "base/Logging.h"

#include <QThreadPool>

#include <condition_variable>
#include <deque>
#include <mutex>

struct SerialQueue::State {
    QString label;
    std::mutex mutex;
    std::condition_variable finished;
    std::deque<std::function<void()>> blocks;
    quint64 queued = 0;
    quint64 completed = 0;
    bool draining = false;
};

namespace {

thread_local const SerialQueue::State *currentQueue = nullptr;

// The queues' own threads, apart from the global pool, so that blocking work
// elsewhere in the app never holds up a log write or a control word.
QThreadPool &queuePool()
{
    static QThreadPool *pool = Async::newPool(QStringLiteral("org.varno.serial-queues"), 4, 5000);
    return *pool;
}

void drain(const std::shared_ptr<SerialQueue::State> &state)
{
    const SerialQueue::State *outer = currentQueue;
    currentQueue = state.get();
    std::unique_lock lock(state->mutex);
    while (!state->blocks.empty()) {
        std::function<void()> block = std::move(state->blocks.front());
        state->blocks.pop_front();
        lock.unlock();
        try {
            block();
        } catch (...) {
            qCWarning(lcVarno, "%s: a queued block failed", qPrintable(state->label));
        }
        block = nullptr; // release what the block held before counting it done
        lock.lock();
        ++state->completed;
        state->finished.notify_all();
    }
    state->draining = false;
    currentQueue = outer;
}

} // namespace

SerialQueue::SerialQueue(QString label)
    : m_state(std::make_shared<State>())
{
    m_state->label = std::move(label);
}

SerialQueue::~SerialQueue() = default;

QString SerialQueue::label() const
{
    return m_state->label;
}

void SerialQueue::async(std::function<void()> block)
{
    std::lock_guard lock(m_state->mutex);
    m_state->blocks.push_back(std::move(block));
    ++m_state->queued;
    if (!m_state->draining) {
        m_state->draining = true;
        std::shared_ptr<State> state = m_state;
        Async::detach(Async::offThread(nullptr, &queuePool(), [state] { drain(state); }));
    }
}

void SerialQueue::sync()
{
    if (isCurrent())
        return;
    std::unique_lock lock(m_state->mutex);
    const quint64 target = m_state->queued;
    m_state->finished.wait(lock, [&] { return m_state->completed >= target; });
}

bool SerialQueue::isCurrent() const
{
    return currentQueue == m_state.get();
}

void SerialQueue::waitForAll()
{
    queuePool().waitForDone();
}
