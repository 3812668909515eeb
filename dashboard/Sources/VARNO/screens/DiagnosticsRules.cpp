#include "screens/DiagnosticsRules.h"

#include "platform/PlainText.h"

namespace DiagnosticsRules {

QString repairText(const std::optional<QString> &failure, bool scanLogRotated)
{
    if (failure)
        return QStringLiteral("Repair failed: ") + *failure;
    QString text = QStringLiteral("Repair succeeded. CLI reinstalled from bundle.");
    if (scanLogRotated)
        text += QStringLiteral("\nOld scan.err rotated to scan.err.prev.");
    return text;
}

QString clipboardText(const QString &report, const QString &scanLog)
{
    if (scanLog.isEmpty())
        return report;
    return report + QStringLiteral("\n\n=== SCAN LOG ===\n") + scanLog;
}

QString shownText(const QString &text, qsizetype limit)
{
    if (text.size() <= limit)
        return text;
    const QString kept = PlainText::prefixCharacters(text, limit);
    return kept
        + QStringLiteral("\n… (%1 more characters not shown; the whole text is in the log)").arg(text.size() - kept.size());
}

} // namespace DiagnosticsRules
