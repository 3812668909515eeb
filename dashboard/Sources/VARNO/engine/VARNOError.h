#pragma once

#include <QByteArray>
#include <QString>

#include <exception>
#include <stdexcept>

// The engine's own failures: its script or interpreter is missing, it exited
// non-zero, or what it printed does not decode. Engine calls throw other types
// too: ProcessLaunchError and EngineArgumentError (below), RecordDecodingError
// and RecordEncodingError (records/RecordCodingError.h), CLIBootstrapError
// (installing the engine). The model catches failures at the top of each
// action and shows localizedDescription() (below), which covers them all.
class VARNOError : public std::exception {
public:
    enum class Kind {
        scriptNotFound,  // payload: path()
        processFailure,  // payload: code(), stderrText()
        invalidJSON,     // payload: text()
        python3NotFound, // no payload
    };

    static VARNOError scriptNotFound(const QString &path);
    static VARNOError processFailure(qint32 code, const QString &stderrText);
    static VARNOError invalidJSON(const QString &text);
    static VARNOError python3NotFound();

    Kind kind() const { return m_kind; }
    // scriptNotFound: the path of the missing engine script.
    QString path() const { return m_kind == Kind::scriptNotFound ? m_text : QString(); }
    // processFailure: the exit status (signed; a signal's number when the child died of it).
    qint32 code() const { return m_code; }
    // processFailure: the engine's standard error as text (with the truncation note when it was cut).
    QString stderrText() const { return m_kind == Kind::processFailure ? m_text : QString(); }
    // invalidJSON: the beginning of what the engine printed instead.
    QString text() const { return m_kind == Kind::invalidJSON ? m_text : QString(); }

    // The sentence the user sees.
    QString errorDescription() const { return m_description; }

    // The text of a processFailure with this exit status and standard error.
    static QString describeProcessFailure(qint32 code, const QString &stderrText);

    const char *what() const noexcept override { return m_what.constData(); }

    bool operator==(const VARNOError &other) const
    {
        return m_kind == other.m_kind && m_code == other.m_code && m_text == other.m_text;
    }

private:
    VARNOError(Kind kind, qint32 code, QString text);
    QString describe() const;

    Kind m_kind;
    qint32 m_code = 0;
    QString m_text;
    // Made once, where the error is made: the text may be megabytes, and
    // whoever shows it (on the GUI thread) only shares it.
    QString m_description;
    QByteArray m_what;
};

// The child process could not be started at all (the interpreter is not
// executable, resources ran out, ...): the platform's own launch error,
// passed on unchanged.
class ProcessLaunchError : public std::runtime_error {
public:
    explicit ProcessLaunchError(const QString &message);
    QString errorDescription() const { return m_message; }

private:
    QString m_message;
};

// A value from the library or the user (a bundle id, an app name, a cask
// token) that begins with "-": the engine would read it as an option, so it is
// never passed on. Thrown before anything is started.
class EngineArgumentError : public std::invalid_argument {
public:
    EngineArgumentError(const QString &what, const QString &value);
    QString value() const { return m_value; }
    QString errorDescription() const { return m_message; }

private:
    QString m_value;
    QString m_message;
};

// The user-facing text of any failure of an engine call: errorDescription()
// for the types above, the exception's own message otherwise.
QString localizedDescription(const std::exception &error);
