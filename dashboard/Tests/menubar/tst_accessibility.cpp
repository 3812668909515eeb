#include "TestRegistry.h"
#include "TestSupport.h"

#include "screenshots/ScreenshotRegistry.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QLineEdit>
#include <QTest>

// Every control a person can reach must say what it is to assistive
// technology: a button by its text or its accessible name, a text field by
// its accessible name or placeholder.
class TestAccessibleNames : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void everyControlOfEverySceneIsNamed()
    {
        ScreenshotRegistry registry;
        registerScreenshotScenes(registry);
        QVERIFY(!registry.scenes().isEmpty());
        QStringList unnamed;
        for (const ScreenshotScene &scene : registry.scenes()) {
            std::unique_ptr<QWidget> widget(scene.create());
            QVERIFY2(widget, qPrintable(scene.name));
            widget->resize(scene.size);
            widget->show();
            QCoreApplication::processEvents();
            for (QAbstractButton *button : widget->findChildren<QAbstractButton *>()) {
                if (!button->isVisibleTo(widget.get()))
                    continue;
                const QString name = QAccessible::queryAccessibleInterface(button)
                    ? QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name)
                    : QString();
                if (name.trimmed().isEmpty())
                    unnamed.append(scene.name + QStringLiteral(": ")
                                   + QString::fromLatin1(button->metaObject()->className()) + QLatin1Char(' ')
                                   + button->objectName());
            }
            for (QLineEdit *field : widget->findChildren<QLineEdit *>()) {
                if (field->isVisibleTo(widget.get()) && field->accessibleName().isEmpty()
                    && field->placeholderText().isEmpty())
                    unnamed.append(scene.name + QStringLiteral(": text field ") + field->objectName());
            }
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QStringLiteral("\n"))));
    }
};

VARNO_TEST_CLASS(TestAccessibleNames)

#include "tst_accessibility.moc"
