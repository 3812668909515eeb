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
    return VarnoTest::engineCommands();
}

ShellEngine::ShellEngine(const QByteArray &body)
{
    const QString path = VarnoPaths::engineScript();
    if (!VarnoTest::writeFile(path, body))
        qFatal("Couldn't write the fake engine %s", qPrintable(path));
}

ShellEngine::~ShellEngine() = default;

} // namespace SettingsOpsTest
