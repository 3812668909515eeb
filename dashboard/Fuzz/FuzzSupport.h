#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <string_view>

// Shared by the fuzz targets.
namespace Fuzz {

// Reports a broken property of a parser (with what it was given) and aborts,
// which libFuzzer records as a finding with its reproducer.
[[noreturn]] void fail(const char *file, int line, const char *condition, const QString &detail);

// Keeps Qt's own warnings out of the fuzzer's output.
void quietQt();

// The input as bytes that own no copy (reads past the end stay visible to
// AddressSanitizer).
inline QByteArray bytesOf(const uint8_t *data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
}

// A 64-bit FNV-1a hash: a stable seed drawn from the input.
uint64_t hashOf(const uint8_t *data, size_t size);

// Whether `text` is exactly one JSON text by the grammar (white space around
// it allowed): strings of valid UTF-8 without control characters, only the
// defined escapes, surrogate escapes only in pairs, numbers of the grammar
// that a double can hold, and nesting at most `maxDepth` arrays or objects.
bool isStrictJson(std::string_view text, int maxDepth);

} // namespace Fuzz

#define FUZZ_CHECK(condition, detail)                               \
    do {                                                            \
        if (!(condition))                                           \
            ::Fuzz::fail(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)
