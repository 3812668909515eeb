#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <optional>

// Why installing or checking the engine failed. Thrown by the engine bootstrap.
class CLIBootstrapError : public std::exception {
public:
    enum class Kind { copyFailed, migrationFailed, selftestFailed, hashMismatch, bundledCLIMissing };

    // The copy stopped; underlying is the cause's user-facing text, rendering
    // its plain diagnostic form (for the failure log).
    static CLIBootstrapError copyFailed(const QString &underlying, const QString &rendering);
    // The copy could not start because the shipped engine cannot be listed.
    static CLIBootstrapError copyFailedBundledCLIMissing();
    static CLIBootstrapError migrationFailed(int exitCode, const QString &stderrText);
    static CLIBootstrapError selftestFailed(int exitCode, const QString &stderrText);
    static CLIBootstrapError hashMismatch(const QString &file, const QString &expected, const QString &actual);
    static CLIBootstrapError bundledCLIMissing();

    Kind kind() const { return m_kind; }
    // copyFailed
    QString underlying() const { return m_underlying; }
    QString underlyingRendering() const { return m_rendering; }
    // migrationFailed, selftestFailed
    int exitCode() const { return m_exitCode; }
    QString stderrText() const { return m_stderr; }
    // hashMismatch
    QString file() const { return m_file; }
    QString expected() const { return m_expected; }
    QString actual() const { return m_actual; }

    // The sentence the user sees.
    QString errorDescription() const;
    // What support reads in bootstrap.err below the sentence.
    std::optional<QString> detail() const;

    const char *what() const noexcept override { return m_what.constData(); }

    bool operator==(const CLIBootstrapError &other) const;

private:
    explicit CLIBootstrapError(Kind kind);
    void finish();

    Kind m_kind;
    QString m_underlying;
    QString m_rendering;
    int m_exitCode = 0;
    QString m_stderr;
    QString m_file;
    QString m_expected;
    QString m_actual;
    QByteArray m_what;
};
