#include "workshop/WorkshopWindow.h"

WorkshopWindow::WorkshopWindow(QWidget *parent)
    : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("VARNO Workshop"));
    setMinimumSize(900, 600);
    resize(1100, 720);
}
