// The update stream's standard error: the byte reader (lines, capping, UTF-8)
// and the event decoder, fed the same bytes whole, one byte at a time and in
// chunks of sizes drawn from the input. Whatever the split, the same events
// and free-text lines come out, in the same order, and the same tail is kept.
// Each split is read with the app's cap on overlong lines and again with a
// cap of a few bytes, so that short inputs reach the capping too.
#include "FuzzSupport.h"

#include "engine/UpdateEvent.h"
#include "engine/UpdateStreamReader.h"

#include <QList>
#include <QStringList>

#include <random>

namespace {

struct Outcome {
    QList<UpdateEvent> events;
    QStringList texts;
    QStringList tail;
    QList<int> order; // 0 for an event, 1 for a text, as they came

    bool operator==(const Outcome &) const = default;
};

template<typename NextChunk>
Outcome readInChunks(const QByteArray &bytes, qsizetype lineCap, NextChunk nextChunk)
{
    Outcome outcome;
    UpdateStreamReader reader(
        [&](const UpdateEvent &event) {
            outcome.events.append(event);
            outcome.order.append(0);
        },
        [&](const QString &text) {
            outcome.texts.append(text);
            outcome.order.append(1);
        },
        lineCap);
    qsizetype at = 0;
    while (at < bytes.size()) {
        const qsizetype size = qMin(nextChunk(), bytes.size() - at);
        reader.feed(QByteArray::fromRawData(bytes.constData() + at, size));
        at += size;
    }
    outcome.tail = reader.finish();
    return outcome;
}

QString describe(const Outcome &outcome)
{
    QStringList lines;
    for (const UpdateEvent &event : outcome.events)
        lines << event.debugText();
    lines << QStringLiteral("texts: ") + outcome.texts.join(QLatin1String(" | "));
    return lines.join(QLatin1Char('\n'));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = Fuzz::bytesOf(data, size);
    std::mt19937_64 random(Fuzz::hashOf(data, size));
    for (const qsizetype lineCap : {qsizetype(16), UpdateStreamReader::pendingCap}) {
        const Outcome whole = readInChunks(bytes, lineCap, [&] { return bytes.size(); });
        const auto differs = [&](const char *split, const Outcome &outcome) {
            return QStringLiteral("cap %1, %2:\n%3\nwhole:\n%4")
                .arg(lineCap)
                .arg(QLatin1String(split), describe(outcome), describe(whole));
        };
        if (bytes.size() <= 256) {
            const Outcome byByte = readInChunks(bytes, lineCap, [] { return qsizetype(1); });
            FUZZ_CHECK(byByte == whole, differs("byte by byte", byByte));
        }
        // Small reads and large ones, a few dozen of each.
        for (const qsizetype parts : {32, 4}) {
            std::uniform_int_distribution<qsizetype> sizes(1, qMax<qsizetype>(8, bytes.size() / parts));
            const Outcome chunked = readInChunks(bytes, lineCap, [&] { return sizes(random); });
            FUZZ_CHECK(chunked == whole, differs("in chunks", chunked));
        }
    }
    return 0;
}
