#pragma once

#include <QImage>
#include <QString>
#include <QStringList>

#include <optional>

// Finds the app's own resource files (JSON registries, images). The bundle's
// Contents/Resources comes first; after it, for a development build or a test
// program, the folders "Resources", "dashboard/Resources" and
// "VARNO.app/Contents/Resources" (the bundle a build folder stages) inside the
// executable's folder and inside each of its ancestors (at most 20 folders,
// nearest first).
//
// The ancestor list, the search roots and the source Info.plist location are
// worked out once per process from the first command-line argument (made
// absolute and cleaned, symbolic links not resolved); only the final
// existence checks run on every call.
class ResourceLocator {
public:
    ResourceLocator() = delete;

    static constexpr int maxAncestors = 20;

    // The first existing <name>.<extension>, or nothing.
    static std::optional<QString> url(const QString &forResource, const QString &withExtension);

    // An image of that name: the bundle's own image first, else the first of
    // <name>.png, .pdf, .svg, .icns that exists; nothing when that file does not
    // decode (later extensions are not tried) or none exists.
    static std::optional<QImage> image(const QString &named);

    // The nearest Sources/VARNO/Info.plist or dashboard/Sources/VARNO/Info.plist
    // in the executable's ancestors, else the nearest VARNO.app/Contents/Info.plist
    // (a build folder's staged bundle), for version facts that the running
    // bundle's Info.plist lacks.
    static std::optional<QString> cachedInfoPlistURL();

    static QStringList executableAncestors();
    static QStringList searchRoots();

    // The rules on their own, for a given executable path.
    static QStringList ancestorsOf(const QString &executablePath);
    static QStringList searchRootsFor(const QStringList &ancestors);

    // Test hook: works the cached values out again from this executable path
    // (or from the process's first argument again, with nullopt).
    static void setExecutablePathForTesting(std::optional<QString> executablePath);
};
