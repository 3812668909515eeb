#pragma once

#include "model/PosturePresenter.h"
#include "platform/ServiceManagement.h"
#include "services/ESEProbe.h"

#include <QString>
#include <QUrl>

#include <optional>

// The Workshop Environment screen's verdicts and texts, as pure functions.
// Service statuses are the system's raw values: 0 not registered, 1 enabled,
// 2 requires approval, 3 not found; any other value is none of these. One of
// those others has a sentence of its own: a registration no service manager
// answered for (SMAppService::Status::unconfirmed).
namespace EnvironmentRules {

struct Snapshot {
    bool fda = true;
    int agentStatus = 0;
    int loginItemStatus = 0;
    bool launchAtLoginPref = false;
    qint64 backupReclaimableBytes = 0;
    // Whether the receipts folder the Full Disk Access check lists exists at
    // all; where it doesn't, access counts as granted with nothing to read.
    bool receiptsFolderExists = true;
};

constexpr int notRegistered = 0;
constexpr int enabled = 1;
constexpr int requiresApproval = 2;
constexpr int notFound = 3;
constexpr int unconfirmed = int(SMAppService::Status::unconfirmed);

// The screen's one-line verdict (green or orange).
PosturePresentation summary(const Snapshot &snapshot);

QString fullDiskAccessDetail(bool granted, bool receiptsFolderExists);
QString agentDetail(int status);
QString loginItemDetail(int status);

// "Currently running v<short> (<build>)" and its shorter forms.
QString currentVersionLabel(const std::optional<QString> &shortVersion, const std::optional<QString> &build);
// "Engine: <version>", only for a known, non-empty version.
std::optional<QString> engineLine(const std::optional<QString> &engineVersion);
QString updateHint();
// The inline-Markdown note naming the site's domain.
QString updateNote(const QString &domain);

// The product website (Info.plist's VARNOWebsiteURL, else the app's own),
// its domain name and its download page.
QString websiteAddress(const std::optional<QString> &configured);
QString websiteDomain(const QString &website);
QUrl downloadUrl(const QString &website);

// An extension is active when its state holds "enabled" or "activated" as a
// word, in any letter case ("deactivated" and "disabled" do not count).
bool eseIsActive(const QString &state);
QString eseTitle(const ESE &extension);
// "<bundle id> · <version or —> · <category label>"
QString eseDetail(const ESE &extension);
QString categoryLabel(ESE::Category category);
std::optional<QString> categoryNote(ESE::Category category);

// What the Security extensions section shows.
enum class ExtensionsContent { probing, none, list };
ExtensionsContent extensionsContent(bool loading, bool empty);

} // namespace EnvironmentRules
