#include "records/ShellQuoting.h"

namespace ShellQuoting {

QString singleQuoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

} // namespace ShellQuoting
