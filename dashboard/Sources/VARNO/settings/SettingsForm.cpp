#include "settings/SettingsForm.h"

#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

namespace SettingsForm {

QWidget *divider(const ColorPair &color, int spacing, QWidget *parent)
{
    auto *holder = new QWidget(parent);
    auto *layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, spacing, 0, spacing);
    auto *line = new QWidget(holder);
    line->setFixedHeight(1);
    VarnoColor::bindBackground(line, color);
    layout->addWidget(line);
    return holder;
}

QVBoxLayout *scrollingPage(QWidget *pane, const QString &pageName, int spacing)
{
    auto *outer = new QVBoxLayout(pane);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(pane);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll);

    auto *page = new QWidget(scroll);
    page->setObjectName(pageName);
    scroll->setWidget(page);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 16, 20, 16);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace SettingsForm

// --- SettingsGroup -------------------------------------------------------------

SettingsGroup::SettingsGroup(QWidget *parent)
    : QWidget(parent)
    , m_rows(new QVBoxLayout(this))
{
    m_rows->setContentsMargins(12, 10, 12, 10);
    m_rows->setSpacing(10);
    VarnoColor::repaintOnAppearanceChange(this);
}

void SettingsGroup::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, 8, 8);
    painter.fillPath(path, VarnoColor::surface().resolved(0.55));
    painter.setPen(QPen(VarnoColor::border().resolved(), 1));
    painter.drawPath(path);
}

// --- SettingsSection -----------------------------------------------------------

SettingsSection::SettingsSection(const QString &header, const QFont &headerFont, QWidget *parent)
    : QWidget(parent)
    , m_header(SettingsForm::label(header, headerFont, VarnoColor::textSecondary(), false, this))
    , m_group(new SettingsGroup(this))
    , m_footer(new QVBoxLayout)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    m_header->setContentsMargins(4, 0, 0, 0);
    layout->addWidget(m_header);
    layout->addWidget(m_group);
    m_footer->setContentsMargins(4, 0, 4, 0);
    m_footer->setSpacing(4);
    layout->addLayout(m_footer);
}

void SettingsSection::addRow(QWidget *row)
{
    m_group->rows()->addWidget(row);
}

void SettingsSection::addRow(QLayout *row)
{
    m_group->rows()->addLayout(row);
}

QLabel *SettingsSection::addFooterText(const QString &text, const QFont &font, const ColorPair &color)
{
    QLabel *footer = SettingsForm::label(text, font, color, true, this);
    m_footer->addWidget(footer);
    return footer;
}

// --- ToggleSwitch --------------------------------------------------------------

ToggleSwitch::ToggleSwitch(const QString &text, QWidget *parent)
    : QAbstractButton(parent)
{
    setText(text);
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(text);
    setFont(VarnoFont::ui(13));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    VarnoColor::repaintOnAppearanceChange(this);
}

QSize ToggleSwitch::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(text()) + 12 + kTrackWidth + 4, qMax(metrics.height(), kTrackHeight) + 4);
}

QSize ToggleSwitch::minimumSizeHint() const
{
    return QSize(kTrackWidth + 40, sizeHint().height());
}

bool ToggleSwitch::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void ToggleSwitch::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal opacity = isEnabled() ? 1.0 : 0.45;

    const QRectF track(width() - kTrackWidth - 2, (height() - kTrackHeight) / 2.0, kTrackWidth, kTrackHeight);
    const QRectF textRect(0, 0, track.left() - 12, height());
    painter.setPen(VarnoColor::textPrimary().resolved(opacity));
    painter.setFont(font());
    const QString shown = QFontMetrics(font()).elidedText(text(), Qt::ElideRight, int(textRect.width()));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, shown);

    QPainterPath path;
    path.addRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    painter.fillPath(path,
                     isChecked() ? VarnoColor::accent().resolved(opacity) : VarnoColor::surfaceHover().resolved(opacity));
    painter.setPen(QPen(VarnoColor::border().resolved(opacity), 1));
    painter.drawPath(path);

    const qreal knob = kTrackHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? VarnoColor::background().resolved(opacity)
                                 : VarnoColor::textSecondary().resolved(opacity));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(VarnoColor::accent().resolved(0.8), 2));
        painter.drawRoundedRect(track.adjusted(-2, -2, 2, 2), kTrackHeight / 2.0 + 2, kTrackHeight / 2.0 + 2);
    }
}
