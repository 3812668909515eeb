#include "workshop/GhostViews.h"

#include "base/Async.h"
#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/PlainText.h"
#include "workshop/GhostRules.h"
#include "workshop/StatusBarView.h"
#include "workshop/ToolbarAreaView.h"
#include "workshop/ViewHelpers.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <qcoro/qcorofuture.h>

namespace {

QFont italic(QFont font)
{
    font.setItalic(true);
    return font;
}

// The letter tile of a ghost row.
class InitialTile : public QWidget {
public:
    InitialTile(const QString &letter, QWidget *parent)
        : QWidget(parent)
        , m_letter(letter)
    {
        setFixedSize(36, 36);
        VarnoColor::repaintOnAppearanceChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(VarnoColor::surface().resolved());
        painter.drawRoundedRect(QRectF(rect()), 8, 8);
        painter.setFont(VarnoFont::ui(16, QFont::Medium));
        painter.setPen(VarnoColor::textSecondary().resolved());
        painter.drawText(rect(), Qt::AlignCenter, m_letter);
    }

private:
    QString m_letter;
};

// A status badge: the text in its colour on a capsule of that colour at 0.1.
class StatusBadge : public QLabel {
public:
    StatusBadge(const QString &text, const ColorPair &color, QWidget *parent)
        : QLabel(text, parent)
        , m_color(color)
    {
        setTextFormat(Qt::PlainText);
        setFont(VarnoFont::mono(11));
        setContentsMargins(8, 3, 8, 3);
        VarnoColor::bindForeground(this, color);
    }
    ColorPair color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        {
            QPainter painter(this);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(Qt::NoPen);
            painter.setBrush(m_color.resolved(0.1));
            const qreal radius = height() / 2.0;
            painter.drawRoundedRect(QRectF(rect()), radius, radius);
        }
        QLabel::paintEvent(event);
    }

private:
    ColorPair m_color;
};

// One ghost: tile, name over cask token or install path, status mark.
class GhostRow : public QWidget {
public:
    GhostRow(const GhostAppRecord &ghost, const QHash<QString, QString> &brewStatus, QWidget *parent)
        : QWidget(parent)
    {
        auto *row = new QHBoxLayout(this);
        row->setContentsMargins(14, 10, 14, 10);
        row->setSpacing(12);
        row->addWidget(new InitialTile(GhostRules::initial(ghost.app_name), this));
        auto *lines = new QVBoxLayout();
        lines->setSpacing(2);
        const QString shownName = PlainText::forField(ghost.app_name);
        QLabel *name = Labels::plain(shownName, VarnoFont::ui(13, QFont::Medium), VarnoColor::textPrimary(), this);
        lines->addWidget(name);
        m_detail = GhostRules::rowDetail(ghost);
        auto *detail = new FittedLabel(m_detail, Qt::ElideMiddle, this);
        detail->setFont(VarnoFont::mono(11));
        VarnoColor::bindForeground(detail,
                                   ghost.cask_token.isEmpty() ? VarnoColor::textTertiary() : VarnoColor::textSecondary());
        lines->addWidget(detail);
        row->addLayout(lines, 1);
        switch (GhostRules::mark(ghost, brewStatus)) {
        case GhostRules::Mark::badge: {
            const QString status = brewStatus.value(ghost.bundle_id);
            // As tall as its text and padding, centred on the row.
            row->addWidget(new StatusBadge(status, VarnoColor::tone(GhostRules::badgeColor(status)), this), 0,
                           Qt::AlignVCenter);
            m_mark = status;
            break;
        }
        case GhostRules::Mark::unchecked:
            m_mark = GhostRules::uncheckedHelp();
            row->addWidget(symbol(QStringLiteral("questionmark.circle"), VarnoColor::textTertiary(), m_mark));
            break;
        case GhostRules::Mark::removed:
            m_mark = GhostRules::removedHelp();
            row->addWidget(symbol(QStringLiteral("checkmark.circle"), VarnoColor::success(), m_mark));
            break;
        }
        setAccessibleName(shownName);
        VarnoColor::repaintOnAppearanceChange(this);
    }

    QString markText() const { return m_mark; }
    QString detailText() const { return m_detail; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(VarnoColor::border().resolved(), 1));
        painter.setBrush(VarnoColor::surface().resolved());
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    }

private:
    QWidget *symbol(const QString &name, const ColorPair &color, const QString &help)
    {
        auto *mark = new SymbolMark(16, this);
        mark->setSymbol(name, color);
        mark->setToolTip(help);
        mark->setAccessibleName(help);
        return mark;
    }

    QString m_mark;
    QString m_detail;
};

} // namespace

// --- TextRuns ----------------------------------------------------------------------------

TextRuns::TextRuns(QWidget *parent)
    : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    VarnoColor::repaintOnAppearanceChange(this);
}

