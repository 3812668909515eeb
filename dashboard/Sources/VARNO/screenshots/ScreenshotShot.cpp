// Drawing one scene as the screenshot tool draws it, and the checks that the
// drawn scene shows the state it is named for.

#include "screenshots/ScreenshotRegistry.h"

#include <QApplication>
#include <QVariant>

#include <memory>

namespace {

// The texts a widget shows: its text property (labels, buttons, fields) and
// its accessible name (what painted widgets say of themselves).
QStringList shownTextsOf(const QWidget *widget)
{
    QStringList texts;
    const QVariant text = widget->property("text");
    if (text.canConvert<QString>() && !text.toString().isEmpty())
        texts.append(text.toString());
    if (!widget->accessibleName().isEmpty())
        texts.append(widget->accessibleName());
    return texts;
}

} // namespace

void ScreenshotCheck::expect(bool holds, const QString &what)
{
    if (!holds)
        m_missing.append(what);
}

bool ScreenshotCheck::showsText(const QString &text) const
{
    if (!m_scene)
        return false;
    QList<QWidget *> widgets = m_scene->findChildren<QWidget *>();
    widgets.prepend(m_scene);
    for (const QWidget *widget : std::as_const(widgets)) {
        if (widget != m_scene && !widget->isVisibleTo(m_scene))
            continue;
        for (const QString &shown : shownTextsOf(widget)) {
            if (shown.contains(text))
                return true;
        }
    }
    return false;
}

void ScreenshotCheck::expectText(const QString &text)
{
    expect(showsText(text), QStringLiteral("the text \"%1\"").arg(text));
}

void ScreenshotCheck::expectNoText(const QString &text)
{
    expect(!showsText(text), QStringLiteral("no text \"%1\"").arg(text));
}

ScreenshotShot takeScreenshot(const ScreenshotScene &scene)
{
    ScreenshotShot shot;
    if (!ScreenshotLibrary::resetHome())
        shot.missing.append(QStringLiteral("a home as the demo library left it"));
    std::unique_ptr<QWidget> widget(scene.create ? scene.create() : nullptr);
    if (!widget) {
        shot.missing.append(QStringLiteral("the scene's widget"));
        return shot;
    }
    widget->resize(scene.size);
    widget->show();
    // The first frame and what it leaves for the next turns of the event
    // loop (the shelf measures the rows below its view then).
    for (int turn = 0; turn < 20; ++turn)
        QApplication::processEvents();
    shot.picture = widget->grab();
    ScreenshotCheck check(widget.get());
    if (scene.check)
        scene.check(check);
    else
        check.expect(false, QStringLiteral("a check of the scene's state"));
    shot.missing += check.missing();
    return shot;
}
