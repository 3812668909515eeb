#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

// The remedy the user is offered for an incident code.
enum class IncidentAction {
    fixIt,         // run the engine's `fix` for the app directly
    runInTerminal, // copy the fix command for the user to run in Terminal
    none,          // no remedy; the incident is only explained
    getHelp,       // build a local support bundle
    quitAndUpdate, // ask the app to quit, update it, open it again
    adopt,         // adopt the app into Homebrew Cask
    approve,       // run the update that waits for the user's approval
};

// The remedy for one incident code, as remediation_registry.json gives it.
struct RemediationEntry {
    struct Fix {
        QString kind;    // one of RemediationRegistry::validFixKinds() after validation
        QString consent; // "auto" or "always" after validation
        bool operator==(const Fix &other) const = default;
    };

    QString cause;          // the sentence shown as the incident's cause
    bool transient = false; // kept, not acted upon
    Fix fix;

    bool operator==(const RemediationEntry &other) const = default;
};

// Incident code -> remedy and cause. Read once from the app's resource
// remediation_registry.json; a missing, unreadable or malformed file gives an
// empty table (nothing reported), and a few built-in rules hold whatever the
// table says: security-locked codes never get a remedy, a code waiting for
// approval gets approve, and no code / "UNKNOWN" / "" / an unregistered code
// gets getHelp.
struct RemediationRegistry {
    QHash<QString, RemediationEntry> remediations; // keys compared exactly

    RemediationRegistry() = default;
    // Keeps every entry; one whose fix kind or consent lies outside its valid
    // set gets the fix kind "none" with consent "always".
    explicit RemediationRegistry(const QHash<QString, RemediationEntry> &remediations);

    // The process-wide registry, built on first use (thread-safe).
    static const RemediationRegistry &shared();

    static const QSet<QString> &validFixKinds();
    static const QSet<QString> &validConsentValues();
    static const QSet<QString> &securityLockedCodes();

    IncidentAction action(const std::optional<QString> &code) const;
    QString cause(const std::optional<QString> &code) const;

    // The entries of a registry file, or nothing when any part of it does not
    // decode under the strict rules.
    static std::optional<QHash<QString, RemediationEntry>> decode(const QByteArray &json);
    // A registry from a file; empty when the file is missing or does not decode.
    static RemediationRegistry fromFile(const std::optional<QString> &path);

    bool operator==(const RemediationRegistry &other) const = default;
};
