#pragma once

#include "engine/UpdateEvent.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// The byte-level side of the update stream's standard error: splits what the
// engine writes into lines at the line-feed byte, turns each event line into an
// UpdateEvent and every other line into free text, and keeps the tail of the
// free text for a failure message.
//
// Bytes are kept raw until a line is complete, so a read that ends inside a
// multi-byte character loses nothing; each complete line is decoded on its own.
// Only the unterminated rest is capped (its newest pendingCap bytes are kept),
// so a burst of many lines in one read never drops an event.
//
// Callbacks run synchronously from feed()/finish(). A callback may call feed()
// again (a nested event loop during a delivery); those bytes wait until the
// current line is handled, so lines are always handled in order.
class UpdateStreamReader {
public:
    static constexpr qsizetype pendingCap = 65536;
    static constexpr qsizetype tailLimit = 200;

    using EventHandler = std::function<void(const UpdateEvent &)>;
    using TextHandler = std::function<void(const QString &)>;

    // `lineCap` (at least 4, one character) replaces pendingCap where a
    // smaller one helps, e.g. for fuzzing the capping with short input.
    UpdateStreamReader(EventHandler onEvent, TextHandler onFreeText, qsizetype lineCap = pendingCap);

    // One chunk of standard error.
    void feed(const QByteArray &chunk);

    // End of file: the unterminated rest, trimmed, becomes one last free-text
    // line (never an event), and the tail is returned, with a first line that
    // counts the dropped lines when more than tailLimit were kept.
    QStringList finish();

    // The tail so far (without the dropped-lines line).
    const QStringList &tail() const { return m_tail; }
    qsizetype droppedLines() const { return m_dropped; }

private:
    void handleLine(QByteArray line);
    void keepFreeText(const QString &text);
    void capPending();

    EventHandler m_onEvent;
    TextHandler m_onFreeText;
    qsizetype m_lineCap;
    QByteArray m_pending;
    qsizetype m_scanned = 0;        // bytes of m_pending already searched for a line feed
    bool m_skipToCharacter = false; // the cap emptied an overlong line inside a character
    bool m_handling = false;
    bool m_finished = false;
    QStringList m_tail;
    qsizetype m_dropped = 0;
};
