#include "widgets/SheetFrame.h"

#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "platform/Appearance.h"
#include "platform/PlainText.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextLayout>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace SheetParts {

// --- TextBlock ---------------------------------------------------------------------------

namespace {

struct LaidOut {
    QStringList lines;
    qreal height = 0;
};

// Lays the text out line by line at `width`; past maxLines the last line is
// elided. Hard line breaks start new lines.
LaidOut layOut(const QString &text, const QFont &font, qreal lineSpacing, int maxLines, int width)
{
    LaidOut result;
    const QFontMetricsF metrics(font);
    const qreal lineHeight = metrics.height();
    const int available = qMax(1, width);
    QString remaining = text;
    remaining.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    const QStringList paragraphs = remaining.split(QLatin1Char('\n'));
    bool truncated = false;
    for (qsizetype p = 0; p < paragraphs.size() && !truncated; ++p) {
        const QString &paragraph = paragraphs.at(p);
        QTextLayout layout(paragraph, font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        for (;;) {
            QTextLine line = layout.createLine();
            if (!line.isValid())
                break;
            line.setLineWidth(available);
            if (maxLines > 0 && result.lines.size() == maxLines - 1) {
                // The last line allowed: the rest of the text, elided when it goes on.
                const QString rest = paragraph.mid(line.textStart());
                const bool more = p + 1 < paragraphs.size();
                QString shown = metrics.elidedText(rest, Qt::ElideRight, available);
                if (more && shown == rest)
                    shown = metrics.elidedText(rest + QStringLiteral("…"), Qt::ElideRight, available);
                result.lines.append(shown);
                truncated = true;
                break;
            }
            result.lines.append(paragraph.mid(line.textStart(), line.textLength()).trimmed());
        }
        layout.endLayout();
        if (paragraph.isEmpty() && !truncated && result.lines.isEmpty())
            result.lines.append(QString());
    }
    if (result.lines.isEmpty())
        result.lines.append(QString());
    const qsizetype count = result.lines.size();
    result.height = count * lineHeight + (count - 1) * lineSpacing;
    return result;
}

} // namespace

QStringList wrappedLines(const QString &text, const QFont &font, int maxLines, int width)
{
    return layOut(text, font, 0, maxLines, width).lines;
}

TextBlock::TextBlock(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent)
    : QWidget(parent)
    , m_text(text)
    , m_font(font)
    , m_color(color)
{
    setFont(font);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    setAccessibleName(text);
    VarnoColor::repaintOnAppearanceChange(this);
}

void TextBlock::setText(const QString &text)
{
    if (text == m_text)
        return;
    m_text = text;
    setAccessibleName(text);
    updateGeometry();
    update();
}

void TextBlock::setColor(const ColorPair &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TextBlock::setLineSpacing(qreal spacing)
{
    m_lineSpacing = spacing;
    updateGeometry();
}

void TextBlock::setMaxLines(int lines)
{
    m_maxLines = lines;
    updateGeometry();
}

QStringList TextBlock::linesAt(int width) const
{
    return layOut(m_text, m_font, m_lineSpacing, m_maxLines, width).lines;
}

int TextBlock::heightForWidth(int width) const
{
    return int(std::ceil(layOut(m_text, m_font, m_lineSpacing, m_maxLines, width).height));
}

QSize TextBlock::sizeHint() const
{
    const QFontMetricsF metrics(m_font);
    const int natural = int(std::ceil(metrics.horizontalAdvance(m_text))) + 1;
    const int width = qMin(natural, 380);
    return QSize(width, heightForWidth(width));
}

QSize TextBlock::minimumSizeHint() const
{
    return QSize(40, int(std::ceil(QFontMetricsF(m_font).height())));
}

void TextBlock::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(m_font);
    painter.setPen(m_color.resolved());
    const QFontMetricsF metrics(m_font);
    const LaidOut laid = layOut(m_text, m_font, m_lineSpacing, m_maxLines, width());
    qreal y = 0;
    for (const QString &line : laid.lines) {
        painter.drawText(QPointF(0, y + metrics.ascent()), line);
        y += metrics.height() + m_lineSpacing;
    }
}

// --- SymbolView --------------------------------------------------------------------------

SymbolView::SymbolView(const QString &symbol, int size, const ColorPair &color, QWidget *parent)
    : QWidget(parent)
    , m_symbol(symbol)
    , m_color(color)
{
    setFixedSize(size, size);
    VarnoColor::repaintOnAppearanceChange(this);
}

void SymbolView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    SymbolIcons::shared().paint(painter, QRectF(rect()), m_symbol, m_color.resolved());
}

