#pragma once

#include <QString>

#include <optional>

// The Diagnostics sheet's texts, as pure functions.
namespace DiagnosticsRules {

inline const QString loadingReport = QStringLiteral("Loading…");
inline const QString repairingText = QStringLiteral("Repairing…\n");
inline const QString scanHeader = QStringLiteral("Running varno scan with verbose output…\n");

// The repair's outcome: "Repair failed: <reason>" when it failed; otherwise
// "Repair succeeded. CLI reinstalled from bundle.", followed by
// "Old scan.err rotated to scan.err.prev." only when the old log was moved.
QString repairText(const std::optional<QString> &failure, bool scanLogRotated);

// What Copy puts on the clipboard: the report, then the scan transcript
// under "=== SCAN LOG ===" when there is one.
QString clipboardText(const QString &report, const QString &scanLog);

// What a block shows of a long text: at most `limit` characters, cut at a
// character boundary with a line saying how much was left out (the log keeps
// the whole).
QString shownText(const QString &text, qsizetype limit = 60000);

} // namespace DiagnosticsRules
