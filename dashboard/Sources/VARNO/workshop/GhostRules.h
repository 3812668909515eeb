#pragma once

#include "model/Tone.h"
#include "platform/ToolRunner.h"
#include "records/GhostAppRecord.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The ghost banner's and review sheet's texts, and the Homebrew checks, as
// pure rules.
namespace GhostRules {

// "<N> app", plus "s" unless N is exactly 1.
QString countText(qsizetype count);
// "<N> app[s] in your library no longer appear on disk."
QString sheetSubtitle(qsizetype count);
// A row's second line: "brew cask: <token>", or the install path without one.
QString rowDetail(const GhostAppRecord &ghost);
// The row tile's letter: the name's first character, nothing for no name.
QString initial(const QString &appName);

// The status texts of one check.
QString stillInstalledText(); // "still installed in brew"
QString notInBrewText();      // "not in brew"
QString checkFailedText();    // "check failed"

// What a row shows at its trailing edge.
enum class Mark { badge, unchecked, removed };
Mark mark(const GhostAppRecord &ghost, const QHash<QString, QString> &brewStatus);
// A badge's colour as a tone: caution (orange) when its text says
// "installed", neutral when the check could not be made, good (green)
// otherwise.
Tone badgeColor(const QString &status);
QString uncheckedHelp(); // "Tap 'Check Homebrew status' to investigate"
QString removedHelp();   // "Removed from library — no Homebrew record to check"
QString checkHelp();

// Whether the sheet offers the check: any ghost has a cask token.
bool offersCheck(const QList<GhostAppRecord> &ghosts);
// The ghosts to check, in order: those with a cask token.
QList<GhostAppRecord> checkCandidates(const QList<GhostAppRecord> &ghosts);

// Where Homebrew is looked for, in order.
QStringList brewCandidatePaths(); // "/opt/homebrew/bin/brew", "/usr/local/bin/brew"
// The first candidate for which `exists` holds; nothing when none does.
std::optional<QString> brewExecutable(const std::function<bool(const QString &path)> &exists);
// Whether a path names a file (through the tool paths tests replace).
bool brewFileExists(const QString &path);

// A token is checked only when it cannot be read as an option: it is not
// empty and does not start with "-".
bool isCheckableToken(const QString &token);
// "list", "--cask", <token>: the token one argument, unchanged.
QStringList brewArguments(const QString &token);
// The status a finished check leaves: "still installed in brew" for exit 0,
// "not in brew" for another exit status, "check failed" when the tool could
// not start, was ended at its time limit or crashed.
QString statusFor(const ToolResult &result);

// Runs `brew list --cask <token>` for each candidate, one after the other on
// the calling thread (blocking), its output discarded; a later candidate with
// the same bundle id replaces the earlier entry. Run it off the GUI thread.
QHash<QString, QString> runBrewListChecks(const QList<GhostAppRecord> &candidates, const QString &brewPath);

// How long one check may take before the tool is ended.
constexpr int kCheckTimeoutSeconds = 120;

} // namespace GhostRules
