#pragma once

// How text from a library shows in labels, message boxes and tooltips, for
// the tests that plant markup in records: text from the engine must show as
// it is written, never as rich text.

#include <QAction>
#include <QLabel>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QWidget>

namespace VarnoTest {

// The link every planted text carries.
inline QString plantedHref()
{
    return QStringLiteral("file:///etc/passwd");
}

// A text as a crafted record might carry it: read as markup, it would show
// as a live link to a local file followed by red text.
inline QString plantedMarkup(const QString &text)
{
    return QStringLiteral("<a href=\"") + plantedHref() + QStringLiteral("\">") + text
        + QStringLiteral("</a><span style=\"color:red\"> is damaged: press Quit</span>");
}

// Whether a widget that reads `text` in `format` (a label's textFormat();
// Qt::AutoText for a tooltip) takes it for rich text.
inline bool readsAsRichText(const QString &text, Qt::TextFormat format)
{
    return format == Qt::RichText || format == Qt::MarkdownText || (format == Qt::AutoText && Qt::mightBeRichText(text));
}

// What a person sees of `text` read in `format`: the text itself, or what
// the rich text renders.
inline QString shownText(const QString &text, Qt::TextFormat format)
{
    if (!readsAsRichText(text, format))
        return text;
    QTextDocument document;
    if (format == Qt::MarkdownText)
        document.setMarkdown(text);
    else
        document.setHtml(text);
    return document.toPlainText();
}

// Whether `text`, read in `format`, renders planted markup: as a link or a
// coloured run, or with the planted tags gone from what shows.
inline bool rendersPlantedMarkup(const QString &text, Qt::TextFormat format)
{
    if (!text.contains(plantedHref()) || !readsAsRichText(text, format))
        return false;
    QTextDocument document;
    if (format == Qt::MarkdownText)
        document.setMarkdown(text);
    else
        document.setHtml(text);
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat charFormat = it.fragment().charFormat();
            if (charFormat.isAnchor() || charFormat.hasProperty(QTextFormat::ForegroundBrush))
                return true;
        }
    }
    return !document.toPlainText().contains(QStringLiteral("<a href=\"") + plantedHref());
}

inline QString describeWidget(const QWidget *widget)
{
    QString name = QString::fromLatin1(widget->metaObject()->className());
    if (!widget->objectName().isEmpty())
        name += QLatin1Char(' ') + widget->objectName();
    return name;
}

// `root` and every widget under it.
inline QList<QWidget *> widgetTree(QWidget *root)
{
    QList<QWidget *> widgets = root->findChildren<QWidget *>();
    widgets.prepend(root);
    return widgets;
}

// Every label (a message box's own among them), tooltip and action tooltip
// under `root` that renders planted markup, described with its text.
inline QStringList plantedMarkupRendered(QWidget *root)
{
    QStringList found;
    for (QWidget *widget : widgetTree(root)) {
        const QString where = describeWidget(widget);
        if (auto *label = qobject_cast<QLabel *>(widget);
            label && rendersPlantedMarkup(label->text(), label->textFormat()))
            found << where + QStringLiteral(" shows: ") + label->text();
        if (rendersPlantedMarkup(widget->toolTip(), Qt::AutoText))
            found << where + QStringLiteral(" tooltip: ") + widget->toolTip();
        for (const QAction *action : widget->actions()) {
            if (rendersPlantedMarkup(action->toolTip(), Qt::AutoText))
                found << where + QStringLiteral(" action tooltip: ") + action->toolTip();
        }
    }
    return found;
}

// How many texts under `root` (labels, tooltips, window titles, accessible
// names and descriptions) hold a planted text at all.
inline int plantedTextsHeld(QWidget *root)
{
    int held = 0;
    for (QWidget *widget : widgetTree(root)) {
        if (auto *label = qobject_cast<QLabel *>(widget); label && label->text().contains(plantedHref()))
            ++held;
        for (const QString &text :
             {widget->toolTip(), widget->windowTitle(), widget->accessibleName(), widget->accessibleDescription()})
            held += text.contains(plantedHref()) ? 1 : 0;
        for (const QAction *action : widget->actions())
            held += action->toolTip().contains(plantedHref()) ? 1 : 0;
    }
    return held;
}

} // namespace VarnoTest
