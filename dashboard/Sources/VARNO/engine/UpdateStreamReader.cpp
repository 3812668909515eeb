#include "engine/UpdateStreamReader.h"

#include "base/Utf8Text.h"

#include <QJsonDocument>
#include <QJsonObject>

UpdateStreamReader::UpdateStreamReader(EventHandler onEvent, TextHandler onFreeText, qsizetype lineCap)
    : m_onEvent(std::move(onEvent))
    , m_onFreeText(std::move(onFreeText))
    , m_lineCap(qMax<qsizetype>(lineCap, 4))
{
}

void UpdateStreamReader::feed(const QByteArray &chunk)
{
    if (m_finished || chunk.isEmpty())
        return;
    m_pending.append(chunk);
    if (m_handling)
        return; // the loop below, further up the stack, takes these bytes in turn
    if (m_skipToCharacter) {
        // The cap left nothing of an overlong line: its kept part starts at
        // the next character, as if the line had arrived in one read.
        qsizetype start = 0;
        while (start < m_pending.size() && (static_cast<uchar>(m_pending.at(start)) & 0xC0) == 0x80)
            ++start;
        m_pending.remove(0, start);
        m_skipToCharacter = m_pending.isEmpty();
    }

    m_handling = true;
    qsizetype consumed = 0;
    for (;;) {
        const qsizetype newline = m_pending.indexOf('\n', qMax(m_scanned, consumed));
        if (newline < 0)
            break;
        const QByteArray line = m_pending.mid(consumed, newline - consumed);
        consumed = newline + 1;
        m_scanned = consumed;
        handleLine(line);
    }
    m_pending.remove(0, consumed);
    m_scanned = m_pending.size();
    capPending();
    m_handling = false;
}

void UpdateStreamReader::capPending()
{
    if (m_pending.size() <= m_lineCap)
        return;
    qsizetype cut = m_pending.size() - m_lineCap;
    // Start the kept part at a character, not inside one.
    while (cut < m_pending.size() && (static_cast<uchar>(m_pending.at(cut)) & 0xC0) == 0x80)
        ++cut;
    m_pending.remove(0, cut);
    m_scanned = m_pending.size();
    m_skipToCharacter = m_pending.isEmpty();
}

void UpdateStreamReader::handleLine(QByteArray line)
{
    if (line.isEmpty())
        return;
    if (line.size() > m_lineCap) {
        // However it arrived, a line keeps only its newest m_lineCap bytes,
        // starting at a character.
        qsizetype cut = line.size() - m_lineCap;
        while (cut < line.size() && (static_cast<uchar>(line[cut]) & 0xC0) == 0x80)
            ++cut;
        line.remove(0, cut);
        // Nothing of it starts at a character: as if the line were empty,
        // which is what a split read would have kept of it too.
        if (line.isEmpty())
            return;
    }
    const auto text = Utf8Text::decode(line);
    if (!text) {
        // Not UTF-8: never an event; kept as free text with the bad bytes replaced.
        keepFreeText(QString::fromUtf8(line));
        return;
    }
    qsizetype first = 0;
    while (first < line.size() && (line[first] == ' ' || line[first] == '\t' || line[first] == '\r'))
        ++first;
    if (first < line.size() && line[first] == '{') {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (error.error == QJsonParseError::NoError && document.isObject()) {
            if (auto event = UpdateEvent::decode(document.object())) {
                if (m_onEvent)
                    m_onEvent(*event);
                return;
            }
        }
    }
    keepFreeText(*text);
}

void UpdateStreamReader::keepFreeText(const QString &text)
{
    if (m_onFreeText)
        m_onFreeText(text);
    m_tail.append(text);
    if (m_tail.size() > tailLimit) {
        m_tail.removeFirst();
        ++m_dropped;
    }
}

QStringList UpdateStreamReader::finish()
{
    if (!m_finished) {
        m_finished = true;
        const QString rest = QString::fromUtf8(m_pending).trimmed();
        m_pending.clear();
        if (!rest.isEmpty())
            keepFreeText(rest);
    }
    QStringList tail = m_tail;
    if (m_dropped >= 1)
        tail.prepend(QStringLiteral("[\u2026 %1 earlier line(s) dropped \u2026]").arg(m_dropped));
    return tail;
}
