#include "platform/UserDefaults.h"

#include "platform/VarnoPaths.h"

namespace UserDefaults {

QString filePath()
{
    const QString explicitFile = qEnvironmentVariable("VARNO_SETTINGS_FILE");
    if (!explicitFile.isEmpty())
        return explicitFile;
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty())
        configHome = VarnoPaths::inHome(QStringLiteral(".config"));
    return configHome + QStringLiteral("/VARNO/org.varno.workshop.ini");
}

std::unique_ptr<QSettings> open()
{
    return std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
}

} // namespace UserDefaults
