#include "workshop/ViewHelpers.h"

#include "kit/Labels.h"
#include "kit/VarnoColor.h"

#include <QScrollBar>

FittedLabel::FittedLabel(const QString &text, Qt::TextElideMode mode, QWidget *parent)
    : QLabel(parent)
    , m_mode(mode)
{
    setTextFormat(Qt::PlainText);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    setFullText(text);
}

void FittedLabel::setFullText(const QString &text)
{
    m_full = text;
    setToolTip(Labels::toolTip(text));
    setAccessibleName(text);
    QLabel::setText(text);
    updateGeometry();
    elide();
}

QSize FittedLabel::minimumSizeHint() const
{
    return QSize(0, QLabel::minimumSizeHint().height());
}

void FittedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void FittedLabel::elide()
{
    const QString shown = fontMetrics().elidedText(m_full, m_mode, std::max(0, width()));
    if (shown != text())
        QLabel::setText(shown);
}

void styleScrollBar(QScrollBar *bar)
{
    if (!bar)
        return;
    VarnoColor::onAppearanceChange(bar, [bar] {
        const QString handle = VarnoColor::textTertiary().resolved(0.45).name(QColor::HexArgb);
        const QString hover = VarnoColor::textTertiary().resolved(0.7).name(QColor::HexArgb);
        bar->setStyleSheet(QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 2px; }"
                                          "QScrollBar::handle:vertical { background: %1; border-radius: 3px;"
                                          " min-height: 24px; }"
                                          "QScrollBar::handle:vertical:hover { background: %2; }"
                                          "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical"
                                          " { height: 0px; }"
                                          "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical"
                                          " { background: transparent; }")
                               .arg(handle, hover));
    });
}

namespace WorkshopParts {

QWidget *divider(QWidget *parent)
{
    auto *line = new QWidget(parent);
    line->setFixedHeight(1);
    VarnoColor::bindBackground(line, VarnoColor::border());
    return line;
}

} // namespace WorkshopParts
