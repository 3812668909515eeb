// Version ordering over random triples: the input is three version texts,
// one per line (the third takes the rest). The order must be a total
// preorder: every text equals itself, swapping the two sides reverses the
// answer, and the order is transitive (equal texts order alike against a
// third). The texts are read as UTF-8 and, again, as raw UTF-16 (which may
// hold lone surrogates).
#include "FuzzSupport.h"

#include "records/VersionCompare.h"

#include <array>
#include <cstring>

namespace {

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text.left(200) + QLatin1Char('"');
}

void checkTriple(const std::array<QString, 3> &v)
{
    // Every ordered pair once, then the properties over the table.
    int order[3][3];
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            order[i][j] = static_cast<int>(VersionCompare::compare(v[i], v[j]));
    const auto texts = [&](std::initializer_list<int> which) {
        QString text;
        for (int i : which)
            text += quoted(v[size_t(i)]) + QLatin1Char(' ');
        return text;
    };
    for (int i = 0; i < 3; ++i) {
        FUZZ_CHECK(order[i][i] == 0, texts({i}));
        for (int j = 0; j < 3; ++j) {
            FUZZ_CHECK(order[i][j] == -order[j][i], texts({i, j}));
            for (int k = 0; k < 3; ++k) {
                const int ij = order[i][j];
                const int jk = order[j][k];
                const int ik = order[i][k];
                if (ij <= 0 && jk <= 0)
                    FUZZ_CHECK(ik <= 0, texts({i, j, k}));
                if (ij < 0 && jk <= 0)
                    FUZZ_CHECK(ik < 0, texts({i, j, k}));
                if (ij == 0)
                    FUZZ_CHECK(ik == jk, texts({i, j, k}));
            }
        }
    }
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
    std::array<QByteArray, 3> parts;
    qsizetype at = 0;
    for (int i = 0; i < 2; ++i) {
        const qsizetype newline = bytes.indexOf('\n', at);
        const qsizetype end = newline < 0 ? bytes.size() : newline;
        parts[size_t(i)] = bytes.mid(at, end - at);
        at = newline < 0 ? bytes.size() : newline + 1;
    }
    parts[2] = bytes.mid(at);

    std::array<QString, 3> utf8;
    std::array<QString, 3> utf16;
    for (size_t i = 0; i < 3; ++i) {
        utf8[i] = QString::fromUtf8(parts[i]);
        utf16[i] = QString(parts[i].size() / 2, Qt::Uninitialized);
        std::memcpy(utf16[i].data(), parts[i].constData(), size_t(utf16[i].size()) * sizeof(QChar));
    }
    checkTriple(utf8);
    checkTriple(utf16);
    return 0;
}
