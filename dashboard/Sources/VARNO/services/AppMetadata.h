#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <QVariantMap>

#include <optional>

// Which version of the app this is and since when it is installed, for the
// sidebar's footer and the support report.
//
// Each value falls back from the app bundle's Info.plist to the Info.plist of
// the development tree (found by the resource locator) and last to fixed
// defaults. The values are computed once per process, on first use, and may
// be read from any thread.
class AppMetadata {
public:
    static QString version();            // CFBundleShortVersionString, else "0.9.14"
    static QString build();              // CFBundleVersion, else "30"
    static QString shortVersionLabel();  // "v" + version
    static QString installedDateLabel(); // e.g. "Mar 4", else "updated recently"

    // A non-empty text value of the bundle's Info.plist ("?" counts as
    // missing there), else of the development Info.plist; nothing otherwise.
    static std::optional<QString> bundleValue(const QString &key);

    // Where the values come from. current() reads the running app: the main
    // bundle's dictionary, the resource locator's development Info.plist and
    // the executable named by the first command-line argument.
    struct Sources {
        QVariantMap bundleInfo;
        std::optional<QString> developmentInfoPlist;
        QString executablePath;

        static Sources current();
    };

    // The same rules over given sources (tests; the statics use current()).
    static std::optional<QString> bundleValue(const Sources &sources, const QString &key);
    static QString version(const Sources &sources);
    static QString build(const Sources &sources);
    static std::optional<QDateTime> installDate(const Sources &sources);
    // The month abbreviation and the day, in the locale's order ("Mar 4", "4 Mar").
    static QString formatInstalledDate(const QDateTime &date, const QLocale &locale = QLocale());
    static QString installedDateLabel(const Sources &sources, const QLocale &locale = QLocale());

    // Forgets the computed values so the next read computes them anew (tests).
    static void resetForTesting();
};
