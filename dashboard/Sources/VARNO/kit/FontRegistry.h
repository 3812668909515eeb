#pragma once

#include <QStringList>

// Registers the type faces that ship in the bundle's Resources/fonts folder.
// A file that does not load is logged and skipped: the design tokens fall back
// to their named fallback faces, the app never fails for a font.
namespace FontRegistry {

// Loads every .ttf and .otf below <resources>/fonts once per process and
// returns the families that were added.
QStringList registerBundledFonts();

// Loads the font files below one folder; returns the families added.
QStringList registerFontsIn(const QString &folder);

} // namespace FontRegistry
