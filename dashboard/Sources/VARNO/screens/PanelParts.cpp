#include "screens/PanelParts.h"

#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>

namespace PanelParts {

QFont trackedFont(qreal size, QFont::Weight weight, qreal tracking)
{
    QFont font = VarnoFont::ui(size, weight);
    font.setLetterSpacing(QFont::AbsoluteSpacing, tracking);
    return font;
}

QWidget *divider(QWidget *parent)
{
    auto *line = new QWidget(parent);
    line->setFixedHeight(1);
    VarnoColor::bindBackground(line, VarnoColor::border());
    return line;
}

bool systemSettingsAvailable()
{
#ifdef Q_OS_MACOS
    return true;
#else
    return false;
#endif
}

QString systemSettingsUnavailableReason()
{
    return QStringLiteral("System Settings panes exist only on macOS; this desktop has none to open.");
}

} // namespace PanelParts

// --- PanelsStatusDot -------------------------------------------------------------------

PanelsStatusDot::PanelsStatusDot(int diameter, int topInset, QWidget *parent)
    : QWidget(parent)
    , m_diameter(diameter)
    , m_topInset(topInset)
    , m_color(VarnoColor::textTertiary())
{
    setFixedSize(diameter, diameter + topInset);
    VarnoColor::repaintOnAppearanceChange(this);
}

void PanelsStatusDot::setColor(const ColorPair &color)
{
    m_color = color;
    update();
}

void PanelsStatusDot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_color.resolved());
    painter.drawEllipse(QRectF(0, m_topInset, m_diameter, m_diameter));
}

// --- PanelsSymbol -----------------------------------------------------------------

PanelsSymbol::PanelsSymbol(const QString &symbol, const ColorPair &color, int box, int topInset, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(color)
    , m_box(box)
    , m_topInset(topInset)
{
    setFixedSize(box, box + topInset);
    VarnoColor::repaintOnAppearanceChange(this);
}

void PanelsSymbol::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    update();
}

void PanelsSymbol::setColor(const ColorPair &color, qreal opacity)
{
    m_color = color;
    m_opacity = opacity;
    update();
}

void PanelsSymbol::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    SymbolIcons::shared().paint(painter, QRectF(0, m_topInset, m_box, m_box), m_symbol, m_color.resolved(m_opacity));
}

// --- PanelsRoundedPanel ----------------------------------------------------------------

PanelsRoundedPanel::PanelsRoundedPanel(const ColorPair &fill, qreal radius, QWidget *parent)
    : QWidget(parent)
    , m_fill(fill)
    , m_radius(radius)
{
    VarnoColor::repaintOnAppearanceChange(this);
}

void PanelsRoundedPanel::setStroke(const ColorPair &stroke, qreal opacity)
{
    m_stroke = stroke;
    m_strokeOpacity = opacity;
    update();
}

void PanelsRoundedPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, m_radius, m_radius);
    painter.fillPath(path, m_fill.resolved());
    if (m_stroke) {
        painter.setPen(QPen(m_stroke->resolved(m_strokeOpacity), 1));
        painter.drawPath(path);
    }
}

// --- PanelsSwitch -----------------------------------------------------------------

PanelsSwitch::PanelsSwitch(const QString &accessibleName, QWidget *parent)
    : QAbstractButton(parent)
    , m_labelArea(new QWidget(this))
{
    setCheckable(true);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(accessibleName);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    m_labelArea->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *layout = new QVBoxLayout(m_labelArea);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    // A label that changes asks the switch to lay out again.
    m_labelArea->installEventFilter(this);
    VarnoColor::repaintOnAppearanceChange(this);
}

int PanelsSwitch::labelHeightFor(int labelWidth) const
{
    const QLayout *layout = m_labelArea->layout();
    if (layout && layout->hasHeightForWidth())
        return layout->totalHeightForWidth(labelWidth);
    return m_labelArea->sizeHint().height();
}

QSize PanelsSwitch::sizeHint() const
{
    const int width = m_labelArea->sizeHint().width() + 12 + kTrackWidth + 4;
    return QSize(width, heightForWidth(width));
}

int PanelsSwitch::heightForWidth(int width) const
{
    return qMax(labelHeightFor(labelWidthFor(width)), kTrackHeight) + 4;
}

QSize PanelsSwitch::minimumSizeHint() const
{
    return QSize(kTrackWidth + 80, sizeHint().height());
}

bool PanelsSwitch::hitButton(const QPoint &pos) const
{
    return rect().contains(pos);
}

void PanelsSwitch::resizeEvent(QResizeEvent *event)
{
    QAbstractButton::resizeEvent(event);
    placeLabel();
}

void PanelsSwitch::placeLabel()
{
    const int labelWidth = labelWidthFor(width());
    const int labelHeight = qMin(height(), labelHeightFor(labelWidth));
    m_labelArea->setGeometry(0, (height() - labelHeight) / 2, labelWidth, labelHeight);
}

bool PanelsSwitch::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_labelArea && event->type() == QEvent::LayoutRequest) {
        updateGeometry();
        placeLabel();
    }
    return QAbstractButton::eventFilter(watched, event);
}

void PanelsSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal opacity = isEnabled() ? 1.0 : 0.45;
    const QRectF track(width() - kTrackWidth - 2, (height() - kTrackHeight) / 2.0, kTrackWidth, kTrackHeight);
    QPainterPath path;
    path.addRoundedRect(track, kTrackHeight / 2.0, kTrackHeight / 2.0);
    painter.fillPath(path,
                     isChecked() ? VarnoColor::success().resolved(opacity)
                                 : VarnoColor::surfaceHover().resolved(opacity));
    painter.setPen(QPen(VarnoColor::border().resolved(opacity), 1));
    painter.drawPath(path);
    const qreal knob = kTrackHeight - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? VarnoColor::white().resolved() : VarnoColor::textSecondary().resolved(opacity));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setPen(QPen(VarnoColor::accent().resolved(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(track.adjusted(-2, -2, 2, 2), kTrackHeight / 2.0 + 2, kTrackHeight / 2.0 + 2);
    }
}
