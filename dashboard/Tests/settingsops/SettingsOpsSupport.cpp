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
}

ShellEngine::~ShellEngine() = default;

} // namespace SettingsOpsTest
