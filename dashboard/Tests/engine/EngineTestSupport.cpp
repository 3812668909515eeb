#include "EngineTestSupport.h"

#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace EngineTest {

QString installScript(const QByteArray &body)
{
    const QString path = VarnoPaths::engineScript();
    if (!VarnoTest::writeFile(path, body))
        qFatal("Couldn't write the fake engine %s", qPrintable(path));
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

ShellInterpreter::ShellInterpreter()
{
    VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
}

ShellInterpreter::~ShellInterpreter()
{
    VARNOProcess::setPython3OverrideForTesting(std::nullopt);
}

namespace {

QMutex captureMutex;
QStringList *captured = nullptr;
QtMessageHandler previousHandler = nullptr;

void captureHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    {
        QMutexLocker lock(&captureMutex);
        if (captured)
            captured->append(message);
    }
    if (previousHandler)
        previousHandler(type, context, message);
}

} // namespace

LogCapture::LogCapture()
{
    QMutexLocker lock(&captureMutex);
    captured = new QStringList;
    previousHandler = qInstallMessageHandler(captureHandler);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(previousHandler);
    QMutexLocker lock(&captureMutex);
    delete captured;
    captured = nullptr;
    previousHandler = nullptr;
}

QStringList LogCapture::messages() const
{
    QMutexLocker lock(&captureMutex);
    return captured ? *captured : QStringList();
}

int LogCapture::count(const QString &message) const
{
    return int(messages().count(message));
}

int LogCapture::countStartingWith(const QString &prefix) const
{
    int n = 0;
    for (const QString &message : messages())
        n += message.startsWith(prefix) ? 1 : 0;
    return n;
}

bool installStagedEngine()
{
    const QString source = VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/cli");
    if (!QFileInfo::exists(source + QStringLiteral("/varno.py")))
        return false;
    const QString target = VarnoPaths::engineDir();
    QDirIterator it(source, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.contains(QStringLiteral("/__pycache__/")))
            continue;
        const QString relative = QDir(source).relativeFilePath(file);
        const QString destination = target + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(destination).absolutePath());
        QFile::remove(destination);
        if (!QFile::copy(file, destination))
            return false;
    }
    return true;
}

} // namespace EngineTest
