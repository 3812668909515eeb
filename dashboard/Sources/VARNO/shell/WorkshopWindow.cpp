#include "shell/WorkshopWindow.h"

#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "kit/VarnoSignals.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "platform/PlainText.h"
#include "provenance/ProvenanceDrawerView.h"
#include "screens/DiagnosticsView.h"
#include "screens/EnvironmentView.h"
#include "screens/OnboardingView.h"
#include "sheets/UpdateFlowView.h"
#include "workshop/GhostViews.h"
#include "workshop/ShelfView.h"
#include "workshop/SidebarView.h"
#include "workshop/StatusBarView.h"
#include "workshop/ToolbarAreaView.h"

#include <QDialog>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPropertyAnimation>
#include <QShortcut>
#include <QVBoxLayout>

namespace {

int sheetIndex(WorkshopSheet sheet)
{
    return int(sheet);
}

QDialog *makeSheet(WorkshopSheet sheet, AppModel *model, QWidget *parent)
{
    switch (sheet) {
    case WorkshopSheet::updateFlow:
        return new UpdateFlowView(model, parent);
    case WorkshopSheet::environment:
        return new EnvironmentView(model, parent);
    case WorkshopSheet::diagnostics:
        return new DiagnosticsView(model, parent);
    case WorkshopSheet::ghosts:
        break;
    }
    return new GhostAppsView(model, parent);
}

bool animate()
{
    return !Appearance::instance().reduceMotion();
}

} // namespace

QString WorkshopWindow::alertTitle()
{
    return QStringLiteral("Something's not right.");
}

WorkshopWindow::WorkshopWindow(AppModel *model, QWidget *parent)
    : QMainWindow(parent)
    , m_model(model)
{
    setWindowTitle(QStringLiteral("VARNO Workshop"));
    setObjectName(QStringLiteral("workshop"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);
    resize(1100, 720);

    m_content = new QWidget(this);
    VarnoColor::bindBackground(m_content, VarnoColor::background());
    auto *columns = new QHBoxLayout(m_content);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);

    m_sidebar = new SidebarView(model, m_content);
    m_sidebar->setMinimumWidth(kSidebarMinimumWidth);
    m_sidebar->setMaximumWidth(kSidebarMaximumWidth);
    m_sidebar->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    columns->addWidget(m_sidebar);
    auto *rule = new QWidget(m_content);
    rule->setFixedWidth(1);
    VarnoColor::bindBackground(rule, VarnoColor::border());
    columns->addWidget(rule);

    auto *detail = new QVBoxLayout();
    detail->setSpacing(0);
    m_searchField = new QLineEdit();
    m_searchField->setPlaceholderText(QStringLiteral("Search apps"));
    m_searchField->setAccessibleName(QStringLiteral("Search apps"));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->setFont(VarnoFont::ui(13));
    VarnoColor::onAppearanceChange(m_searchField, [field = m_searchField] {
        QPalette palette = field->palette();
        palette.setColor(QPalette::Base, VarnoColor::surface().resolved());
        palette.setColor(QPalette::Text, VarnoColor::textPrimary().resolved());
        palette.setColor(QPalette::PlaceholderText, VarnoColor::textTertiary().resolved());
        field->setPalette(palette);
    });
    m_toolbar = new ToolbarAreaView(
        model, m_searchField, [this] { setSheetShown(WorkshopSheet::updateFlow, true); },
        [this] { setSheetShown(WorkshopSheet::environment, true); },
        [this] { setSheetShown(WorkshopSheet::diagnostics, true); }, m_content);
    detail->addWidget(m_toolbar);
    m_ghostBanner = new GhostBannerView(
        model, [this] { setSheetShown(WorkshopSheet::ghosts, true); }, m_content);
    m_ghostBanner->setVisible(false);
    detail->addWidget(m_ghostBanner);
    m_shelf = new ShelfView(
        model, [this](const AppRecord &record) { setShowProvenance(record); }, m_content);
    detail->addWidget(m_shelf, 1);
    m_statusBar = new StatusBarView(model, m_content);
    detail->addWidget(m_statusBar);
    columns->addLayout(detail, 1);
    setCentralWidget(m_content);
    m_content->installEventFilter(this);

    connect(m_searchField, &QLineEdit::textChanged, this, [this](const QString &text) {
        m_shelf->setSearchText(text);
        Q_EMIT presentationChanged();
    });

    // The hidden layout switch: simple grid or details list.
    auto *layoutSwitch = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Slash), this);
    connect(layoutSwitch, &QShortcut::activated, this, [this] {
        if (m_model)
            m_model->setDetailsMode(!m_model->detailsMode());
    });

    // The app's signals reach the window for as long as it exists.
    VarnoSignals &signalBus = VarnoSignals::instance();
    connect(&signalBus, &VarnoSignals::varnoShowDiagnostics, this,
            [this] { setSheetShown(WorkshopSheet::diagnostics, true); });
    connect(&signalBus, &VarnoSignals::varnoShowUpdateFlow, this,
            [this] { setSheetShown(WorkshopSheet::updateFlow, true); });
    connect(&signalBus, &VarnoSignals::varnoShowProvenance, this, &WorkshopWindow::showProvenanceFor);

    if (m_model) {
        m_shelf->setFilter(m_model->selectedFilter());
        connect(m_model, &AppModel::selectedFilterChanged, this,
                [this] { m_shelf->setFilter(m_model->selectedFilter()); });
        connect(m_model, &AppModel::ghostAppsChanged, this, &WorkshopWindow::updateGhostBanner);
        connect(m_model, &AppModel::showOnboardingChanged, this, &WorkshopWindow::updateOnboarding);
        connect(m_model, &AppModel::errorChanged, this, &WorkshopWindow::updateAlert);
    }
    updateGhostBanner();
    updateOnboarding();
    updateAlert();
}

