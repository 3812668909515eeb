#include "base/Utf8Text.h"

#include <QStringDecoder>

namespace Utf8Text {

std::optional<QString> decode(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

QString decodeOrEmpty(const QByteArray &bytes)
{
    return decode(bytes).value_or(QString());
}

QByteArray withoutIncompleteTail(const QByteArray &bytes)
{
    const qsizetype size = bytes.size();
    // Walk back over at most three continuation bytes to the lead byte of the
    // last sequence.
    qsizetype lead = size - 1;
    int continuation = 0;
    while (lead >= 0 && continuation < 3 && (static_cast<uchar>(bytes.at(lead)) & 0xC0) == 0x80) {
        --lead;
        ++continuation;
    }
    if (lead < 0)
        return bytes;
    const auto byte = static_cast<uchar>(bytes.at(lead));
    int expected = 1;
    if ((byte & 0xE0) == 0xC0)
        expected = 2;
    else if ((byte & 0xF0) == 0xE0)
        expected = 3;
    else if ((byte & 0xF8) == 0xF0)
        expected = 4;
    const qsizetype present = size - lead;
    if (expected > 1 && present < expected)
        return bytes.left(lead);
    return bytes;
}

QString prefix(const QByteArray &bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return decodeOrEmpty(bytes);
    return decodeOrEmpty(withoutIncompleteTail(bytes.left(limit)));
}

QString prefixLossy(const QByteArray &bytes, qsizetype limit)
{
    if (bytes.size() <= limit)
        return QString::fromUtf8(bytes);
    return QString::fromUtf8(withoutIncompleteTail(bytes.left(limit)));
}

} // namespace Utf8Text
