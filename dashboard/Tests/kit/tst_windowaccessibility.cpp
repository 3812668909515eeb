#include "TestRegistry.h"

#include "kit/WindowAccessibility.h"

#include <QAccessible>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <functional>
#include <memory>

namespace {

// A widget class of our own straight over QWidget, as Settings and the panel are.
class PlainView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
};

QAccessible::Role roleOf(QWidget *widget)
{
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    return accessible ? accessible->role() : QAccessible::NoRole;
}

} // namespace

class TestWindowAccessibility : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { WindowAccessibility::install(); }

    void rolesOfWindowsAndTheirContents_data()
    {
        QTest::addColumn<std::function<QWidget *(QWidget * host)>>("make");
        QTest::addColumn<int>("role");
        using Make = std::function<QWidget *(QWidget *)>;
        QTest::newRow("a plain view as a window")
            << Make([](QWidget *) { return new PlainView; }) << int(QAccessible::Window);
        QTest::newRow("a plain widget as a window")
            << Make([](QWidget *) { return new QWidget; }) << int(QAccessible::Window);
        QTest::newRow("a plain view inside a window")
            << Make([](QWidget *host) { return new PlainView(host); }) << int(QAccessible::Client);
        // Made without a parent (its interface asked for then), later taken in by a layout.
        QTest::newRow("a plain view taken in by a layout") << Make([](QWidget *host) {
            auto *view = new PlainView;
            QAccessible::queryAccessibleInterface(view);
            host->layout()->addWidget(view);
            return view;
        }) << int(QAccessible::Client);
        QTest::newRow("a dialog keeps its own")
            << Make([](QWidget *) { return new QDialog; }) << int(QAccessible::Dialog);
        QTest::newRow("a button keeps its own")
            << Make([](QWidget *host) { return new QPushButton(host); }) << int(QAccessible::Button);
        QTest::newRow("a label keeps its own")
            << Make([](QWidget *host) { return new QLabel(host); }) << int(QAccessible::StaticText);
    }

    void rolesOfWindowsAndTheirContents()
    {
        QFETCH(std::function<QWidget *(QWidget *)>, make);
        QFETCH(int, role);
        QWidget host;
        new QVBoxLayout(&host);
        QWidget *made = make(&host);
        const std::unique_ptr<QWidget> owned(made->parent() ? nullptr : made);
        QCOMPARE(int(roleOf(made)), role);
    }

    void aWindowTakenInStopsBeingOne()
    {
        auto *view = new PlainView;
        QCOMPARE(roleOf(view), QAccessible::Window);
        QWidget host;
        auto *layout = new QVBoxLayout(&host);
        layout->addWidget(view);
        QCOMPARE(roleOf(view), QAccessible::Client);
        view->setParent(nullptr);
        const std::unique_ptr<QWidget> owned(view);
        QCOMPARE(roleOf(view), QAccessible::Window);
    }
};

VARNO_TEST_CLASS(TestWindowAccessibility)

#include "tst_windowaccessibility.moc"