WorkshopWindow::~WorkshopWindow() = default;

// --- Sheets --------------------------------------------------------------------------

bool WorkshopWindow::isSheetShown(WorkshopSheet sheet) const
{
    return !m_sheets.at(sheetIndex(sheet)).isNull();
}

QDialog *WorkshopWindow::sheet(WorkshopSheet sheet) const
{
    return m_sheets.at(sheetIndex(sheet)).data();
}

void WorkshopWindow::setSheetShown(WorkshopSheet which, bool shown)
{
    QPointer<QDialog> &slot = m_sheets[sheetIndex(which)];
    if (!shown) {
        if (slot)
            slot->close();
        return;
    }
    if (slot)
        return;
    QDialog *dialog = makeSheet(which, m_model, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    slot = dialog;
    // Every way of closing a sheet clears its flag.
    connect(dialog, &QDialog::finished, this, [this, which, dialog] {
        QPointer<QDialog> &current = m_sheets[sheetIndex(which)];
        if (current == dialog)
            current = nullptr;
        Q_EMIT presentationChanged();
    });
    dialog->open();
    Q_EMIT presentationChanged();
}

// --- The drawer ------------------------------------------------------------------------

void WorkshopWindow::showProvenanceFor(const QString &bundleId)
{
    if (!m_model || bundleId.isNull())
        return;
    // The first listed record with exactly this id; an unknown id changes
    // nothing, and an open drawer keeps its record.
    for (const AppRecord &record : m_model->apps()) {
        if (record.bundle_id == bundleId) {
            setShowProvenance(record);
            return;
        }
    }
}

void WorkshopWindow::setShowProvenance(std::optional<AppRecord> record)
{
    if (!record) {
        closeDrawer();
        return;
    }
    m_showProvenance = std::move(record);
    if (m_drawer) {
        // The open drawer switches to the other app; its content fades across.
        const bool switched = m_drawer->bundleId() != m_showProvenance->bundle_id;
        if (switched && animate())
            crossFadeDrawer();
        m_drawer->setApp(*m_showProvenance);
        Q_EMIT presentationChanged();
        return;
    }
    // The drawer covers the content: its backdrop, then its panel at the
    // trailing edge. It slides in from that edge.
    m_drawer = new ProvenanceDrawerView(
        m_model, *m_showProvenance, [this] { setShowProvenance(std::nullopt); }, m_content);
    layOutOverlays();
    m_drawer->show();
    if (animate()) {
        auto *slide = new QPropertyAnimation(m_drawer, "pos", m_drawer);
        slide->setDuration(kDrawerAnimationMs);
        slide->setEasingCurve(QEasingCurve::InOutQuad);
        slide->setStartValue(QPoint(m_content->width(), 0));
        slide->setEndValue(QPoint(0, 0));
        slide->start(QAbstractAnimation::DeleteWhenStopped);
    }
    if (m_onboarding)
        m_onboarding->raise();
    Q_EMIT presentationChanged();
}

void WorkshopWindow::crossFadeDrawer()
{
    // A picture of the old app's panel over the new one, fading out.
    QWidget *panel = m_drawer->panel();
    auto *picture = new QLabel(panel);
    picture->setPixmap(panel->grab());
    picture->setGeometry(panel->rect());
    picture->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto *fade = new QGraphicsOpacityEffect(picture);
    picture->setGraphicsEffect(fade);
    picture->show();
    picture->raise();
    auto *animation = new QPropertyAnimation(fade, "opacity", picture);
    animation->setDuration(kDrawerAnimationMs);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(1.0);
    animation->setEndValue(0.0);
    connect(animation, &QAbstractAnimation::finished, picture, &QObject::deleteLater);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void WorkshopWindow::closeDrawer()
{
    m_showProvenance.reset();
    if (ProvenanceDrawerView *drawer = m_drawer.data()) {
        m_drawer = nullptr;
        if (animate() && drawer->isVisible()) {
            auto *slide = new QPropertyAnimation(drawer, "pos", drawer);
            slide->setDuration(kDrawerAnimationMs);
            slide->setEasingCurve(QEasingCurve::InOutQuad);
            slide->setEndValue(QPoint(m_content->width(), drawer->y()));
            connect(slide, &QAbstractAnimation::finished, drawer, &QObject::deleteLater);
            slide->start(QAbstractAnimation::DeleteWhenStopped);
        } else {
            drawer->hide();
            drawer->deleteLater();
        }
    }
    Q_EMIT presentationChanged();
}

QMessageBox *WorkshopWindow::errorAlert() const
{
    return qobject_cast<QMessageBox *>(m_alert.data());
}

ProvenanceDrawerView *WorkshopWindow::drawer() const
{
    return m_drawer.data();
}

// --- Overlays --------------------------------------------------------------------------

QWidget *WorkshopWindow::onboarding() const
{
    return m_onboarding.data();
}

QString WorkshopWindow::searchText() const
{
    return m_searchField->text();
}

void WorkshopWindow::setSearchText(const QString &text)
{
    m_searchField->setText(text);
}

bool WorkshopWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_content && event->type() == QEvent::Resize)
        layOutOverlays();
    return QMainWindow::eventFilter(watched, event);
}

