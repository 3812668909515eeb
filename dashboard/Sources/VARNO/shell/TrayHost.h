#pragma once

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class AppModel;
class QMenu;
class QSystemTrayIcon;
class QWidget;

// The menu-bar extra's label: the template icon "MenuBarIconTemplate" tinted
// to the text colour in an 18 x 18 frame (the character U+1F9AB in its place
// when the image is missing), then, 3 px on, the number of outdated apps in
// 12 px semibold when there are any.
namespace MenuBarLabel {

constexpr int iconSide = 18;
constexpr int spacing = 3;
constexpr int countPixelSize = 12;

QString fallbackGlyph();
// The outdated count as a plain integer, or "" when nothing is outdated.
QString countText(const AppModel &model);
std::optional<QImage> templateIcon();
// The label drawn at `devicePixelRatio`; its logical height is iconSide.
QImage render(const std::optional<QImage> &icon, const QString &count, const QColor &tint, qreal devicePixelRatio = 1.0);
// "VARNO Workshop", and the outdated count when there is one.
QString toolTip(const AppModel &model);

} // namespace MenuBarLabel

// Hosts the menu-bar panel. With a system tray, the label is the tray icon and
// a click opens the panel as a frameless popup beside it. Without one (and
// under tests) the panel is a small tool window, shown at start and reachable
// again by starting the app once more.
class TrayHost : public QObject {
    Q_OBJECT

public:
    using PanelFactory = std::function<QWidget *()>;

    TrayHost(AppModel *model, PanelFactory makePanel, bool useTray, QObject *parent = nullptr);
    ~TrayHost() override;

    static bool trayAvailable();

    bool hasTray() const { return m_tray != nullptr; }
    QSystemTrayIcon *trayIcon() const { return m_tray; }
    // The panel, made on first use.
    QWidget *panel();
    void showPanel();
    // The tray's context menu (Open Workshop, Quit VARNO), when there is a tray.
    void setContextMenu(QMenu *menu);

    // The label as it stands now (also the tray's icon).
    QImage labelImage() const;
    void refreshLabel();

private:
    void placePopup(QWidget *popup) const;

    QPointer<AppModel> m_model;
    PanelFactory m_makePanel;
    QPointer<QWidget> m_panel;
    QSystemTrayIcon *m_tray = nullptr;
    bool m_placed = false;
};
