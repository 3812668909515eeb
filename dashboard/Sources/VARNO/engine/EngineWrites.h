#pragma once

#include <QObject>

#include <qcoro/qcorotask.h>

#include <memory>

// Engine writes that are under way, counted so that a reader can wait until
// they have landed. The Settings window's changes (the telemetry opt-in, the
// retention policy and consent, a cleanup, the Developer Workbench settings)
// each hold one while their engine call runs, also after the pane that made
// them has closed; the window and its panes read the engine's state only once
// none is left. So a window opened again never shows, and then sends back, a
// value older than a change still on its way.
//
// Lives on the GUI thread. Made through create() (or engine()); whatever
// holds a token or waits keeps it alive.
class EngineWrites : public QObject, public std::enable_shared_from_this<EngineWrites> {
    Q_OBJECT

public:
    // Held while one write runs; the write counts until the last copy goes.
    using Token = std::shared_ptr<void>;

    static std::shared_ptr<EngineWrites> create();
    // The one engine the app runs (kept for the life of the process).
    static std::shared_ptr<EngineWrites> engine();

    Token begin();
    int count() const { return m_count; }

    // Returns once no write is under way. A write that ends and another that
    // begins in the same turn of the event loop keep it waiting.
    static QCoro::Task<void> settled(std::shared_ptr<EngineWrites> writes);

Q_SIGNALS:
    // Posted (not sent from inside end()) when the count may have reached 0.
    void mayBeSettled();

private:
    EngineWrites() = default;
    void end();

    int m_count = 0;
};
