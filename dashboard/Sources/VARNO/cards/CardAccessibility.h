#pragma once

#include <QAccessibleWidget>

class AppCardSimpleView;

// The simple card as assistive technology meets it: one button-like element
// that contains its children, labelled "name, status[, …]", with the hint
// "Views provenance and update history", the raw version-check status as its
// value and a press action that opens the provenance drawer.
class AppCardAccessible : public QAccessibleWidget {
public:
    explicit AppCardAccessible(AppCardSimpleView *card);

    QString text(QAccessible::Text t) const override;
    QStringList actionNames() const override;
    void doAction(const QString &actionName) override;
    QStringList keyBindingsForAction(const QString &actionName) const override;

private:
    AppCardSimpleView *card() const;
};

namespace CardAccessibility {
// Installs the factory once (safe to call for every card).
void install();
} // namespace CardAccessibility
