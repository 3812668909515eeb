#include "SettingsOpsSupport.h"

#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>

namespace SettingsOpsTest {

bool installStagedEngine()
{
    const QString source = VarnoTest::stagedBundlePath() + QStringLiteral("/Contents/Resources/cli");
    if (!QFileInfo::exists(source + QStringLiteral("/varno.py")))
        return false;
    const QString target = VarnoPaths::engineDir();
    QDirIterator it(source, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString relative = QDir(source).relativeFilePath(file);
        const QString destination = target + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(destination).absolutePath());
        QFile::remove(destination);
        if (!QFile::copy(file, destination))
            return false;
    }
    return true;
}

QByteArray runEngine(const QStringList &arguments)
{
    return VarnoTest::await(VARNOProcess::run(arguments, 120.0));
}

void setKnob(const QByteArray &ruleJson)
{
    runEngine({QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("set"), QString::fromUtf8(ruleJson)});
}

QList<QStringList> journal()
{
    QList<QStringList> entries;
    const QByteArray text = runEngine({QStringLiteral("sim"), QStringLiteral("journal")});
    for (const QByteArray &line : text.split('\n')) {
        const QList<QByteArray> parts = line.split('\t');
        if (parts.size() < 4)
            continue;
        QStringList argv;
        const QJsonArray array = QJsonDocument::fromJson(parts.mid(3).join('\t')).array();
        for (const QJsonValue &value : array)
            argv.append(value.toString());
        if (argv.size() >= 2 && argv.at(0) == QLatin1String("--engine-contract-version"))
            argv.remove(0, 2);
        entries.append(argv);
    }
    return entries;
}

ShellEngine::ShellEngine(const QByteArray &body)
{
    const QString path = VarnoPaths::engineScript();
    if (!VarnoTest::writeFile(path, body))
        qFatal("Couldn't write the fake engine %s", qPrintable(path));
    VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
}

ShellEngine::~ShellEngine()
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

} // namespace SettingsOpsTest