void TextRuns::setRuns(QList<Run> runs)
{
    m_runs = std::move(runs);
    setAccessibleName(text());
    updateGeometry();
    update();
}

QString TextRuns::text() const
{
    QString all;
    for (const Run &run : m_runs)
        all += run.text;
    return all;
}

QSize TextRuns::sizeHint() const
{
    int width = 0;
    int height = 0;
    for (const Run &run : m_runs) {
        const QFontMetrics metrics(run.font);
        width += metrics.horizontalAdvance(run.text);
        height = std::max(height, metrics.height());
    }
    return QSize(width, height);
}

QSize TextRuns::minimumSizeHint() const
{
    return QSize(0, sizeHint().height());
}

void TextRuns::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    int ascent = 0;
    for (const Run &run : m_runs)
        ascent = std::max(ascent, QFontMetrics(run.font).ascent());
    const int baseline = (height() - sizeHint().height()) / 2 + ascent;
    qreal x = 0;
    for (const Run &run : m_runs) {
        painter.setFont(run.font);
        painter.setPen(run.color.resolved());
        painter.drawText(QPointF(x, baseline), run.text);
        x += QFontMetricsF(run.font).horizontalAdvance(run.text);
    }
}

// --- GhostBannerView ---------------------------------------------------------------------

GhostBannerView::GhostBannerView(AppModel *model, std::function<void()> showGhosts, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_message(new TextRuns(this))
    , m_review(new StyledButton(QStringLiteral("Review"), GhostButtonStyle(), this))
    , m_close(new StyledButton(ButtonStyle(), this))
{
    setObjectName(QStringLiteral("ghostBanner"));
    VarnoColor::repaintOnAppearanceChange(this);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 8, 16, 8);
    row->setSpacing(8);
    row->addWidget(new BruskView(28, BruskVariant::craftsman, this));
    row->addWidget(m_message);
    row->addStretch(1);
    row->addWidget(m_review);
    connect(m_review, &QPushButton::clicked, this, [showGhosts] {
        if (showGhosts)
            showGhosts();
    });
    // The close mark, in the plain style (no chrome).
    ButtonStyle plain;
    plain.text = VarnoColor::textSecondary();
    m_close->setButtonStyle(plain);
    m_close->setFont(VarnoFont::ui(11));
    m_close->setSymbol(QStringLiteral("xmark"));
    m_close->setAccessibleName(QStringLiteral("Close"));
    row->addWidget(m_close);
    connect(m_close, &QPushButton::clicked, this, [this] {
        if (m_model)
            m_model->dismissGhosts();
    });
    if (m_model)
        connect(m_model, &AppModel::ghostAppsChanged, this, &GhostBannerView::refresh);
    refresh();
}

QString GhostBannerView::message() const
{
    return m_message->text();
}

void GhostBannerView::refresh()
{
    const qsizetype count = m_model ? m_model->ghostApps().size() : 0;
    const QFont face = VarnoFont::brusk(13, QFont::Light);
    m_message->setRuns({{QStringLiteral("Brusk removed "), face, VarnoColor::textSecondary()},
                        {GhostRules::countText(count), italic(face), VarnoColor::attention()},
                        {QStringLiteral(" that are no longer on disk."), face, VarnoColor::textSecondary()}});
}

void GhostBannerView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VarnoColor::warning().resolved(0.08));
    painter.fillRect(QRect(0, height() - 1, width(), 1), VarnoColor::warning().resolved(0.2));
}

// --- GhostAppsView -----------------------------------------------------------------------

