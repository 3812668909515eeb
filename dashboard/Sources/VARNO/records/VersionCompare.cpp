#include "records/VersionCompare.h"

#include <QStringView>

#include <limits>

namespace {

// One piece: the run of numeric characters at its start, read as a base-10
// integer when it is made of ASCII digits only and fits a signed 64-bit
// integer; 0 otherwise.
qint64 componentOf(QStringView piece)
{
    qint64 value = 0;
    bool asciiOnly = true;
    bool overflow = false;
    qsizetype i = 0;
    while (i < piece.size()) {
        char32_t codePoint = piece.at(i).unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(codePoint) && i + 1 < piece.size() && piece.at(i + 1).isLowSurrogate()) {
            codePoint = QChar::surrogateToUcs4(piece.at(i), piece.at(i + 1));
            width = 2;
        }
        if (!QChar::isNumber(codePoint))
            break;
        if (codePoint >= U'0' && codePoint <= U'9') {
            const int digit = int(codePoint - U'0');
            if (value > (std::numeric_limits<qint64>::max() - digit) / 10)
                overflow = true;
            else
                value = value * 10 + digit;
        } else {
            asciiOnly = false;
        }
        i += width;
    }
    if (!asciiOnly || overflow)
        return 0;
    return value;
}

} // namespace

namespace {

// The part of a version text that is compared: trimmed, up to its first ","
// and then its first "+".
QStringView comparedPart(const QString &text)
{
    // Cut at the first "," or "+", whichever comes first: the same as
    // cutting at the first "," and then at the first "+". One pass over a
    // text of a few characters costs less than two searches.
    const QStringView view = QStringView(text).trimmed();
    for (qsizetype i = 0; i < view.size(); ++i) {
        const char16_t c = view[i].unicode();
        if (c == u',' || c == u'+')
            return view.left(i);
    }
    return view;
}

bool isSeparator(QChar c)
{
    return c == QLatin1Char('.') || c == QLatin1Char('-') || c == QLatin1Char('_');
}

// Walks the components of a compared part one by one, without a list.
class Components {
public:
    explicit Components(QStringView view)
        : m_view(view)
    {
    }
    bool atEnd() const { return m_start > m_view.size(); }
    qint64 next()
    {
        qsizetype end = m_start;
        while (end < m_view.size() && !isSeparator(m_view.at(end)))
            ++end;
        const qint64 value = componentOf(m_view.mid(m_start, end - m_start));
        m_start = end + 1;
        return value;
    }

private:
    QStringView m_view;
    qsizetype m_start = 0;
};

} // namespace

QList<qint64> VersionCompare::versionTuple(const QString &text)
{
    QList<qint64> components;
    for (Components pieces(comparedPart(text)); !pieces.atEnd();)
        components.append(pieces.next());
    return components;
}

ComparisonResult VersionCompare::compare(const QString &a, const QString &b)
{
    // Component by component, the shorter one padded with zeros; nothing is
    // allocated (libraries of thousands of apps compare on every count).
    Components left(comparedPart(a));
    Components right(comparedPart(b));
    while (!left.atEnd() || !right.atEnd()) {
        const qint64 x = left.atEnd() ? 0 : left.next();
        const qint64 y = right.atEnd() ? 0 : right.next();
        if (x < y)
            return ComparisonResult::orderedAscending;
        if (x > y)
            return ComparisonResult::orderedDescending;
    }
    return ComparisonResult::orderedSame;
}
