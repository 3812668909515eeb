#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <optional>

// The Developer Workbench policy: track only, or ask before updating.
enum class DeveloperUpdatePolicy {
    trackOnly,         // "track_only"
    askBeforeUpdating, // "ask_before_updating"
};

// The five developer tool sources, each standing for the flag of
// DeveloperWorkbenchState named after it with "Enabled" appended.
enum class DeveloperSource {
    homebrewFormulae, // "homebrewFormulae"
    homebrewCasks,    // "homebrewCasks"
    npm,              // "npm"
    python,           // "python"
    vendorInstallers, // "vendorInstallers"
};

namespace DeveloperWorkbench {

QString rawValue(DeveloperUpdatePolicy policy);
// Exact raw values only.
std::optional<DeveloperUpdatePolicy> updatePolicyFromRawValue(const QString &raw);
QList<DeveloperUpdatePolicy> allUpdatePolicies();

QString rawValue(DeveloperSource source);
std::optional<DeveloperSource> sourceFromRawValue(const QString &raw);
QList<DeveloperSource> allSources();
// The state's flag (and JSON key) of a source: "npm" -> "npmEnabled".
QString flagKey(DeveloperSource source);

} // namespace DeveloperWorkbench

// The engine-owned Developer Workbench settings. The JSON keys are the field
// names (camel case). Decoding is lenient key by key: a missing key, a null
// or a value of another type gives that field's default.
struct DeveloperWorkbenchState {
    bool workbenchEnabled = false;
    QString updatePolicy = QStringLiteral("track_only");
    bool homebrewFormulaeEnabled = false;
    bool homebrewCasksEnabled = false;
    bool npmEnabled = false;
    bool pythonEnabled = false;
    bool vendorInstallersEnabled = false;
    QStringList projectFolders; // absolute folder paths

    bool isEnabled(DeveloperSource source) const;
    void setEnabled(DeveloperSource source, bool enabled);

    // The normal form: a policy other than exactly "ask_before_updating"
    // becomes "track_only"; the folders lose empty texts (blank ones stay)
    // and duplicates and are sorted by Unicode code point (case-sensitive,
    // "B" before "a"). The flags are unchanged.
    DeveloperWorkbenchState normalized() const;

    // Throws RecordDecodingError when the value is not a JSON object; every
    // single key falls back to its default instead of failing.
    static DeveloperWorkbenchState fromJson(const QJsonObject &object);
    static DeveloperWorkbenchState decode(const QByteArray &json);

    // All eight keys with their current values, as they are (no normal form).
    QJsonObject toJson() const;
    // Compact JSON bytes for `dev set`. Throws RecordEncodingError when a text
    // is not valid Unicode (a lone surrogate), which JSON cannot carry.
    QByteArray encode() const;

    friend bool operator==(const DeveloperWorkbenchState &, const DeveloperWorkbenchState &) = default;
};

// Reads the settings the engine stores in
// ~/Library/Application Support/VARNO/developer_workbench.json.
namespace DeveloperWorkbenchStateStore {

QString filePath();
// The stored state as decoded (not normalised), or the default state when the
// file is missing, unreadable, too large or not a JSON object. Never fails.
DeveloperWorkbenchState load();

} // namespace DeveloperWorkbenchStateStore

// The payload of `dev inspect --json` and `dev plan-updates --json`.
// Strict: a missing required key or a value of the wrong type fails.
struct DeveloperReport {
    QString summary;                    // "summary": the sentence the Developer pane shows
    std::optional<bool> stateCorrupted; // "state_corrupted"
    std::optional<bool> truncated;      // "truncated"

    static DeveloperReport fromJson(const QJsonObject &object, const QString &codingPath = QString());
    friend bool operator==(const DeveloperReport &, const DeveloperReport &) = default;
};

struct DeveloperReportEnvelope {
    QString kind;            // "kind": decoded, not examined
    DeveloperReport payload; // "payload"

    static DeveloperReportEnvelope fromJson(const QJsonObject &object);
    // Throws RecordDecodingError.
    static DeveloperReportEnvelope decode(const QByteArray &json);
    friend bool operator==(const DeveloperReportEnvelope &, const DeveloperReportEnvelope &) = default;
};

// Held in QVariant by test tables and signal spies.
Q_DECLARE_METATYPE(DeveloperWorkbenchState)
Q_DECLARE_METATYPE(DeveloperReportEnvelope)
