#include "screens/DiagnosticsView.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "engine/CLIBootstrap.h"
#include "engine/VARNOProcess.h"
#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "kit/VarnoSignals.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "platform/ServiceOverride.h"
#include "platform/VarnoPaths.h"
#include "platform/Workspace.h"
#include "screens/DiagnosticsRules.h"
#include "screens/PanelParts.h"
#include "widgets/Skeleton.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFuture>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <qcoro/qcorofuture.h>

namespace {

ServiceOverride<DiagnosticsOperations> diagnosticsOverride;

QString engineScript()
{
    return QDir::homePath() + QStringLiteral("/.varno/varno.py");
}

QString engineFolder()
{
    return QDir::homePath() + QStringLiteral("/.varno");
}

QCoro::Task<QString> gatherReport()
{
    co_return co_await DiagnosticsReport::gatherAsync();
}

QCoro::Task<DiagnosticsReport::ShellOutcome> runDoctor()
{
    const QString python = VARNOProcess::python3();
    const QStringList arguments{engineScript(), QStringLiteral("doctor")};
    const std::optional<QString> folder = engineFolder();
    QCoro::Task<DiagnosticsReport::ShellOutcome> running = DiagnosticsReport::runShellOutcomeAsync(python, arguments,
                                                                                                   folder);
    co_return co_await std::move(running);
}

QCoro::Task<QString> runVerboseScan()
{
    const QString python = VARNOProcess::python3();
    const QStringList arguments{engineScript(), QStringLiteral("scan"), QStringLiteral("--verbose")};
    const std::optional<QString> folder = engineFolder();
    QCoro::Task<QString> running = DiagnosticsReport::runShellAsync(python, arguments, folder);
    co_return co_await std::move(running);
}

struct RepairPreparation {
    bool engineBundled = false;
    bool scanLogPresent = false;
};

// Off the GUI thread: what is there before the reinstall, and the version
// file deleted when there is an engine to reinstall.
RepairPreparation prepareRepair()
{
    RepairPreparation preparation;
    const auto bundled = CLIBootstrap::bundledCLI();
    preparation.engineBundled = bundled && QFileInfo(*bundled).isDir();
    preparation.scanLogPresent = QFileInfo::exists(CLIBootstrap::varnoDir() + QStringLiteral("/logs/scan.err"));
    // Without a shipped engine the installed one stays exactly as it is.
    if (preparation.engineBundled)
        QFile::remove(CLIBootstrap::varnoDir() + QStringLiteral("/.cli_version"));
    return preparation;
}

QString describeFailure(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return CLIBootstrap::failureMessage(e);
    } catch (...) {
    }
    return QStringLiteral("The engine could not be installed.");
}

QLabel *sectionLabel(const QString &text, QWidget *parent)
{
    return PanelParts::label(text, PanelParts::trackedFont(11, QFont::DemiBold, 1.5), VarnoColor::textTertiary(), false,
                             parent);
}

QLabel *reportLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(13);
    label->setFont(font);
    VarnoColor::bindForeground(label, VarnoColor::textPrimary());
    return label;
}

} // namespace

QCoro::Task<QString> repairEngine()
{
    Async::Work<RepairPreparation> preparing = Async::offThread(nullptr, prepareRepair);
    const RepairPreparation preparation = co_await preparing;
    std::optional<QString> failure;
    try {
        co_await CLIBootstrap::bootstrap();
    } catch (...) {
        failure = describeFailure(std::current_exception());
    }
    // The bootstrap moves the old scan log aside when there is one.
    const bool rotated = !failure && preparation.scanLogPresent
        && QFileInfo::exists(CLIBootstrap::varnoDir() + QStringLiteral("/logs/scan.err.prev"));
    co_return DiagnosticsRules::repairText(failure, rotated);
}

DiagnosticsOperations DiagnosticsOperations::system()
{
    DiagnosticsOperations operations;
    operations.gather = gatherReport;
    operations.healthCheck = runDoctor;
    operations.forceScan = runVerboseScan;
    operations.repair = repairEngine;
    return operations;
}

DiagnosticsOperations DiagnosticsOperations::current()
{
    return diagnosticsOverride.current(&DiagnosticsOperations::system);
}

void DiagnosticsOperations::setOverride(std::optional<DiagnosticsOperations> operations)
{
    diagnosticsOverride.set(std::move(operations));
}