// --- Spinner -----------------------------------------------------------------------------

Spinner::Spinner(int side, const ColorPair &color, QWidget *parent)
    : QWidget(parent)
    , m_color(color)
{
    setFixedSize(side, side);
    VarnoColor::repaintOnAppearanceChange(this);
}

void Spinner::paintArc(QPainter &painter, const QRectF &rect, const QColor &color, int angle)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = qMax<qreal>(1.4, rect.width() / 9);
    painter.setPen(QPen(color, pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(rect.adjusted(pen, pen, -pen, -pen), -angle * 16, 270 * 16);
    painter.restore();
}

void Spinner::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_timer && !Appearance::instance().reduceMotion())
        m_timer = startTimer(80);
}

void Spinner::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    if (m_timer) {
        killTimer(m_timer);
        m_timer = 0;
    }
}

void Spinner::timerEvent(QTimerEvent *)
{
    m_angle = (m_angle + 30) % 360;
    update();
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintArc(painter, QRectF(rect()), m_color.resolved(), m_angle);
}

// --- Card --------------------------------------------------------------------------------

Card::Card(QWidget *parent)
    : QWidget(parent)
    , m_column(new QVBoxLayout(this))
{
    m_column->setContentsMargins(12, 12, 12, 12);
    m_column->setSpacing(10);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    VarnoColor::repaintOnAppearanceChange(this);
}

void Card::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(path, VarnoColor::surface().resolved());
}

// --- Small parts -------------------------------------------------------------------------

QString bounded(const QString &text, qsizetype limit)
{
    const QString head = PlainText::prefixCharacters(text, limit);
    return head.size() < text.size() ? head + QStringLiteral("…") : text;
}

namespace {

class Divider : public QWidget {
public:
    explicit Divider(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(1);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        VarnoColor::repaintOnAppearanceChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), VarnoColor::border().resolved());
    }
};

} // namespace

QWidget *divider(QWidget *parent)
{
    return new Divider(parent);
}

QWidget *statusLine(const QString &symbol, const ColorPair &tint, const QString &title, QWidget *parent)
{
    auto *line = new QWidget(parent);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    row->addWidget(new SymbolView(symbol, 16, tint, line));
    QLabel *heading = Labels::plain(title, VarnoFont::ui(13, QFont::Medium), VarnoColor::textPrimary(), line);
    heading->setObjectName(QStringLiteral("status-title"));
    row->addWidget(heading, 1);
    return line;
}

TextBlock *bodyText(const QString &text, QWidget *parent)
{
    auto *block = new TextBlock(text, VarnoFont::ui(12), VarnoColor::textSecondary(), parent);
    block->setLineSpacing(3);
    return block;
}

QWidget *progressLine(const QString &text, QWidget *parent)
{
    auto *line = new QWidget(parent);
    auto *row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    // An indeterminate indicator at 0.7 of its 20-point size.
    auto *spinner = new Spinner(14, VarnoColor::textSecondary(), line);
    spinner->setAccessibleName(text);
    row->addWidget(spinner);
    row->addWidget(Labels::plain(text, VarnoFont::ui(12), VarnoColor::textSecondary(), line), 1);
    return line;
}

} // namespace SheetParts

// --- SheetFrame ----------------------------------------------------------------------------

