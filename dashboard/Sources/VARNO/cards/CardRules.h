#pragma once

#include "kit/ColorPair.h"
#include "model/AppTrustPresenter.h"
#include "model/PosturePresenter.h"
#include "model/UpdateState.h"
#include "records/AppRecord.h"

#include <QString>
#include <QStringList>

#include <optional>

// What the app cards show and offer, as pure functions of a record, its
// update state and the model's busy flags. The widgets only lay these out.
namespace CardRules {

// --- Colours -------------------------------------------------------------

// The tone of a trust state: current and verified green, outdated and
// updating orange, at risk and failed red, the rest neutral.
PostureTone toneFor(AppTrustState state);

// The simple card's border: the outline colour (opaque) for settled states,
// orange at 0.25 for outdated and updating, red at 0.3 for at risk and failed.
struct BorderColor {
    ColorPair color;
    qreal opacity = 1.0;
    friend bool operator==(const BorderColor &, const BorderColor &) = default;
};
BorderColor borderFor(AppTrustState state);

// --- The in-app updater ---------------------------------------------------

// The app's own updater may be asked to look for an update: it can be
// triggered, and the vendor's flag is set (the first present of self_managed
// and vendor_self_update; both absent: the mechanism is exactly
// "vendor_self_update") or the effective update mode is "self".
bool canTriggerInAppUpdate(const AppRecord &app);

// update_mode, "auto" when the record has none.
QString effectiveUpdateMode(const AppRecord &app);

// --- The simple card ------------------------------------------------------

// "name, status[, third part]" with the third part by the exact version-check
// status.
QString accessibilityCardLabel(const AppRecord &app, const QString &statusText);

// The trailing action area of the simple card.
struct ActionArea {
    enum class Kind {
        empty,
        symbol,   // a symbol in a colour, with help and accessible texts
        progress, // the small spinner of a running update
        greenSeal,
        verifiedPath,
        checkInAppButton,
        updateButton,
    };
    Kind kind = Kind::empty;
    QString symbol;  // Kind::symbol
    ColorPair color; // Kind::symbol
    QString help;    // tooltip
    QString accessibleName;
    QString accessibleDescription;
    bool enabled = true; // the buttons
    bool isRisk = false; // the Update button: red instead of orange

    friend bool operator==(const ActionArea &, const ActionArea &) = default;
};

// The model's flags the buttons read.
struct BusyFlags {
    bool isUpdating = false;
    bool isScanning = false;
    bool isFixing = false;
    bool hasSingleUpdate = false; // a single-application update holds its token
    friend bool operator==(const BusyFlags &, const BusyFlags &) = default;
};

extern const QString notCheckedText;

// A non-idle state shows its step; an idle one the first match of the idle
// chain (in-app updater, unmeasured, unknown, catalog stale, self-managed,
// seal, verified path, outdated), else nothing.
ActionArea actionAreaFor(const AppRecord &app, const UpdateState &state, const BusyFlags &busy);

// --- The detailed card ----------------------------------------------------

// The version group: the outdated line (current → latest, the latest in the
// tone's colour), the current version alone, or nothing.
struct VersionGroup {
    enum class Kind { nothing, current, outdated };
    Kind kind = Kind::nothing;
    QString current;
    QString latest;
    friend bool operator==(const VersionGroup &, const VersionGroup &) = default;
};
VersionGroup versionGroupFor(const AppRecord &app);

struct BadgeStyle {
    ColorPair background;
    qreal backgroundOpacity = 0.1;
    ColorPair foreground;
    friend bool operator==(const BadgeStyle &, const BadgeStyle &) = default;
};
// BREW, MAS, SPARK (the only opaque one), SELF; any other label gold.
BadgeStyle mechanismBadgeStyle(const QString &label);

// "3x" and "Verified by 3 community endpoints" ("endpoint" for exactly 1).
QString collaborationText(qint64 count);
QString collaborationHelp(qint64 count);

// "Update failed: <cause>" / "Update skipped: <cause>".
QString incidentAccessibilityLabel(AppIncident::Kind kind, const QString &cause);

// --- Re-install, uninstall and classification -----------------------------

// A Homebrew Cask token that may go into a shell command or a file path:
// non-empty, only ASCII lower-case letters, digits and "-_.@+", and not "."
// or "..". Anything else is left out of every command.
bool isSafeCaskToken(const QString &token);

// The Caskroom folders whose entry for a token means the cask is installed;
// by default "/opt/homebrew/Caskroom" then "/usr/local/Caskroom". Tests put
// folders of their own in (an empty list restores the default).
QStringList caskroomRoots();
void setCaskroomRoots(const QStringList &roots);
// Whether <root>/<token> exists under the first root, else the second, ...
bool isCaskInstalled(const QString &token);

// No re-install or uninstall while other engine work may replace the same
// app: an update run, a scan, a fix or adoption, a single update, or the
// app's own entry running.
bool lifecycleBusy(const BusyFlags &busy, const UpdateState &ownState);

// Mechanism exactly "cask", a safe token, and the cask installed.
bool canReinstall(const AppRecord &app, bool busy);
// An install path outside the protected prefixes, not an Apple or system id.
bool canUninstall(const AppRecord &app, bool busy);
// Mechanism absent, empty or exactly "unknown".
bool isUnclassified(const AppRecord &app);

enum class AppLifecycleAction { reinstall, uninstall };

struct Confirmation {
    QString title;
    QString message;
    QString confirmTitle;
    bool destructive = false;
    friend bool operator==(const Confirmation &, const Confirmation &) = default;
};
Confirmation confirmationFor(AppLifecycleAction action, const AppRecord &app);

} // namespace CardRules
