#include "platform/PlainText.h"

#include <QTextBoundaryFinder>

namespace PlainText {

QString trimBlanks(const QString &text)
{
    const auto isBlank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text.at(begin)))
        ++begin;
    while (end > begin && isBlank(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

QString prefixCharacters(const QString &text, qsizetype count)
{
    if (count <= 0)
        return QString();
    // Only a window of the text is looked at, widened while it is too short
    // to answer. A boundary inside the window is one of the whole text's (a
    // character's end depends on what comes before it and on the one code
    // point that follows, which the window holds); only its last position may
    // be a cut the text does not have.
    qsizetype window = count > text.size() / 4 ? text.size() : count * 4 + 1;
    for (;;) {
        const qsizetype end = qMin(text.size(), window);
        const bool whole = end == text.size();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData(), end);
        qsizetype seen = 0;
        qsizetype cut = 0;
        while (seen < count) {
            const qsizetype next = finder.toNextBoundary();
            if (next < 0)
                break;
            cut = next;
            ++seen;
        }
        if (whole)
            return seen < count ? text : text.left(cut);
        if (seen == count && cut < end)
            return text.left(cut);
        window = end > text.size() / 2 ? text.size() : end * 2;
    }
}

QString forDisplay(const QString &text, qsizetype maxLines, qsizetype maxCharacters)
{
    // Most texts are short: no more code units than characters allowed, and
    // few lines.
    if (text.size() <= maxCharacters && text.count(QLatin1Char('\n')) < maxLines)
        return text;
    // Only a window of the text is looked at: the lines asked for, and no
    // more code units than the characters could take (a character is at most
    // a few code units; a longer cluster is cut like any other).
    const qsizetype window = qMax<qsizetype>(0, maxCharacters) * 4 + 1;
    qsizetype end = qMin(text.size(), window);
    bool cutByWindow = end < text.size();
    qsizetype lines = 1;
    for (qsizetype i = 0; i < end; ++i) {
        if (text.at(i) == QLatin1Char('\n') && ++lines > maxLines) {
            end = i;
            cutByWindow = false;
            break;
        }
    }
    QString shown = prefixCharacters(text.left(end), maxCharacters);
    if (shown.size() == text.size())
        return text;
    // The window may end inside a character: drop that last, partial one.
    if (cutByWindow && shown.size() == end && end > 0) {
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, shown);
        finder.toEnd();
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous > 0)
            shown.truncate(previous);
    }
    // Trailing blanks and line breaks before the marker say nothing.
    while (!shown.isEmpty() && shown.back().isSpace())
        shown.chop(1);
    return shown + QStringLiteral("\u2026");
}

QString forField(const QString &text)
{
    return forDisplay(text, displayLines, fieldCharacters);
}

} // namespace PlainText