SheetFrame::SheetFrame(int width, QWidget *parent)
    : QDialog(parent)
    , m_width(width)
{
    setWindowModality(Qt::WindowModal);
    setFixedWidth(width);
    VarnoColor::bindBackground(this, VarnoColor::background());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header, filled in by setHeader().
    auto *header = new QWidget(this);
    header->setObjectName(QStringLiteral("sheet-header"));
    auto *headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(20, 20, 20, 20);
    headerLayout->setSpacing(4);
    column->addWidget(header);
    column->addWidget(SheetParts::divider(this));

    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->viewport()->setAutoFillBackground(false);
    m_stateHost = new QWidget(m_scroll);
    m_stateHost->setObjectName(QStringLiteral("sheet-state"));
    m_stateHost->setAutoFillBackground(false);
    m_stateLayout = new QVBoxLayout(m_stateHost);
    m_stateLayout->setContentsMargins(20, 20, 20, 20);
    m_stateLayout->setSpacing(12);
    m_scroll->setWidget(m_stateHost);
    column->addWidget(m_scroll);

    column->addWidget(SheetParts::divider(this));
    auto *footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("sheet-footer"));
    auto *footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(14, 14, 14, 14);
    footerLayout->setSpacing(8);
    m_ghost = new StyledButton(QStringLiteral("Cancel"), GhostButtonStyle(), footer);
    m_primary = new StyledButton(QString(), PrimaryButtonStyle(), footer);
    m_primary->hide();
    footerLayout->addWidget(m_ghost);
    footerLayout->addWidget(m_primary);
    footerLayout->addStretch(1);
    column->addWidget(footer);
    connect(m_ghost, &QPushButton::clicked, this, &QDialog::reject);
}

void SheetFrame::setHeader(const QString &title, const QFont &titleFont, const QString &subtitle)
{
    auto *header = findChild<QWidget *>(QStringLiteral("sheet-header"));
    auto *layout = static_cast<QVBoxLayout *>(header->layout());
    QLabel *heading = Labels::plain(title, titleFont, VarnoColor::textPrimary(), header);
    heading->setObjectName(QStringLiteral("sheet-title"));
    heading->setWordWrap(true);
    layout->addWidget(heading);
    QLabel *sub = Labels::plain(subtitle, VarnoFont::ui(12), VarnoColor::textSecondary(), header);
    sub->setObjectName(QStringLiteral("sheet-subtitle"));
    sub->setWordWrap(true); // a long app name goes on to a second line rather than out of the sheet
    layout->addWidget(sub);
    setWindowTitle(title);
}

void SheetFrame::setStateView(QWidget *view)
{
    if (m_stateView) {
        m_stateLayout->removeWidget(m_stateView);
        m_stateView->hide();
        m_stateView->deleteLater();
    }
    m_stateView = view;
    if (view) {
        view->setParent(m_stateHost);
        m_stateLayout->addWidget(view);
        view->show();
        // Measured as it will be drawn: styles and fonts applied.
        view->ensurePolished();
    }
    fitToContent();
}

void SheetFrame::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    fitToContent();
}

void SheetFrame::fitToContent()
{
    // The state area is as tall as its content at the sheet's width, up to
    // the maximum; beyond that it scrolls.
    m_stateLayout->activate();
    const int content = m_stateLayout->hasHeightForWidth() ? m_stateLayout->totalHeightForWidth(m_width)
                                                           : m_stateLayout->totalSizeHint().height();
    m_scroll->setFixedHeight(qMin(content, kMaximumStateHeight));
    // A scroll bar only when the content is taller than the area.
    m_scroll->setVerticalScrollBarPolicy(content > kMaximumStateHeight ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    if (layout())
        layout()->activate();
    adjustSize();
}

QStringList SheetFrame::stateTexts() const
{
    QStringList texts;
    if (!m_stateView)
        return texts;
    const QList<QWidget *> widgets = m_stateView->findChildren<QWidget *>();
    for (QWidget *widget : widgets) {
        if (!widget->isVisibleTo(m_stateView))
            continue;
        if (auto *l = qobject_cast<QLabel *>(widget)) {
            if (!l->text().isEmpty())
                texts.append(l->text());
        } else if (auto *block = qobject_cast<SheetParts::TextBlock *>(widget)) {
            if (!block->text().isEmpty())
                texts.append(block->text());
        }
    }
    return texts;
}
