#pragma once

#include <QSettings>
#include <QString>

#include <memory>

// The app's user defaults (`varno_has_ever_scanned`, `varno_onboarding_done`, …):
// an INI file of the app's own, so that tests and a second build never share
// or touch another's settings.
//
// The file is $VARNO_SETTINGS_FILE when set, else
// <config home>/VARNO/org.varno.workshop.ini.
namespace UserDefaults {

QString filePath();

// A settings object on the defaults file. Objects on the same file share
// Qt's cache, so opening one per use is cheap.
std::unique_ptr<QSettings> open();

} // namespace UserDefaults
