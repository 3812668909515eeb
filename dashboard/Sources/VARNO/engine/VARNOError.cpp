#include "engine/VARNOError.h"

VARNOError::VARNOError(Kind kind, qint32 code, QString text)
    : m_kind(kind)
    , m_code(code)
    , m_text(std::move(text))
{
    m_description = describe();
    m_what = m_description.toUtf8();
}

VARNOError VARNOError::scriptNotFound(const QString &path)
{
    return VARNOError(Kind::scriptNotFound, 0, path);
}

VARNOError VARNOError::processFailure(qint32 code, const QString &stderrText)
{
    return VARNOError(Kind::processFailure, code, stderrText);
}

VARNOError VARNOError::invalidJSON(const QString &text)
{
    return VARNOError(Kind::invalidJSON, 0, text);
}

VARNOError VARNOError::python3NotFound()
{
    return VARNOError(Kind::python3NotFound, 0, QString());
}

QString VARNOError::describe() const
{
    switch (m_kind) {
    case Kind::scriptNotFound:
        return QStringLiteral("varno.py not found at ") + m_text + QStringLiteral(". Run install.sh to set up VARNO.");
    case Kind::processFailure:
        return describeProcessFailure(m_code, m_text);
    case Kind::invalidJSON:
        return QStringLiteral("Unexpected output from varno.py: ") + m_text;
    case Kind::python3NotFound:
        return QStringLiteral("python3 not found in expected system or Homebrew locations. Install Python 3 to continue.");
    }
    return QString();
}

QString VARNOError::describeProcessFailure(qint32 code, const QString &stderrText)
{
    const QString trimmed = stderrText.trimmed();
    if (code == 9)
        return QStringLiteral("The VARNO helper was force-stopped. Try again; if this repeats, open Workshop "
                              "\u2192 Diagnostics.");
    if (code == 15) {
        if (trimmed.isEmpty())
            return QStringLiteral("A VARNO helper timed out or was cancelled (library load, scan, or update). "
                                  "Try again; if the Workshop stays empty, open Diagnostics.");
        return QStringLiteral("A VARNO helper timed out or was cancelled. ") + trimmed;
    }
    if (trimmed.isEmpty())
        return QStringLiteral("Something went wrong running VARNO (exit %1). Open Workshop and run Diagnostics "
                              "for details.")
            .arg(code);
    return QStringLiteral("Something went wrong running VARNO. ") + trimmed + QStringLiteral(" (exit %1)").arg(code);
}

ProcessLaunchError::ProcessLaunchError(const QString &message)
    : std::runtime_error(message.toStdString())
    , m_message(message)
{
}

EngineArgumentError::EngineArgumentError(const QString &what, const QString &value)
    : std::invalid_argument(
        QStringLiteral("The %1 \u201C%2\u201D begins with \u201C-\u201D, so VARNO won\u2019t pass it to the engine.")
            .arg(what, value)
            .toStdString())
    , m_value(value)
    , m_message(QString::fromStdString(std::invalid_argument::what()))
{
}

QString localizedDescription(const std::exception &error)
{
    if (const auto *varno = dynamic_cast<const VARNOError *>(&error))
        return varno->errorDescription();
    if (const auto *launch = dynamic_cast<const ProcessLaunchError *>(&error))
        return launch->errorDescription();
    if (const auto *argument = dynamic_cast<const EngineArgumentError *>(&error))
        return argument->errorDescription();
    return QString::fromUtf8(error.what());
}
