#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// The running app's bundle: VARNO.app/Contents/{MacOS,Info.plist,Resources}.
//
// The app executable is staged inside the bundle on every platform. A bare
// executable outside a bundle (a test program, a benchmark) has a main bundle
// without resources and with an empty information dictionary.
namespace MainBundle {

// The bundle folder ("…/VARNO.app"), or nothing outside a bundle.
std::optional<QString> path();

// Contents/Resources of the bundle, or nothing outside a bundle.
std::optional<QString> resourcesPath();

// The bundle's Info.plist as a dictionary; empty when absent or unreadable.
QVariantMap infoDictionary();

// A text value of the information dictionary, or nothing when absent or not text.
std::optional<QString> infoString(const QString &key);

// Contents/Resources/<name>.<extension> when that file exists.
std::optional<QString> urlForResource(const QString &name, const QString &extension);

// Points the main bundle somewhere else (tests); nothing restores the
// detection from the executable's location.
void setPathOverride(std::optional<QString> bundlePath);

} // namespace MainBundle
