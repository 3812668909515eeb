#include "kit/WindowAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace {

class PlainWidgetAccessible : public QAccessibleWidget {
public:
    explicit PlainWidgetAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Client)
    {
    }

    // Asked each time: a widget made without a parent is a window until a
    // layout takes it in.
    QAccessible::Role role() const override { return widget()->isWindow() ? QAccessible::Window : QAccessible::Client; }
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    // Qt asks the factories for each class of the object from the most
    // derived up; reaching QWidget means no class below it has an interface
    // of its own, and Qt's would be a client area.
    if (className != QLatin1String("QWidget") || !object || !object->isWidgetType())
        return nullptr;
    return new PlainWidgetAccessible(static_cast<QWidget *>(object));
}

} // namespace

namespace WindowAccessibility {

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

} // namespace WindowAccessibility
