#include "workshop/StatusBarView.h"

#include "kit/BrandArtwork.h"
#include "kit/Labels.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/ModelChanges.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace {

class StatusStripElementAccessible : public QAccessibleWidget {
public:
    explicit StatusStripElementAccessible(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::StaticText)
    {
    }

    int childCount() const override { return 0; }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
};

QAccessibleInterface *statusStripElementAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("StatusStripElement") && object && object->isWidgetType())
        return new StatusStripElementAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

// --- StatusStripElement ------------------------------------------------------------------

StatusStripElement::StatusStripElement(QWidget *parent)
    : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(statusStripElementAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

// --- SymbolMark --------------------------------------------------------------------------

SymbolMark::SymbolMark(int side, QWidget *parent)
    : QWidget(parent)
    , m_side(side)
{
    setFixedSize(side, side);
    VarnoColor::repaintOnAppearanceChange(this);
}

void SymbolMark::setSymbol(const QString &symbol, const ColorPair &color)
{
    if (symbol == m_symbol && color == m_color)
        return;
    m_symbol = symbol;
    m_color = color;
    update();
}

QSize SymbolMark::sizeHint() const
{
    return QSize(m_side, m_side);
}

void SymbolMark::paintEvent(QPaintEvent *)
{
    if (m_symbol.isEmpty())
        return;
    QPainter painter(this);
    SymbolIcons::shared().paint(painter, QRectF(rect()), m_symbol, m_color.resolved());
}

// --- StatusBarView -----------------------------------------------------------------------

StatusBarView::StatusBarView(AppModel *model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
{
    using namespace StatusBarRules;
    setObjectName(QStringLiteral("statusBar"));
    VarnoColor::repaintOnAppearanceChange(this);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(24);
    for (const Cell which : cells()) {
        auto *cell = new StatusStripElement(this);
        auto *column = new QVBoxLayout(cell);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(1);
        QLabel *value = Labels::plain(QString(), VarnoFont::mono(15, QFont::Medium), valueColor(which), cell);
        QLabel *caption = Labels::plain(QString(), VarnoFont::mono(11, QFont::Medium), VarnoColor::textTertiary(), cell);
        caption->setText(label(which));
        column->addWidget(value);
        column->addWidget(caption);
        cell->setToolTip(tooltip(label(which)));
        row->addWidget(cell);
        m_cells.append(cell);
        m_values.append(value);
    }
    row->addStretch(1);

    m_chip = new StatusStripElement(this);
    auto *chip = new QHBoxLayout(m_chip);
    chip->setContentsMargins(0, 0, 0, 0);
    chip->setSpacing(8);
    m_tone = new SymbolMark(12, m_chip);
    chip->addWidget(m_tone);
    chip->addWidget(new BruskView(20, BruskVariant::sentry, m_chip));
    QFont titleFont = VarnoFont::brusk(13, QFont::Light);
    titleFont.setItalic(true);
    m_title = Labels::plain(QString(), titleFont, VarnoColor::textSecondary(), m_chip);
    chip->addWidget(m_title);
    row->addWidget(m_chip);

    if (m_model) {
        using F = ModelChanges::Field;
        ModelChanges::follow(m_model, this, F::apps | F::error | F::lastScanDate | F::hasEverScanned,
                             [this] { refresh(); });
    }
    refresh();
}

QWidget *StatusBarView::cell(StatusBarRules::Cell cell) const
{
    return m_cells.value(StatusBarRules::cells().indexOf(cell));
}

QString StatusBarView::cellValue(StatusBarRules::Cell cell) const
{
    const QLabel *value = m_values.value(StatusBarRules::cells().indexOf(cell));
    return value ? value->text() : QString();
}

QString StatusBarView::postureTitle() const
{
    return m_title->text();
}

void StatusBarView::refresh()
{
    using namespace StatusBarRules;
    if (!m_model)
        return;
    const LibraryFilters::Counts counts = LibraryFilters::counts(*m_model);
    for (qsizetype i = 0; i < cells().size(); ++i) {
        const Cell which = cells().at(i);
        const qsizetype value = count(counts, which);
        m_values.at(i)->setText(QString::number(value));
        m_cells.at(i)->setAccessibleName(accessibleLabel(label(which), value));
    }
    const PosturePresentation posture = PosturePresenter::statusBar(snapshot(*m_model));
    m_tone->setSymbol(toneSymbol(posture.tone), VarnoColor::tone(PosturePresenter::tone(posture.tone)));
    m_title->setText(posture.title);
    m_chip->setAccessibleName(chipAccessibleLabel(posture));
}

void StatusBarView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VarnoColor::background().resolved());
    painter.fillRect(QRect(0, 0, width(), 1), VarnoColor::border().resolved());
}
