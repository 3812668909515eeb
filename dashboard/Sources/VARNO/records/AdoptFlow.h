#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

struct AppRecord;

// The result of an adoption into Homebrew Cask.
class AdoptOutcome {
public:
    enum class Kind {
        failed,  // the adoption did not take; text() says what to do
        refused, // the model refused to start it; text() says why
        success, // Homebrew Cask manages the app now
    };

    static AdoptOutcome failed(const QString &text);
    static AdoptOutcome refused(const QString &text);
    static AdoptOutcome success();

    Kind kind() const { return m_kind; }
    // The text of failed and refused; empty for success.
    QString text() const { return m_text; }

    friend bool operator==(const AdoptOutcome &, const AdoptOutcome &) = default;

private:
    AdoptOutcome(Kind kind, QString text);

    Kind m_kind;
    QString m_text;
};

// Adoption hands a hand-installed app over to Homebrew Cask in two engine
// steps: a dry run (`adopt --dry-run --json`, decoded into Preview), then the
// approved adoption. Everything here is a pure function of its arguments.
namespace AdoptFlow {

// What the dry run prints. The JSON keys are the field names. match_found is
// required; every other field is absent when missing or null; a value of the
// wrong JSON type fails the decode; unknown keys are ignored.
struct Preview {
    bool match_found = false;
    std::optional<QString> reason;     // why there is no match
    std::optional<QString> cask_token; // the matching cask
    std::optional<QString> app_name;
    std::optional<QString> bundle_id;
    std::optional<QString> confidence; // of the match
    std::optional<QString> current_version;
    std::optional<QString> cask_version;
    std::optional<QString> install_path;
    std::optional<QString> code_signature;
    std::optional<bool> signature_ok;      // the code signature was verified
    std::optional<bool> already_managed;   // Homebrew Cask manages it already
    std::optional<bool> version_downgrade; // the cask's version is older than the installed one

    static std::optional<Preview> fromJson(const QJsonObject &object);
    // The dry run's output: one JSON object.
    static std::optional<Preview> decode(const QByteArray &json);

    friend bool operator==(const Preview &, const Preview &) = default;
};

// Which confirmation the adopt sheet may offer.
enum class ConfirmAvailability {
    none,             // no match, or already managed by Homebrew Cask
    allowed,          // the signature is verified
    unsignedOverride, // not verified, but the user allows adopting unsigned apps
    refused,          // not verified, and the user does not allow it
};

// First rule that applies (an absent flag counts as false): no match or
// already managed -> none; signature_ok -> allowed; the setting allows
// unsigned adoption -> unsignedOverride; else refused.
ConfirmAvailability confirmAvailability(const Preview &preview, bool allowUnsignedSetting);

// Judges an approved adoption from the reloaded library: success when the
// first record with this bundle id has update_mechanism exactly "cask" and a
// non-empty cask_token; otherwise failed with failedText(appName).
AdoptOutcome outcomeAfterReload(const QString &appName, const QString &bundleId, const QList<AppRecord> &reloadedApps);

// "Adopt ran, but <name> still isn't showing as Homebrew-managed. Run
// `varno adopt '<name>'` in Terminal for details." The name in the command
// is quoted for the shell, so that pasting it runs nothing but varno adopt.
QString failedText(const QString &appName);

// The consent paragraph shown before the user confirms.
QString consentBody(const QString &appName);

// The downgrade warning when version_downgrade is true, else nothing.
std::optional<QString> downgradeWarning(const Preview &preview);

// The engine's reason when present and non-empty, else the built sentence.
QString noMatchMessage(const QString &appName, const std::optional<QString> &reason);

// The token to offer in a `brew install --cask` hint after a failed
// adoption: the library record's when non-empty, else the preview's when
// non-empty, else nothing.
std::optional<QString> terminalCommandToken(const std::optional<QString> &appCaskToken,
                                            const std::optional<QString> &previewToken);

} // namespace AdoptFlow
