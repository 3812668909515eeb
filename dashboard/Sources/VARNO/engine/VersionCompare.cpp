#include "engine/VersionCompare.h"

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

QList<qint64> VersionCompare::versionTuple(const QString &text)
{
    QStringView view = QStringView(text).trimmed();
    const qsizetype comma = view.indexOf(QLatin1Char(','));
    if (comma >= 0)
        view = view.left(comma);
    const qsizetype plus = view.indexOf(QLatin1Char('+'));
    if (plus >= 0)
        view = view.left(plus);

    QList<qint64> components;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= view.size(); ++i) {
        if (i == view.size() || view.at(i) == QLatin1Char('.') || view.at(i) == QLatin1Char('-')
            || view.at(i) == QLatin1Char('_')) {
            components.append(componentOf(view.mid(start, i - start)));
            start = i + 1;
        }
    }
    return components;
}

ComparisonResult VersionCompare::compare(const QString &a, const QString &b)
{
    const QList<qint64> left = versionTuple(a);
    const QList<qint64> right = versionTuple(b);
    const qsizetype n = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < n; ++i) {
        const qint64 x = i < left.size() ? left.at(i) : 0;
        const qint64 y = i < right.size() ? right.at(i) : 0;
        if (x < y)
            return ComparisonResult::orderedAscending;
        if (x > y)
            return ComparisonResult::orderedDescending;
    }
    return ComparisonResult::orderedSame;
}
