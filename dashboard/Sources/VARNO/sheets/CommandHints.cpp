#include "sheets/CommandHints.h"

#include "records/ShellQuoting.h"

namespace CommandHints {

namespace {

bool isAsciiAlnum(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
        || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

} // namespace

bool isPlainToken(const QString &value)
{
    if (value.isEmpty() || !isAsciiAlnum(value.front()))
        return false;
    for (const QChar c : value) {
        if (!isAsciiAlnum(c) && c != QLatin1Char('.') && c != QLatin1Char('_') && c != QLatin1Char('-')
            && c != QLatin1Char('+') && c != QLatin1Char('@'))
            return false;
    }
    return true;
}

std::optional<QString> shellWord(const QString &value)
{
    if (value.isEmpty() || value.startsWith(QLatin1Char('-')))
        return std::nullopt;
    if (isPlainToken(value))
        return value;
    return ShellQuoting::singleQuoted(value);
}

std::optional<QString> brewInstallCask(const QString &token)
{
    const std::optional<QString> word = shellWord(token);
    if (!word)
        return std::nullopt;
    return QStringLiteral("brew install --cask ") + *word;
}

} // namespace CommandHints
