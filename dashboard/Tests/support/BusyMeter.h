#pragma once

// How long the GUI thread is busy at a stretch, for the tests that bound it
// and for the benchmarks that report it. Header-only, Qt Core alone.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <ctime>
#include <functional>

namespace VarnoTest {

// The processor time the calling thread has used.
inline qint64 threadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// A timer on the GUI thread ticks every few milliseconds while a case runs.
// Between two ticks the thread did other work; the CPU time it spent there is
// one busy stretch. CPU time rather than wall time, so that a machine loaded
// by other builds (which delays the thread without it being busy) does not
// count; the wall-clock gap is reported beside it.
class BusyMeter {
public:
    BusyMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] { tick(); });
    }

    void start()
    {
        m_lastCpu = threadCpuNs();
        m_wall.start();
        m_timer.start();
    }

    void stop()
    {
        tick();
        m_timer.stop();
    }

    qint64 longestBusyMs() const { return m_longestBusyNs / 1000000; }
    double longestBusyMsExact() const { return double(m_longestBusyNs) / 1e6; }
    qint64 longestGapMs() const { return m_longestGapMs; }

    // Where the run stood when its longest stretch ended, as `mark` tells it
    // (say, the number of events handled by then).
    void setMark(std::function<qint64()> mark) { m_mark = std::move(mark); }
    qint64 longestMark() const { return m_longestMark; }

private:
    void tick()
    {
        const qint64 cpu = threadCpuNs();
        if (cpu - m_lastCpu > m_longestBusyNs) {
            m_longestBusyNs = cpu - m_lastCpu;
            if (m_mark)
                m_longestMark = m_mark();
        }
        m_longestGapMs = qMax(m_longestGapMs, m_wall.restart());
        m_lastCpu = threadCpuNs();
    }

    QTimer m_timer;
    QElapsedTimer m_wall;
    qint64 m_lastCpu = 0;
    qint64 m_longestBusyNs = 0;
    qint64 m_longestGapMs = 0;
    std::function<qint64()> m_mark;
    qint64 m_longestMark = 0;
};

} // namespace VarnoTest
