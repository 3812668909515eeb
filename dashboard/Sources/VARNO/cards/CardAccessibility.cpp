#include "cards/CardAccessibility.h"

#include "cards/AppCardSimpleView.h"

AppCardAccessible::AppCardAccessible(AppCardSimpleView *card)
    : QAccessibleWidget(card, QAccessible::Button)
{
    addControllingSignal(QStringLiteral("destroyed()"));
}

AppCardSimpleView *AppCardAccessible::card() const
{
    return static_cast<AppCardSimpleView *>(widget());
}

QString AppCardAccessible::text(QAccessible::Text t) const
{
    switch (t) {
    case QAccessible::Name:
        return card()->accessibilityLabel();
    case QAccessible::Description:
        return AppCardSimpleView::accessibilityHint();
    case QAccessible::Value:
        return card()->app().versionCheckStatus();
    default:
        return QAccessibleWidget::text(t);
    }
}

QStringList AppCardAccessible::actionNames() const
{
    return QStringList{pressAction()} + QAccessibleWidget::actionNames();
}

void AppCardAccessible::doAction(const QString &actionName)
{
    if (actionName == pressAction()) {
        card()->openProvenance();
        return;
    }
    QAccessibleWidget::doAction(actionName);
}

QStringList AppCardAccessible::keyBindingsForAction(const QString &actionName) const
{
    if (actionName == pressAction())
        return {QStringLiteral("Return")};
    return QAccessibleWidget::keyBindingsForAction(actionName);
}

namespace CardAccessibility {

namespace {

QAccessibleInterface *cardAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("AppCardSimpleView") && object && object->isWidgetType())
        return new AppCardAccessible(static_cast<AppCardSimpleView *>(object));
    return nullptr;
}

} // namespace

void install()
{
    static const bool installed = [] {
        QAccessible::installFactory(cardAccessibleFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace CardAccessibility
