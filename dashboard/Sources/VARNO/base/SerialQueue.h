#pragma once

#include <QString>

#include <functional>
#include <memory>

// A serial queue of blocks run off the calling thread, one at a time, in the
// order they were queued. Blocks already queued run to the end even when the
// queue object is destroyed before them (each keeps the queue's state alive).
class SerialQueue {
public:
    explicit SerialQueue(QString label);
    ~SerialQueue();
    SerialQueue(const SerialQueue &) = delete;
    SerialQueue &operator=(const SerialQueue &) = delete;

    QString label() const;

    // Queues a block and returns at once.
    void async(std::function<void()> block);

    // Blocks until every block queued before the call has run. Called from a
    // block of this same queue it returns at once (it could never finish).
    void sync();

    // Whether the calling code runs inside a block of this queue.
    bool isCurrent() const;

    // Blocks until the blocks of every queue, also of queues already
    // destroyed, have run (tests and shutdown).
    static void waitForAll();

    struct State;

private:
    std::shared_ptr<State> m_state;
};