GhostAppsView::GhostAppsView(AppModel *model, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
{
    setObjectName(QStringLiteral("ghostApps"));
    setWindowTitle(QStringLiteral("Ghost apps"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    VarnoColor::bindBackground(this, VarnoColor::background());
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // Header: title and subtitle, Done.
    auto *header = new QWidget(this);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(20, 20, 20, 20);
    auto *titles = new QVBoxLayout();
    titles->setSpacing(4);
    auto *title = new TextRuns(header);
    const QFont face = VarnoFont::brusk(20, QFont::Light);
    title->setRuns({{QStringLiteral("Brusk found "), face, VarnoColor::textPrimary()},
                    {QStringLiteral("some ghosts."), italic(face), VarnoColor::accent()}});
    titles->addWidget(title);
    m_subtitle = Labels::plain(QString(), VarnoFont::ui(13), VarnoColor::textSecondary(), header);
    titles->addWidget(m_subtitle);
    headerRow->addLayout(titles, 1);
    m_done = new StyledButton(QStringLiteral("Done"), GhostButtonStyle(), header);
    m_done->setDefault(true);
    headerRow->addWidget(m_done, 0, Qt::AlignTop);
    connect(m_done, &QPushButton::clicked, this, &GhostAppsView::dismissAndClose);
    column->addWidget(header);
    column->addWidget(WorkshopParts::divider(this));

    // The rows.
    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    styleScrollBar(scroll->verticalScrollBar());
    m_list = new QWidget();
    VarnoColor::bindBackground(m_list, VarnoColor::background());
    m_rows = new QVBoxLayout(m_list);
    m_rows->setContentsMargins(20, 20, 20, 20);
    m_rows->setSpacing(6);
    scroll->setWidget(m_list);
    VarnoColor::bindBackground(scroll->viewport(), VarnoColor::background());
    column->addWidget(scroll, 1);

    // Footer: the check, All clear.
    column->addWidget(WorkshopParts::divider(this));
    auto *footer = new QWidget(this);
    auto *footerRow = new QHBoxLayout(footer);
    footerRow->setContentsMargins(14, 14, 14, 14);
    footerRow->setSpacing(8);
    m_check = new StyledButton(QStringLiteral("Check Homebrew status"), PrimaryButtonStyle(), footer);
    m_check->setSymbol(QStringLiteral("magnifyingglass"));
    m_check->setToolTip(GhostRules::checkHelp());
    m_check->setAccessibleDescription(GhostRules::checkHelp());
    connect(m_check, &QPushButton::clicked, this, [this] { Async::detach(checkHomebrewStatus()); });
    footerRow->addWidget(m_check);
    footerRow->addStretch(1);
    m_allClear = new StyledButton(QStringLiteral("All clear"), GhostButtonStyle(), footer);
    connect(m_allClear, &QPushButton::clicked, this, &GhostAppsView::dismissAndClose);
    footerRow->addWidget(m_allClear);
    column->addWidget(footer);

    if (m_model)
        connect(m_model, &AppModel::ghostAppsChanged, this, &GhostAppsView::rebuildRows);
    rebuildRows();
    resize(kMinimumWidth, 480);
}

QString GhostAppsView::subtitle() const
{
    return m_subtitle->text();
}

QStringList GhostAppsView::rowMarks() const
{
    QStringList marks;
    for (QWidget *row : m_rowWidgets)
        marks.append(static_cast<GhostRow *>(row)->markText());
    return marks;
}

QStringList GhostAppsView::rowDetails() const
{
    QStringList details;
    for (QWidget *row : m_rowWidgets)
        details.append(static_cast<GhostRow *>(row)->detailText());
    return details;
}

void GhostAppsView::rebuildRows()
{
    const QList<GhostAppRecord> ghosts = m_model ? m_model->ghostApps() : QList<GhostAppRecord>();
    m_subtitle->setText(GhostRules::sheetSubtitle(ghosts.size()));
    for (QWidget *row : std::as_const(m_rowWidgets))
        delete row;
    m_rowWidgets.clear();
    while (QLayoutItem *item = m_rows->takeAt(0))
        delete item;
    for (const GhostAppRecord &ghost : ghosts) {
        auto *row = new GhostRow(ghost, m_brewStatus, m_list);
        m_rows->addWidget(row);
        m_rowWidgets.append(row);
    }
    m_rows->addStretch(1);
    m_check->setVisible(GhostRules::offersCheck(ghosts));
}

void GhostAppsView::setCheckingBrew(bool checking)
{
    m_checkingBrew = checking;
    m_check->setEnabled(!checking);
    m_check->setSymbol(checking ? QString() : QStringLiteral("magnifyingglass"));
    m_check->setText(checking ? QStringLiteral("Checking brew…") : QStringLiteral("Check Homebrew status"));
    m_check->setShowsProgress(checking);
}

QCoro::Task<void> GhostAppsView::checkHomebrewStatus()
{
    if (m_checkingBrew || !m_model)
        co_return;
    QPointer<GhostAppsView> self(this);
    setCheckingBrew(true);
    const QList<GhostAppRecord> candidates = GhostRules::checkCandidates(m_model->ghostApps());
    const std::optional<QString> brew = GhostRules::brewExecutable(&GhostRules::brewFileExists);
    if (!brew) {
        // No Homebrew: the rows keep their marks, and nothing is said.
        setCheckingBrew(false);
        co_return;
    }
    // One child after another, off the GUI thread; the sheet may close
    // meanwhile, and then the answer is dropped.
    const QString brewPath = *brew;
    Async::Work<QHash<QString, QString>> checks = Async::offThread(nullptr, Async::toolPool(), [candidates, brewPath] {
        return GhostRules::runBrewListChecks(candidates, brewPath);
    });
    const QHash<QString, QString> statuses = co_await checks;
    if (!self)
        co_return;
    self->m_brewStatus = statuses;
    self->setCheckingBrew(false);
    self->rebuildRows();
}

void GhostAppsView::dismissAndClose()
{
    if (m_model)
        m_model->dismissGhosts();
    accept();
}
