#include "menubar/MenuBarPanelParts.h"

#include "kit/SymbolIcons.h"
#include "kit/TextLines.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

ColorPair statToneColor(StatTone tone)
{
    switch (tone) {
    case StatTone::primary:
        return VarnoColor::textPrimary();
    case StatTone::secondary:
        return VarnoColor::textSecondary();
    case StatTone::alert:
        break;
    }
    return VarnoColor::dangerText();
}

// --- PanelStatCell ---------------------------------------------------------

PanelStatCell::PanelStatCell(const QString &label, QWidget *parent)
    : QWidget(parent)
    , m_value(new QLabel(this))
    , m_caption(new QLabel(label.toUpper(), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(m_value, 0, Qt::AlignHCenter);
    layout->addWidget(m_caption, 0, Qt::AlignHCenter);
    m_value->setTextFormat(Qt::PlainText);
    m_caption->setTextFormat(Qt::PlainText);
    m_value->setFont(VarnoFont::ui(22, QFont::DemiBold));
    m_caption->setFont(VarnoFont::mono(10));
    VarnoColor::bindForeground(m_caption, VarnoColor::textTertiary());
    VarnoColor::onAppearanceChange(this, [this] { applyTone(); });
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void PanelStatCell::setValue(const QString &value, StatTone tone)
{
    m_value->setText(value);
    m_tone = tone;
    applyTone();
}

QString PanelStatCell::value() const
{
    return m_value->text();
}

void PanelStatCell::applyTone()
{
    QPalette palette = m_value->palette();
    palette.setColor(QPalette::WindowText, statToneColor(m_tone).resolved());
    m_value->setPalette(palette);
}

// --- PanelSymbol -----------------------------------------------------------

PanelSymbol::PanelSymbol(const QString &symbol, const ColorPair &color, int side, bool glow, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(color)
    , m_side(side)
    , m_glow(glow)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    VarnoColor::repaintOnAppearanceChange(this);
}

void PanelSymbol::setSymbol(const QString &symbol, const ColorPair &color)
{
    if (symbol == m_symbol && color == m_color)
        return;
    m_symbol = symbol;
    m_color = color;
    update();
}

QSize PanelSymbol::sizeHint() const
{
    // Room for the glow around the symbol.
    const int margin = m_glow ? 3 : 0;
    return QSize(m_side + 2 * margin, m_side + 2 * margin);
}

void PanelSymbol::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box((width() - m_side) / 2.0, (height() - m_side) / 2.0, m_side, m_side);
    if (m_glow) {
        // A soft halo: the symbol drawn larger and faint a few times, then
        // the symbol itself on top.
        const QColor halo = m_color.resolved(0.6);
        QColor faint = halo;
        faint.setAlphaF(halo.alphaF() * 0.25);
        for (const qreal grow : {3.0, 2.0, 1.0}) {
            painter.save();
            painter.setOpacity(0.5);
            SymbolIcons::shared().paint(painter, box.adjusted(-grow, -grow, grow, grow), m_symbol, faint);
            painter.restore();
        }
    }
    SymbolIcons::shared().paint(painter, box, m_symbol, m_color.resolved());
}

// --- PanelProgressBar --------------------------------------------------------

PanelProgressBar::PanelProgressBar(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(6);
    VarnoColor::repaintOnAppearanceChange(this);
}

void PanelProgressBar::setFraction(double fraction)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == m_fraction)
        return;
    m_fraction = fraction;
    update();
}

void PanelProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(0, (height() - 4) / 2.0, width(), 4);
    QPainterPath trackPath;
    trackPath.addRoundedRect(track, 2, 2);
    painter.fillPath(trackPath, VarnoColor::border().resolved());
    if (m_fraction > 0) {
        painter.setClipPath(trackPath);
        QPainterPath fill;
        fill.addRoundedRect(QRectF(track.left(), track.top(), track.width() * m_fraction, track.height()), 2, 2);
        painter.fillPath(fill, VarnoColor::accent().resolved());
    }
}

// --- PanelDivider --------------------------------------------------------------

PanelDivider::PanelDivider(Qt::Orientation orientation, int length, QWidget *parent)
    : QWidget(parent)
{
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    } else {
        setFixedSize(1, length);
    }
    VarnoColor::repaintOnAppearanceChange(this);
}

void PanelDivider::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VarnoColor::border().resolved());
}

// --- PanelElidedLabel ----------------------------------------------------------------

void PanelElidedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    painter.drawText(area, int(alignment()), fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
}

// --- PanelLineLimitedLabel -----------------------------------------------------------

PanelLineLimitedLabel::PanelLineLimitedLabel(int maxLines, QWidget *parent)
    : QLabel(parent)
    , m_maxLines(qMax(1, maxLines))
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    QSizePolicy policy = sizePolicy();
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QStringList PanelLineLimitedLabel::linesFor(int width) const
{
    return TextLines::limited(text(), font(), m_maxLines, width);
}

int PanelLineLimitedLabel::heightForWidth(int width) const
{
    const QMargins margins = contentsMargins();
    const qsizetype count = linesFor(width - margins.left() - margins.right()).size();
    return int(qMax<qsizetype>(1, count)) * fontMetrics().lineSpacing() + margins.top() + margins.bottom();
}

QSize PanelLineLimitedLabel::sizeHint() const
{
    const int width = qMin(fontMetrics().horizontalAdvance(text()), 240);
    return QSize(width, heightForWidth(width));
}

QSize PanelLineLimitedLabel::minimumSizeHint() const
{
    return QSize(0, fontMetrics().lineSpacing());
}

void PanelLineLimitedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QRect area = contentsRect();
    int y = area.top();
    for (const QString &line : linesFor(area.width())) {
        painter.drawText(QRect(area.left(), y, area.width(), fontMetrics().lineSpacing()),
                         Qt::AlignLeft | Qt::AlignVCenter, line);
        y += fontMetrics().lineSpacing();
    }
}
