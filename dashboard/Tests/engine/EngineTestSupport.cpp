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

} // namespace EngineTest