// --- DiagnosticsActionButton ---------------------------------------------------------

DiagnosticsActionButton::DiagnosticsActionButton(const QString &symbol, const QString &text, const QString &runningText,
                                                 QWidget *parent)
    : QPushButton(parent)
    , m_symbol(symbol)
    , m_text(text)
    , m_runningText(runningText)
    , m_turn(new QVariantAnimation(this))
{
    setText(text);
    setAccessibleName(text);
    setAutoDefault(false);
    setFont(VarnoFont::ui(12));
    setCursor(Qt::PointingHandCursor);
    m_turn->setStartValue(0.0);
    m_turn->setEndValue(360.0);
    m_turn->setDuration(1000);
    m_turn->setLoopCount(-1);
    connect(m_turn, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_angle = value.toReal();
        update();
    });
    VarnoColor::repaintOnAppearanceChange(this);
}

void DiagnosticsActionButton::setRunning(bool running)
{
    if (m_running == running)
        return;
    m_running = running;
    setEnabled(!running);
    setText(shownText());
    setAccessibleName(shownText());
    if (running && !Appearance::instance().reduceMotion())
        m_turn->start();
    else
        m_turn->stop();
    updateGeometry();
    update();
}

QSize DiagnosticsActionButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int textWidth = std::max(metrics.horizontalAdvance(m_text), metrics.horizontalAdvance(m_runningText));
    return QSize(8 + 13 + 5 + textWidth + 8, std::max(28, metrics.height() + 12));
}

void DiagnosticsActionButton::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    m_hovered = true;
    update();
}

void DiagnosticsActionButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    m_hovered = false;
    update();
}

void DiagnosticsActionButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(box, 6, 6);
    const bool pressed = isDown();
    painter.fillPath(path,
                     (m_hovered && isEnabled()) || pressed ? VarnoColor::surfaceHover().resolved()
                                                           : VarnoColor::surface().resolved());
    painter.setPen(QPen(hasFocus() ? VarnoColor::accent().resolved() : VarnoColor::border().resolved(), 1));
    painter.drawPath(path);

    const QColor ink = m_running ? VarnoColor::textSecondary().resolved() : VarnoColor::textPrimary().resolved();
    const QRectF mark(8, (height() - 13) / 2.0, 13, 13);
    if (m_running) {
        const qreal pen = 1.75;
        const QRectF ring = mark.adjusted(pen, pen, -pen, -pen);
        painter.setPen(QPen(VarnoColor::textTertiary().resolved(0.3), pen));
        painter.drawEllipse(ring);
        painter.setPen(QPen(VarnoColor::textSecondary().resolved(), pen, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(ring, int((90 - m_angle) * 16), -100 * 16);
    } else {
        SymbolIcons::shared().paint(painter, mark, m_symbol, ink);
    }
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRectF(mark.right() + 5, 0, width() - mark.right() - 5 - 8, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

// --- DiagnosticsView -----------------------------------------------------------------

DiagnosticsView::DiagnosticsView(AppModel *model, QWidget *parent)
    : DiagnosticsView(model, DiagnosticsOperations::current(), parent)
{
}

DiagnosticsView::DiagnosticsView(AppModel *model, DiagnosticsOperations operations, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
    , m_operations(std::move(operations))
    , m_report(DiagnosticsRules::loadingReport)
{
    const DiagnosticsOperations fallback = DiagnosticsOperations::system();
    if (!m_operations.gather)
        m_operations.gather = fallback.gather;
    if (!m_operations.healthCheck)
        m_operations.healthCheck = fallback.healthCheck;
    if (!m_operations.forceScan)
        m_operations.forceScan = fallback.forceScan;
    if (!m_operations.repair)
        m_operations.repair = fallback.repair;

    setWindowTitle(QStringLiteral("Diagnostics"));
    setObjectName(QStringLiteral("diagnostics"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(kMinimumWidth, 680);
    VarnoColor::bindWindowPalette(this, VarnoColor::background());
    build();

    // The health-check request reaches the sheet only while it exists.
    connect(&VarnoSignals::instance(), &VarnoSignals::varnoRunHealthCheck, this,
            [this] { Async::detach(runHealthCheck()); });
    if (m_model) {
        connect(m_model, &AppModel::errorChanged, this, &DiagnosticsView::render);
        connect(m_model, &AppModel::hasEverScannedChanged, this, &DiagnosticsView::render);
    }
    render();
}

void DiagnosticsView::build()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto *header = new QWidget(this);
    auto *headerRow = new QHBoxLayout(header);
    headerRow->setContentsMargins(16, 16, 16, 16);
    headerRow->setSpacing(8);
    headerRow->addWidget(PanelParts::label(QStringLiteral("Diagnostics"), VarnoFont::brusk(24),
                                           VarnoColor::textPrimary(), false, header));
    headerRow->addStretch(1);
    m_copyButton = new QPushButton(QStringLiteral("Copy"), header);
    m_copyButton->setAutoDefault(false);
    connect(m_copyButton, &QPushButton::clicked, this, &DiagnosticsView::copyToClipboard);
    headerRow->addWidget(m_copyButton);
    m_doneButton = new QPushButton(QStringLiteral("Done"), header);
    m_doneButton->setDefault(true);
    connect(m_doneButton, &QPushButton::clicked, this, &QDialog::accept);
    headerRow->addWidget(m_doneButton);
    outer->addWidget(header);
    outer->addWidget(PanelParts::divider(this));

    auto *scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    VarnoColor::bindBackground(scroll->viewport(), VarnoColor::background());
    auto *body = new QWidget();
    VarnoColor::bindBackground(body, VarnoColor::background());
    auto *bodyColumn = new QVBoxLayout(body);
    bodyColumn->setContentsMargins(16, 16, 16, 16);
    bodyColumn->setSpacing(16);

    m_skeleton = buildSkeleton();
    m_skeleton->setParent(body);
    bodyColumn->addWidget(m_skeleton);

    m_content = new QWidget(body);
    auto *column = new QVBoxLayout(m_content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);

    // The posture section.
    auto *posture = new QWidget(m_content);
    auto *postureColumn = new QVBoxLayout(posture);
    postureColumn->setContentsMargins(0, 0, 0, 0);
    postureColumn->setSpacing(8);
    postureColumn->addWidget(sectionLabel(QStringLiteral("SYSTEM POSTURE"), posture));
    auto *postureRow = new QHBoxLayout();
    postureRow->setSpacing(12);
    m_postureDot = new PanelsStatusDot(8, 4, posture);
    postureRow->addWidget(m_postureDot, 0, Qt::AlignTop);
    auto *postureText = new QVBoxLayout();
    postureText->setSpacing(2);
    m_postureTitle = PanelParts::label(QString(), VarnoFont::ui(14, QFont::Medium), VarnoColor::textPrimary(), true,
                                       posture);
    m_postureDetail = PanelParts::label(QString(), VarnoFont::ui(12), VarnoColor::textSecondary(), true, posture);
    postureText->addWidget(m_postureTitle);
    postureText->addWidget(m_postureDetail);
    postureRow->addLayout(postureText, 1);
    postureColumn->addLayout(postureRow);
    column->addWidget(posture);

    column->addWidget(buildActions());
    column->addWidget(PanelParts::divider(m_content));
    m_reportLabel = reportLabel(m_content);
    m_reportLabel->setAccessibleName(QStringLiteral("Support report"));
    column->addWidget(m_reportLabel);

    const auto block = [this, column](const QString &title, Block &into) {
        into.container = new QWidget(m_content);
        auto *blockColumn = new QVBoxLayout(into.container);
        blockColumn->setContentsMargins(0, 0, 0, 0);
        blockColumn->setSpacing(16);
        blockColumn->addWidget(PanelParts::divider(into.container));
        blockColumn->addWidget(sectionLabel(title, into.container));
        into.text = reportLabel(into.container);
        into.text->setAccessibleName(title);
        blockColumn->addWidget(into.text);
        column->addWidget(into.container);
    };
    block(QStringLiteral("Repair Result"), m_repairBlock);
    block(QStringLiteral("Health Check"), m_healthBlock);
    block(QStringLiteral("Scan Output"), m_scanBlock);
    bodyColumn->addWidget(m_content);
    bodyColumn->addStretch(1);
    scroll->setWidget(body);
    outer->addWidget(scroll, 1);
}

QWidget *DiagnosticsView::buildSkeleton()
{
    auto *skeletonView = new QWidget();
    skeletonView->setAccessibleName(QStringLiteral("Gathering diagnostic data"));
    auto *column = new QVBoxLayout(skeletonView);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(16);
    auto *row = new QHBoxLayout();
    row->setSpacing(12);
    auto *dot = new Skeleton(4, skeletonView);
    dot->setFixedSize(8, 8);
    QPainterPath circle;
    circle.addEllipse(QRectF(0, 0, 8, 8));
    dot->setShape(circle);
    row->addWidget(dot, 0, Qt::AlignVCenter);
    auto *bars = new QVBoxLayout();
    bars->setSpacing(4);
    bars->addWidget(skeleton(QSize(160, 14), 4, skeletonView));
    bars->addWidget(skeleton(QSize(220, 12), 4, skeletonView));
    row->addLayout(bars);
    row->addStretch(1);
    column->addLayout(row);
    auto *lines = new QVBoxLayout();
    lines->setSpacing(8);
    for (const int width : {260, 340, 180, 420, 300, 380, 240})
        lines->addWidget(skeleton(QSize(width, 11), 4, skeletonView));
    column->addLayout(lines);
    // One element for assistive technology; its shapes say nothing.
    for (QWidget *child : skeletonView->findChildren<QWidget *>())
        child->setAccessibleName(QString());
    return skeletonView;
}

QWidget *DiagnosticsView::buildActions()
{
    auto *actions = new QWidget(m_content);
    auto *row = new QHBoxLayout(actions);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_healthButton = new DiagnosticsActionButton(QStringLiteral("heart.text.square"), QStringLiteral("Health Check"),
                                                 QStringLiteral("Checking…"), actions);
    connect(m_healthButton, &QPushButton::clicked, this, [this] { Async::detach(runHealthCheck()); });
    m_repairButton = new DiagnosticsActionButton(QStringLiteral("wrench.adjustable"), QStringLiteral("Repair CLI"),
                                                 QStringLiteral("Repairing…"), actions);
    m_repairButton->setToolTip(QStringLiteral("Force-reinstall the bundled CLI from the app. Fixes stale ~/.varno files "
                                              "left behind by an interrupted earlier install."));
    connect(m_repairButton, &QPushButton::clicked, this, [this] { Async::detach(runRepair()); });
    m_scanButton = new DiagnosticsActionButton(QStringLiteral("arrow.clockwise"), QStringLiteral("Force Scan"),
                                               QStringLiteral("Scanning…"), actions);
    connect(m_scanButton, &QPushButton::clicked, this, [this] { Async::detach(runForceScan()); });
    m_dataButton = new DiagnosticsActionButton(QStringLiteral("folder"), QStringLiteral("Open Data Folder"), QString(),
                                               actions);
    connect(m_dataButton, &QPushButton::clicked, this,
            [this] { openFolder(QStringLiteral("/Library/Application Support/VARNO")); });
    m_logsButton = new DiagnosticsActionButton(QStringLiteral("doc.text"), QStringLiteral("Open Logs"), QString(),
                                               actions);
    connect(m_logsButton, &QPushButton::clicked, this, [this] { openFolder(QStringLiteral("/Library/Logs/VARNO")); });
    m_refreshButton = new DiagnosticsActionButton(QStringLiteral("arrow.triangle.2.circlepath"),
                                                  QStringLiteral("Refresh"), QString(), actions);
    connect(m_refreshButton, &QPushButton::clicked, this, [this] { Async::detach(refresh()); });
    for (QWidget *button : {static_cast<QWidget *>(m_healthButton), static_cast<QWidget *>(m_repairButton),
                            static_cast<QWidget *>(m_scanButton), static_cast<QWidget *>(m_dataButton),
                            static_cast<QWidget *>(m_logsButton)})
        row->addWidget(button);
    row->addStretch(1);
    row->addWidget(m_refreshButton);
    return actions;
}

QPushButton *DiagnosticsView::actionButton(Action action) const
{
    switch (action) {
    case Action::healthCheck:
        return m_healthButton;
    case Action::repair:
        return m_repairButton;
    case Action::forceScan:
        return m_scanButton;
    case Action::openDataFolder:
        return m_dataButton;
    case Action::openLogs:
        return m_logsButton;
    case Action::refresh:
        break;
    }
    return m_refreshButton;
}

void DiagnosticsView::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // One report per presentation.
    if (!m_presented) {
        m_presented = true;
        Async::detach(refresh());
    }
}

PosturePresentation DiagnosticsView::posture() const
{
    const PostureSnapshot snapshot = m_model ? m_model->postureSnapshot() : PostureSnapshot();
    return PosturePresenter::diagnostics(snapshot, m_healthFailed, m_repairResult);
}

void DiagnosticsView::render()
{
    m_skeleton->setVisible(m_loading);
    m_content->setVisible(!m_loading);

    const PosturePresentation headline = posture();
    m_postureDot->setColor(VarnoColor::tone(PosturePresenter::tone(headline.tone)));
    m_postureTitle->setText(headline.title);
    m_postureDetail->setText(headline.detail.value_or(QString()));

    m_healthButton->setRunning(m_healthRunning);
    m_repairButton->setRunning(m_repairRunning);
    m_scanButton->setRunning(m_scanRunning);

    m_reportLabel->setText(DiagnosticsRules::shownText(m_report));
    const auto showBlock = [](Block &block, const QString &text) {
        block.container->setVisible(!text.isEmpty());
        block.text->setText(DiagnosticsRules::shownText(text));
    };
    showBlock(m_repairBlock, m_repairResult);
    showBlock(m_healthBlock, m_healthReport);
    showBlock(m_scanBlock, m_scanLog);
    Q_EMIT stateChanged();
}

QCoro::Task<void> DiagnosticsView::refresh()
{
    const QPointer<DiagnosticsView> self(this);
    m_loading = true;
    render();
    const auto gather = m_operations.gather;
    const QString report = co_await gather();
    if (!self)
        co_return;
    m_report = report;
    m_loading = false;
    render();
}

QCoro::Task<void> DiagnosticsView::runHealthCheck()
{
    if (m_healthRunning)
        co_return;
    const QPointer<DiagnosticsView> self(this);
    m_healthRunning = true;
    render();
    const auto healthCheck = m_operations.healthCheck;
    const DiagnosticsReport::ShellOutcome outcome = co_await healthCheck();
    qCInfo(lcVarno).noquote() << "Health check" << (outcome.succeeded ? "ran" : "did not run cleanly") << ":"
                              << outcome.text;
    if (!self)
        co_return;
    m_healthReport = outcome.text;
    m_healthFailed = PosturePresenter::healthCheckFailed(outcome.text, outcome.succeeded);
    m_healthRunning = false;
    render();
}

QCoro::Task<void> DiagnosticsView::runRepair()
{
    const QPointer<DiagnosticsView> self(this);
    m_repairRunning = true;
    m_repairResult = DiagnosticsRules::repairingText;
    render();
    const auto repair = m_operations.repair;
    const QString result = co_await repair();
    qCInfo(lcVarno).noquote() << "Engine repair:" << result;
    if (!self)
        co_return;
    m_repairResult = result;
    m_repairRunning = false;
    render();
    co_await refresh();
}

QCoro::Task<void> DiagnosticsView::runForceScan()
{
    const QPointer<DiagnosticsView> self(this);
    m_scanRunning = true;
    m_scanLog = DiagnosticsRules::scanHeader;
    render();
    const auto forceScan = m_operations.forceScan;
    const QString transcript = co_await forceScan();
    qCInfo(lcVarno).noquote() << "Verbose scan:" << transcript;
    if (!self)
        co_return;
    m_scanLog += transcript;
    m_scanRunning = false;
    render();
    co_await refresh();
}

void DiagnosticsView::copyToClipboard()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(DiagnosticsRules::clipboardText(m_report, m_scanLog));
}

void DiagnosticsView::openFolder(const QString &relative)
{
    // Not created when missing; the outcome is not reported.
    Workspace::shared()->open(QUrl::fromLocalFile(QDir::homePath() + relative));
}

QString DiagnosticsView::postureTitleText() const
{
    return m_postureTitle->text();
}

QString DiagnosticsView::postureDetailText() const
{
    return m_postureDetail->text();
}

QString DiagnosticsView::reportText() const
{
    return m_reportLabel->text();
}

std::optional<QString> DiagnosticsView::blockText(const QString &label) const
{
    const Block *block = nullptr;
    if (label == QLatin1String("Repair Result"))
        block = &m_repairBlock;
    else if (label == QLatin1String("Health Check"))
        block = &m_healthBlock;
    else if (label == QLatin1String("Scan Output"))
        block = &m_scanBlock;
    if (!block || block->container->isHidden())
        return std::nullopt;
    return block->text->text();
}
