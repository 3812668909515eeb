#include "kit/ColorPair.h"

#include "platform/Appearance.h"

#include <limits>

namespace {

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

QColor ColorPair::resolve(bool dark) const
{
    return parseHex(dark ? m_dark : m_light);
}

QColor ColorPair::resolved(qreal opacity) const
{
    QColor color = resolve(Appearance::instance().isDark());
    color.setAlphaF(float(qBound(0.0, opacity, 1.0)));
    return color;
}

QColor ColorPair::parseHex(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && !text.at(begin).isLetterOrNumber())
        ++begin;
    while (end > begin && !text.at(end - 1).isLetterOrNumber())
        --end;
    QStringView digits = text.mid(begin, end - begin);

    // A "0x" prefix counts only when a hex digit follows it; otherwise the
    // "0" is the number and reading stops at the "x".
    if (digits.size() > 2 && digits.at(0) == u'0' && (digits.at(1) == u'x' || digits.at(1) == u'X')
        && hexDigit(digits.at(2)) >= 0)
        digits = digits.mid(2);

    // An unsigned 64-bit reading that saturates on overflow.
    quint64 value = 0;
    for (const QChar c : digits) {
        const int d = hexDigit(c);
        if (d < 0)
            break;
        if (value > (std::numeric_limits<quint64>::max() >> 4)) {
            value = std::numeric_limits<quint64>::max();
            continue;
        }
        value = (value << 4) | quint64(d);
    }

    return QColor::fromRgb(int((value >> 16) & 0xFF), int((value >> 8) & 0xFF), int(value & 0xFF));
}
