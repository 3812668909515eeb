#pragma once

#include "model/AppFilter.h"
#include "model/Tone.h"
#include "services/MechanismProbe.h"
#include "services/SoftwareUpdateProbe.h"
#include "workshop/LibraryFilters.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

class AppModel;

// The sidebar's rows as pure rules: their order, texts, counts and dots, the
// macOS row's texts, and the footer's date line.
namespace SidebarRules {

// "Library": All Apps, Outdated, At Risk, Not checked, Verified.
const QList<AppFilter> &libraryRows();
// "Mechanism": Homebrew, App Store, Sparkle, Self-managed.
const QList<AppFilter> &mechanismRows();
bool isMechanismRow(AppFilter filter);

// A row's tooltip, also its accessibility hint.
QString rowHelp(AppFilter filter);
// The fixed dot of a Library row (none for All Apps: it takes the grey
// fallback). The dots are tones: green good, orange caution, red risk, grey
// neutral; the view colours them with the kit's tokens.
std::optional<Tone> libraryDot(AppFilter filter);

// "<count> app", plus "s" unless the count is exactly 1.
QString accessibilityValue(qsizetype count);
// A mechanism row's second line: "<t> apps", or with pending updates
// "<p> update[s] · <t> apps" (the total's word is always plural).
QString mechanismSubtitle(qsizetype pending, qsizetype total);
// A Library row's trailing count: the digits, or nothing for 0.
QString countText(qsizetype count);

// The dot of a tool's health: grey without apps or while unknown, green when
// healthy, orange when unavailable.
Tone mechanismDot(const MechanismHealth &health, qsizetype total);
// The dot of any filter row: Library rows their fixed colour (else grey);
// Homebrew by its health; App Store orange when one of its apps that is not
// ignored is not checked, else by its health; Sparkle green with apps, else
// grey; Self-managed grey without apps, orange when one that is not ignored
// is not checked, else green.
Tone rowDotColor(const AppModel &model, AppFilter filter, const std::optional<Tone> &fallback);
// The same from counts already taken.
Tone rowDotColor(const LibraryFilters::Counts &counts, const MechanismHealth &brewHealth,
                 const MechanismHealth &masHealth, AppFilter filter, const std::optional<Tone> &fallback);

// No macOS updates counted, the headline "macOS update check unavailable"
// exactly, and no detail.
bool isCheckUnavailable(const MacOSUpdateStatus &status);
Tone systemDotColor(const MacOSUpdateStatus &status);
QString systemSecondary(const MacOSUpdateStatus &status);
QString systemHelp(const MacOSUpdateStatus &status);
// The Software Update pane's System Settings address.
QUrl softwareUpdateSettingsUrl();

// The footer's second line: "VARNO updated <date>"; "VARNO updated recently"
// when the install date is not known.
QString footerDateLine(const std::optional<QString> &installedDate);

} // namespace SidebarRules
