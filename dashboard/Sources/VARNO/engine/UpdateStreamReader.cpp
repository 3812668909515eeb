#include "engine/UpdateStreamReader.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

std::optional<QString> decodeUtf8Strict(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QByteArray dropIncompleteUtf8Tail(const QByteArray &bytes)
{
    // Walk back over at most three continuation bytes to the lead byte of the
    // last sequence and see whether the sequence is complete.
    const qsizetype size = bytes.size();
    qsizetype i = size - 1;
    int continuation = 0;
    while (i >= 0 && continuation < 3 && (static_cast<uchar>(bytes.at(i)) & 0xC0) == 0x80) {
        --i;
        ++continuation;
    }
    if (i < 0)
        return bytes;
    const uchar lead = static_cast<uchar>(bytes.at(i));
    int expected = 0;
    if ((lead & 0xE0) == 0xC0)
        expected = 1;
    else if ((lead & 0xF0) == 0xE0)
        expected = 2;
    else if ((lead & 0xF8) == 0xF0)
        expected = 3;
    else
        return bytes; // ASCII or not a lead byte: nothing to repair here
    if (continuation < expected)
        return bytes.left(i);
    return bytes;
}

UpdateStreamReader::UpdateStreamReader(EventHandler onEvent, TextHandler onFreeText)
    : m_onEvent(std::move(onEvent))
    , m_onFreeText(std::move(onFreeText))
{
}

void UpdateStreamReader::feed(const QByteArray &chunk)
{
    if (m_finished || chunk.isEmpty())
        return;
    m_pending.append(chunk);
    if (m_handling)
        return; // the loop below, further up the stack, takes these bytes in turn

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
    if (m_pending.size() <= pendingCap)
        return;
    qsizetype cut = m_pending.size() - pendingCap;
    // Start the kept part at a character, not inside one.
    while (cut < m_pending.size() && (static_cast<uchar>(m_pending.at(cut)) & 0xC0) == 0x80)
        ++cut;
    m_pending.remove(0, cut);
    m_scanned = m_pending.size();
}

void UpdateStreamReader::handleLine(QByteArrayView line)
{
    if (line.isEmpty())
        return;
    if (line.size() > pendingCap) {
        // However it arrived, a line keeps only its newest pendingCap bytes,
        // starting at a character.
        qsizetype cut = line.size() - pendingCap;
        while (cut < line.size() && (static_cast<uchar>(line[cut]) & 0xC0) == 0x80)
            ++cut;
        line = line.sliced(cut);
    }
    const auto text = decodeUtf8Strict(line);
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
        const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
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
