#include "engine/CLIBootstrapError.h"

namespace {

const char *const bundledCLIMissingText = "No bundled CLI in app Resources. This is a packaging bug.";

} // namespace

CLIBootstrapError::CLIBootstrapError(Kind kind)
    : m_kind(kind)
{
}

void CLIBootstrapError::finish()
{
    m_what = errorDescription().toUtf8();
}

CLIBootstrapError CLIBootstrapError::copyFailed(const QString &underlying, const QString &rendering)
{
    CLIBootstrapError error(Kind::copyFailed);
    error.m_underlying = underlying;
    error.m_rendering = rendering;
    error.finish();
    return error;
}

CLIBootstrapError CLIBootstrapError::copyFailedBundledCLIMissing()
{
    return copyFailed(QString::fromUtf8(bundledCLIMissingText), QStringLiteral("bundledCLIMissing"));
}

CLIBootstrapError CLIBootstrapError::migrationFailed(int exitCode, const QString &stderrText)
{
    CLIBootstrapError error(Kind::migrationFailed);
    error.m_exitCode = exitCode;
    error.m_stderr = stderrText;
    error.finish();
    return error;
}

CLIBootstrapError CLIBootstrapError::selftestFailed(int exitCode, const QString &stderrText)
{
    CLIBootstrapError error(Kind::selftestFailed);
    error.m_exitCode = exitCode;
    error.m_stderr = stderrText;
    error.finish();
    return error;
}

CLIBootstrapError CLIBootstrapError::hashMismatch(const QString &file, const QString &expected, const QString &actual)
{
    CLIBootstrapError error(Kind::hashMismatch);
    error.m_file = file;
    error.m_expected = expected;
    error.m_actual = actual;
    error.finish();
    return error;
}

CLIBootstrapError CLIBootstrapError::bundledCLIMissing()
{
    CLIBootstrapError error(Kind::bundledCLIMissing);
    error.finish();
    return error;
}

QString CLIBootstrapError::errorDescription() const
{
    switch (m_kind) {
    case Kind::copyFailed:
        return QStringLiteral("VARNO couldn't finish setting up its helper tools: ") + m_underlying;
    case Kind::migrationFailed:
        return QStringLiteral("VARNO couldn't prepare its database (setup exit %1). Open Diagnostics for "
                              "details, or reinstall VARNO.")
            .arg(m_exitCode);
    case Kind::selftestFailed:
        return QStringLiteral("VARNO's helper tools didn't pass their startup check (exit %1). Open "
                              "Diagnostics for details, or reinstall VARNO.")
            .arg(m_exitCode);
    case Kind::hashMismatch:
        // "(manifest)" brings its own parentheses.
        if (m_file.startsWith(QLatin1Char('(')) && m_file.endsWith(QLatin1Char(')')))
            return QStringLiteral("VARNO's helper tools failed an integrity check ") + m_file
                + QStringLiteral(". Reinstall VARNO.");
        return QStringLiteral("VARNO's helper tools failed an integrity check (") + m_file
            + QStringLiteral("). Reinstall VARNO.");
    case Kind::bundledCLIMissing:
        return QString::fromUtf8(bundledCLIMissingText);
    }
    return QString();
}

std::optional<QString> CLIBootstrapError::detail() const
{
    switch (m_kind) {
    case Kind::copyFailed:
        return m_rendering;
    case Kind::migrationFailed:
    case Kind::selftestFailed:
        if (m_stderr.isEmpty())
            return std::nullopt;
        return m_stderr;
    case Kind::hashMismatch:
        return QStringLiteral("file=") + m_file + QStringLiteral(" expected=") + m_expected + QStringLiteral(" actual=")
            + m_actual;
    case Kind::bundledCLIMissing:
        return std::nullopt;
    }
    return std::nullopt;
}

bool CLIBootstrapError::operator==(const CLIBootstrapError &other) const
{
    return m_kind == other.m_kind && m_underlying == other.m_underlying && m_rendering == other.m_rendering
        && m_exitCode == other.m_exitCode && m_stderr == other.m_stderr && m_file == other.m_file
        && m_expected == other.m_expected && m_actual == other.m_actual;
}
