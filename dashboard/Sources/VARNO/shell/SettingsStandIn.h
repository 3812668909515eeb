#pragma once

#include <QWidget>

class AppModel;

// Stands in for the Settings window until its panes are built: a small window
// that says so. It takes the shared model, as the real one will.
class SettingsStandIn : public QWidget {
    Q_OBJECT

public:
    explicit SettingsStandIn(AppModel *model, QWidget *parent = nullptr);
};