void WorkshopWindow::layOutOverlays()
{
    // The overlays follow the window's size: the drawer over the content
    // (its panel against the trailing edge), onboarding over everything.
    if (m_drawer) {
        m_drawer->setGeometry(m_content->rect());
        m_drawer->raise();
    }
    if (m_onboarding) {
        m_onboarding->setGeometry(m_content->rect());
        m_onboarding->raise();
    }
}

void WorkshopWindow::updateOnboarding()
{
    const bool shown = m_model && m_model->showOnboarding();
    if (shown && !m_onboarding) {
        m_onboarding = new OnboardingView(m_model, m_content);
        layOutOverlays();
        m_onboarding->show();
    } else if (!shown && m_onboarding) {
        m_onboarding->hide();
        m_onboarding->deleteLater();
        m_onboarding = nullptr;
    }
}

void WorkshopWindow::updateGhostBanner()
{
    const bool shown = m_model && !m_model->ghostApps().isEmpty();
    if (shown == m_ghostBanner->isVisibleTo(this) && !m_bannerAnimation)
        return;
    if (m_bannerAnimation) {
        m_bannerAnimation->stop();
        m_bannerAnimation->deleteLater();
    }
    const int fullHeight = m_ghostBanner->sizeHint().height();
    if (!animate()) {
        m_ghostBanner->setMaximumHeight(QWIDGETSIZE_MAX);
        m_ghostBanner->setVisible(shown);
        return;
    }
    // Slides down from the top edge on entry and back up on exit.
    auto *slide = new QPropertyAnimation(m_ghostBanner, "maximumHeight", this);
    slide->setDuration(kDrawerAnimationMs);
    slide->setEasingCurve(QEasingCurve::InOutQuad);
    if (shown) {
        m_ghostBanner->setMaximumHeight(0);
        m_ghostBanner->setVisible(true);
        slide->setStartValue(0);
        slide->setEndValue(fullHeight);
        connect(slide, &QAbstractAnimation::finished, m_ghostBanner,
                [banner = m_ghostBanner] { banner->setMaximumHeight(QWIDGETSIZE_MAX); });
    } else {
        slide->setStartValue(m_ghostBanner->height());
        slide->setEndValue(0);
        connect(slide, &QAbstractAnimation::finished, m_ghostBanner, [banner = m_ghostBanner] {
            banner->setVisible(false);
            banner->setMaximumHeight(QWIDGETSIZE_MAX);
        });
    }
    m_bannerAnimation = slide;
    slide->start(QAbstractAnimation::DeleteWhenStopped);
}

// --- The error alert ----------------------------------------------------------------------

void WorkshopWindow::updateAlert()
{
    const std::optional<QString> error = m_model ? m_model->error() : std::nullopt;
    if (!error) {
        if (m_alert)
            m_alert->close();
        return;
    }
    if (!m_alert) {
        auto *alert = new QMessageBox(this);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->setWindowModality(Qt::WindowModal);
        alert->setIcon(QMessageBox::Warning);
        alert->setWindowTitle(alertTitle());
        alert->setTextFormat(Qt::PlainText);
        alert->setText(alertTitle());
        alert->setStandardButtons(QMessageBox::Ok);
        // Every dismissal (OK, Esc, closing) acknowledges the error. A
        // finished alert is gone, though it is only deleted later: an error
        // set from here on raises a new one.
        connect(alert, &QDialog::finished, this, [this, alert] {
            if (m_alert == alert)
                m_alert = nullptr;
            if (m_model)
                m_model->setError(std::nullopt);
        });
        m_alert = alert;
    }
    // The message is the error text as plain text, bounded: a text of
    // megabytes would hold the window up while it is laid out.
    const QString shown = PlainText::forDisplay(*error);
    Labels::setPlainInformativeText(errorAlert(), shown);
    if (!m_alert->isVisible())
        m_alert->open();
}
