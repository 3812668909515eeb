#pragma once

#include <QString>

#include <optional>

struct AppRecord;

// Display texts made from the fields of one application record. Pure.
namespace ModelText {

// "Homebrew Cask", "Mac App Store", "Sparkle", "Sparkle (built-in)",
// "Vendor self-updater" (compared lower-cased), "Unknown" when absent or
// empty; any other mechanism unchanged.
QString mechanismDisplayName(const std::optional<QString> &mechanism);

// One phrase: "Ignored", "Update available", "Up to date", "Not checked",
// "Catalog older than installed", "Excluded" or "Status unknown".
QString statusSummary(const AppRecord &app);

// The text Copy App Details puts on the clipboard: name, bundle id,
// installed and latest version, mechanism, status and path, one per line
// (the latest version and the path only when known).
QString appDetailsSummary(const AppRecord &app);

// "Automatic", "Ask first", "Notify only", "Ignore", "Use app’s updater";
// any other mode capitalised word by word ("AUTO" -> "Auto").
QString updateModeLabel(const QString &mode);

// The first letter of every word upper case and the rest lower case, words
// being separated by white space ("acme updater" -> "Acme Updater").
QString capitalized(const QString &text);

} // namespace ModelText
