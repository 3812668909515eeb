// The update stream's standard error: the byte reader (lines, capping, UTF-8)
// and the event decoder, fed the same bytes whole, in reads of one to eight
// bytes and in larger reads, their sizes drawn from the input. Whatever the
// split, the same events and free-text lines come out, in the same order,
// and the same tail is kept. Half the inputs are read with the app's cap on
// overlong lines, half with a cap of 16 bytes, so that short inputs reach
// the capping too.
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
    const uint64_t seed = Fuzz::hashOf(data, size);
    std::mt19937_64 random(seed);
    // The app's cap or one of 16 bytes, as the input's hash says.
    const qsizetype lineCap = ((seed >> 40) & 1) ? UpdateStreamReader::pendingCap : 16;
    const Outcome whole = readInChunks(bytes, lineCap, [&] { return bytes.size(); });
    // Reads of one to a few bytes (splitting characters and line feeds), then larger ones.
    for (const qsizetype largest : {qsizetype(8), qMax<qsizetype>(16, bytes.size() / 4)}) {
        std::uniform_int_distribution<qsizetype> sizes(1, largest);
        const Outcome chunked = readInChunks(bytes, lineCap, [&] { return sizes(random); });
        FUZZ_CHECK(chunked == whole,
                   QStringLiteral("cap %1, reads of at most %2 bytes:\n%3\nwhole:\n%4")
                       .arg(lineCap)
                       .arg(largest)
                       .arg(describe(chunked), describe(whole)));
    }
    return 0;
}
