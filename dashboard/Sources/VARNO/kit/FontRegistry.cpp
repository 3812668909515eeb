#include "kit/FontRegistry.h"

#include "base/Logging.h"
#include "platform/MainBundle.h"

#include <QDirIterator>
#include <QFontDatabase>

namespace FontRegistry {

QStringList registerFontsIn(const QString &folder)
{
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.ttf"), QStringLiteral("*.otf")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort(); // the same order on every run

    QStringList families;
    for (const QString &file : std::as_const(files)) {
        const int id = QFontDatabase::addApplicationFont(file);
        if (id < 0) {
            qCWarning(lcVarno) << "Couldn't load the font file" << file << "- its fallback face applies.";
            continue;
        }
        for (const QString &family : QFontDatabase::applicationFontFamilies(id)) {
            if (!families.contains(family))
                families.append(family);
        }
    }
    return families;
}

QStringList registerBundledFonts()
{
    static const QStringList families = [] {
        const auto resources = MainBundle::resourcesPath();
        return resources ? registerFontsIn(*resources + QStringLiteral("/fonts")) : QStringList();
    }();
    return families;
}

} // namespace FontRegistry
