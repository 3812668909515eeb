#pragma once

#include "records/AppRecord.h"

#include <QList>
#include <QString>

#include <functional>

// What the first-run screens say, as pure functions of the library and of the
// flow's state. Counts print as plain decimal integers.
namespace OnboardingRules {

// The records whose update mechanism, lower-cased (not trimmed), is "cask",
// "mas" or "sparkle"; a record without one is not managed.
int managedAppsCount(const QList<AppRecord> &apps);

// The summary's headline for m managed and o outdated apps.
QString summaryHeadline(int managed, int outdated);
// "Brusk mapped <n> apps on your Mac" ("apps" for every n).
QString mappedTitle(int count);
// The path line for u apps without a known update path.
QString pathLine(int unmanaged);

// One checklist row of the setup screen: its title and its mark.
enum class SetupMark { done, active, pending };
QString setupRowTitle(int row, bool brewFound, bool masFound);
SetupMark setupRowMark(int row, int setupStep);

// A tool looked for at its two usual places: the first path, and only when
// nothing is there, the second.
bool toolFound(const QString &primary, const QString &secondary, const std::function<bool(const QString &)> &exists);
inline const QString brewPrimary = QStringLiteral("/opt/homebrew/bin/brew");
inline const QString brewSecondary = QStringLiteral("/usr/local/bin/brew");
inline const QString masPrimary = QStringLiteral("/opt/homebrew/bin/mas");
inline const QString masSecondary = QStringLiteral("/usr/local/bin/mas");

} // namespace OnboardingRules
