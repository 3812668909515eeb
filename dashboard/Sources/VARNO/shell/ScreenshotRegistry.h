#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <functional>

// The views that the screenshot tool renders. Each subsystem adds its windows,
// sheets and panel states in registerScreenshotScenes(); the tool renders every
// scene in dark and in light.
struct ScreenshotScene {
    QString name;                              // file name stem, e.g. "workshop-window"
    QSize size;                                // the size to render at
    std::function<QWidget *()> create;         // builds the widget, owned by the caller
};

class ScreenshotRegistry {
public:
    void add(ScreenshotScene scene) { m_scenes.append(std::move(scene)); }
    const QList<ScreenshotScene> &scenes() const { return m_scenes; }

private:
    QList<ScreenshotScene> m_scenes;
};

// Registers every scene of every subsystem.
void registerScreenshotScenes(ScreenshotRegistry &registry);
