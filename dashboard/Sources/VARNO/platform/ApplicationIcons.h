#pragma once

#include <QHash>
#include <QImage>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

// Where an installed application's icon comes from, found by its bundle id.
// Lookups may block (they read files) and are made off the GUI thread, so
// every implementation is safe to call from any thread.
//
// - DesktopEntryIcons (the default) looks for the desktop entry named after
//   the id (<id>.desktop under $XDG_DATA_HOME and $XDG_DATA_DIRS, the
//   reverse-DNS names of the freedesktop convention) and loads its Icon=: an
//   absolute file, or a name found in the icon themes (the given theme, then
//   hicolor, largest size first, then scalable) or in pixmaps.
// - MapApplicationIcons answers from a table, for tests and screenshots.
class ApplicationIconSource {
public:
    virtual ~ApplicationIconSource() = default;
    virtual std::optional<QImage> iconFor(const QString &bundleId) = 0;
};

namespace ApplicationIcons {

std::shared_ptr<ApplicationIconSource> shared();
// Replaces the source; nullptr restores the desktop entries'.
void setShared(std::shared_ptr<ApplicationIconSource> source);

} // namespace ApplicationIcons

class DesktopEntryIcons : public ApplicationIconSource {
public:
    // `dataDirs`: the XDG data folders, in order (empty: $XDG_DATA_HOME, then
    // $XDG_DATA_DIRS or /usr/local/share:/usr/share). `themeName`: the icon
    // theme looked in before hicolor (may be empty).
    explicit DesktopEntryIcons(QStringList dataDirs = {}, QString themeName = {});

    std::optional<QImage> iconFor(const QString &bundleId) override;

    // The Icon= value of a desktop entry's [Desktop Entry] group; nothing when
    // the file cannot be read or has none.
    static std::optional<QString> iconKey(const QString &desktopFile);
    // A bundle id that can name a desktop file: no slash, not "." or "..".
    static bool isUsableId(const QString &bundleId);

    QStringList dataDirs() const { return m_dataDirs; }

private:
    std::optional<QString> iconFile(const QString &iconName) const;

    QStringList m_dataDirs;
    QString m_themeName;
};

class MapApplicationIcons : public ApplicationIconSource {
public:
    std::optional<QImage> iconFor(const QString &bundleId) override;
    void set(const QString &bundleId, const QImage &image);
    void remove(const QString &bundleId);
    int lookups(const QString &bundleId) const;

private:
    mutable QMutex m_mutex;
    QHash<QString, QImage> m_images;
    QHash<QString, int> m_lookups;
};
