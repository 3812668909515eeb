#pragma once

#include <QMainWindow>

// The main window, titled "VARNO Workshop".
class WorkshopWindow : public QMainWindow {
    Q_OBJECT

public:
    explicit WorkshopWindow(QWidget *parent = nullptr);
};
