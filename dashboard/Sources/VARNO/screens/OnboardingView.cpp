#include "screens/OnboardingView.h"

#include "kit/BrandArtwork.h"
#include "kit/ButtonStyles.h"
#include "kit/SpinnerView.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "screens/PanelParts.h"
#include "services/LaunchAgentManager.h"

#include <QCheckBox>
#include <QGraphicsDropShadowEffect>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QVariantAnimation>

namespace {

constexpr int kScreenWidth = 400;

// The text on the gold button.
struct OpenWorkshopButtonStyle : ButtonStyle {
    OpenWorkshopButtonStyle()
    {
        face = Face{15, QFont::DemiBold};
        text = VarnoColor::background();
        fill = VarnoColor::accent();
        cornerRadius = 8;
        horizontalPadding = 14;
        verticalPadding = 14;
        fillsWidth = true;
        pressedOpacity = 0.85;
    }
};

// An empty circle stroked in the hairline colour.
class RingView : public QWidget {
public:
    explicit RingView(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(18, 18);
        VarnoColor::repaintOnAppearanceChange(this);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(VarnoColor::border().resolved(), 1));
        painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    }
};

// A one-line label that shows as much of its text as fits, cut with "…".
class ElidingLabel : public QLabel {
public:
    explicit ElidingLabel(QWidget *parent)
        : QLabel(parent)
    {
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    }
    void setFullText(const QString &text)
    {
        m_full = text;
        elide();
        updateGeometry();
    }
    QString fullText() const { return m_full; }
    QSize sizeHint() const override
    {
        const QFontMetrics metrics(font());
        return QSize(metrics.horizontalAdvance(m_full) + 2, metrics.height());
    }
    QSize minimumSizeHint() const override { return QSize(20, QFontMetrics(font()).height()); }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(QFontMetrics(font()).elidedText(m_full, Qt::ElideRight, qMax(0, width()))); }
    QString m_full;
};

QWidget *centredColumn(QWidget *parent, int spacing, QVBoxLayout **layoutOut)
{
    auto *screen = new QWidget(parent);
    screen->setMaximumWidth(kScreenWidth);
    auto *layout = new QVBoxLayout(screen);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    *layoutOut = layout;
    return screen;
}

void fadeIn(QWidget *widget, int ms)
{
    auto *effect = new QGraphicsOpacityEffect(widget);
    effect->setOpacity(0.0);
    widget->setGraphicsEffect(effect);
    auto *animation = new QPropertyAnimation(effect, "opacity", widget);
    animation->setDuration(ms);
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    QObject::connect(animation, &QAbstractAnimation::finished, widget, [widget] { widget->setGraphicsEffect(nullptr); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace

// --- OnboardingNamePill ---------------------------------------------------------------

OnboardingNamePill::OnboardingNamePill(QWidget *parent)
    : QWidget(parent)
    , m_transition(new QVariantAnimation(this))
{
    auto *tile = new PanelsRoundedPanel(VarnoColor::surface(), 4, this);
    auto *row = new QHBoxLayout(tile);
    row->setContentsMargins(14, 8, 14, 8);
    row->setSpacing(8);
    auto *appSymbol = new PanelsSymbol(QStringLiteral("app.fill"), VarnoColor::accent(), 13, 0, tile);
    appSymbol->setColor(VarnoColor::accent(), 0.6);
    row->addWidget(appSymbol, 0, Qt::AlignVCenter);
    auto *label = new ElidingLabel(tile);
    label->setFont(VarnoFont::mono(11));
    VarnoColor::bindForeground(label, VarnoColor::textSecondary());
    row->addWidget(label, 1, Qt::AlignVCenter);
    m_tile = tile;
    m_label = label;

    m_transition->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_transition, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) { apply(value.toReal()); });
    connect(m_transition, &QAbstractAnimation::finished, this, [this] {
        if (m_leaving)
            hide();
    });
    hide();
}

QString OnboardingNamePill::name() const
{
    return static_cast<ElidingLabel *>(m_label)->fullText();
}

void OnboardingNamePill::setName(const QString &name, int animationMs)
{
    const bool wanted = !name.isEmpty();
    // A pill on its way out keeps the name it showed.
    if (wanted)
        static_cast<ElidingLabel *>(m_label)->setFullText(name);
    const bool here = !isHidden() && !m_leaving;
    if (wanted == here)
        return;
    m_transition->stop();
    m_leaving = !wanted;
    if (animationMs <= 0) {
        apply(wanted ? 1.0 : 0.0);
        setVisible(wanted);
        return;
    }
    if (wanted && isHidden()) {
        apply(0.0);
        show();
    }
    m_transition->setDuration(animationMs);
    m_transition->setStartValue(m_presence);
    m_transition->setEndValue(wanted ? 1.0 : 0.0);
    m_transition->start();
}

void OnboardingNamePill::apply(qreal presence)
{
    m_presence = presence;
    m_tile->setGeometry(0, qRound((1.0 - presence) * height()), width(), height());
    if (presence >= 1.0) {
        setGraphicsEffect(nullptr);
        m_fade = nullptr;
        return;
    }
    if (!m_fade) {
        m_fade = new QGraphicsOpacityEffect(this);
        setGraphicsEffect(m_fade);
    }
    m_fade->setOpacity(presence);
}

QSize OnboardingNamePill::sizeHint() const
{
    return m_tile->sizeHint();
}

QSize OnboardingNamePill::minimumSizeHint() const
{
    return m_tile->minimumSizeHint();
}

bool OnboardingNamePill::event(QEvent *event)
{
    // The tile asks for room (a new name): the pill passes it on.
    if (event->type() == QEvent::LayoutRequest)
        updateGeometry();
    return QWidget::event(event);
}

void OnboardingNamePill::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    apply(m_presence);
}

// --- SetupRowView ----------------------------------------------------------------------

SetupRowView::SetupRowView(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(16, 12, 16, 12);
    row->setSpacing(12);
    auto *markBox = new QWidget(this);
    markBox->setFixedSize(18, 18);
    m_check = new PanelsSymbol(QStringLiteral("checkmark.circle.fill"), VarnoColor::success(), 18, 0, markBox);
    // The spinner at 0.7 of the mark's frame, about its centre.
    m_spinner = new SpinnerView(13, markBox);
    m_spinner->move(2, 2);
    m_ring = new RingView(markBox);
    row->addWidget(markBox, 0, Qt::AlignVCenter);
    m_title = PanelParts::label(QString(), VarnoFont::ui(14), VarnoColor::textPrimary(), false, this);
    row->addWidget(m_title, 1, Qt::AlignVCenter);
    set(QString(), OnboardingRules::SetupMark::pending);
    VarnoColor::repaintOnAppearanceChange(this);
}

void SetupRowView::set(const QString &title, OnboardingRules::SetupMark mark)
{
    m_mark = mark;
    m_title->setText(title);
    setAccessibleName(title);
    m_check->setVisible(mark == OnboardingRules::SetupMark::done);
    m_spinner->setVisible(mark == OnboardingRules::SetupMark::active);
    m_ring->setVisible(mark == OnboardingRules::SetupMark::pending);
    VarnoColor::bindForeground(m_title,
                               mark == OnboardingRules::SetupMark::done ? VarnoColor::textSecondary()
                                                                        : VarnoColor::textPrimary());
}

QString SetupRowView::title() const
{
    return m_title->text();
}

void SetupRowView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(path, VarnoColor::surface().resolved());
}

// --- OnboardingCounter ---------------------------------------------------------------

OnboardingCounter::OnboardingCounter(QWidget *parent)
    : QWidget(parent)
    , m_animation(new QVariantAnimation(this))
{
    setFont(VarnoFont::brusk(48, QFont::Light));
    setAccessibleName(QStringLiteral("0"));
    m_animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_shown = value.toInt();
        update();
    });
    VarnoColor::repaintOnAppearanceChange(this);
}

void OnboardingCounter::setValue(int value, int animationMs)
{
    m_animation->stop();
    m_target = value;
    setAccessibleName(QString::number(value));
    if (animationMs <= 0 || m_shown == value) {
        m_shown = value;
    } else {
        m_animation->setDuration(animationMs);
        m_animation->setStartValue(m_shown);
        m_animation->setEndValue(value);
        m_animation->start();
    }
    updateGeometry();
    update();
}

qreal OnboardingCounter::cellWidth() const
{
    const QFontMetricsF metrics(font());
    qreal widest = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        widest = std::max(widest, metrics.horizontalAdvance(QLatin1Char(digit)));
    return widest;
}

QSize OnboardingCounter::sizeHint() const
{
    const int digits = int(QString::number(std::max(m_target, m_shown)).size());
    return QSize(int(std::ceil(cellWidth() * digits)) + 4, QFontMetrics(font()).height());
}

void OnboardingCounter::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(font());
    painter.setPen(VarnoColor::accent().resolved());
    const QString text = QString::number(m_shown);
    const qreal cell = cellWidth();
    qreal x = (width() - cell * text.size()) / 2.0;
    for (const QChar ch : text) {
        painter.drawText(QRectF(x, 0, cell, height()), Qt::AlignCenter, QString(ch));
        x += cell;
    }
}

// --- OnboardingView ------------------------------------------------------------------

OnboardingView::OnboardingView(AppModel *model, QWidget *parent)
    : OnboardingView(model, OnboardingEnvironment::current(), parent)
{
}

OnboardingView::OnboardingView(AppModel *model, OnboardingEnvironment environment, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_environment(std::move(environment))
{
    setObjectName(QStringLiteral("onboarding"));
    setAccessibleName(QStringLiteral("Welcome to the Workshop"));
    build();
    if (m_model)
        connect(m_model, &AppModel::appsChanged, this, &OnboardingView::renderSummary);
    renderSetup();
    renderDiscovery(0);
    renderSummary();
    setPhase(OnboardingPhase::setup, 0);
    VarnoColor::repaintOnAppearanceChange(this);
}

OnboardingView::~OnboardingView()
{
    // The flow goes on with its engine and agent work; its waiting ends.
    if (m_flow)
        m_flow->cancel();
}

void OnboardingView::build()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    // The column keeps its own size, centred in the window; taller than the
    // window, it scrolls.
    m_scroll->setWidgetResizable(false);
    m_scroll->setAlignment(Qt::AlignCenter);
    VarnoColor::bindBackground(m_scroll->viewport(), VarnoColor::background());
    outer->addWidget(m_scroll);

    auto *content = new QWidget();
    VarnoColor::bindBackground(content, VarnoColor::background());
    auto *column = new QVBoxLayout(content);
    column->setContentsMargins(50, 0, 50, 0);
    column->setSpacing(0);
    column->setSizeConstraint(QLayout::SetFixedSize);
    column->addSpacing(30);

    auto *brusk = new BruskView(120, BruskVariant::main, content);
    brusk->setAccessibleName(QStringLiteral("Brusk"));
    auto *shadow = new QGraphicsDropShadowEffect(brusk);
    shadow->setBlurRadius(40);
    shadow->setOffset(0, 8);
    brusk->setGraphicsEffect(shadow);
    VarnoColor::onAppearanceChange(brusk, [shadow] { shadow->setColor(VarnoColor::accent().resolved(0.2)); });
    column->addWidget(brusk, 0, Qt::AlignHCenter);
    column->addSpacing(8);

    auto *title = new QWidget(content);
    auto *titleRow = new QHBoxLayout(title);
    titleRow->setContentsMargins(0, 0, 0, 0);
    titleRow->setSpacing(0);
    titleRow->addWidget(PanelParts::label(QStringLiteral("Welcome to the "), VarnoFont::brusk(26, QFont::Light),
                                          VarnoColor::textPrimary(), false, title));
    QFont italic = VarnoFont::brusk(26, QFont::Light);
    italic.setItalic(true);
    titleRow->addWidget(PanelParts::label(QStringLiteral("Workshop"), italic, VarnoColor::accent(), false, title));
    column->addWidget(title, 0, Qt::AlignHCenter);
    column->addSpacing(4);
    auto *subtitle = PanelParts::label(QStringLiteral("Brusk keeps your software tended."), VarnoFont::ui(14),
                                       VarnoColor::textSecondary(), false, content);
    column->addWidget(subtitle, 0, Qt::AlignHCenter);
    column->addSpacing(24);

    m_screenHost = new QWidget(content);
    m_screenLayout = new QVBoxLayout(m_screenHost);
    m_screenLayout->setContentsMargins(0, 0, 0, 0);
    m_screenLayout->setSpacing(0);
    m_setupScreen = buildSetupScreen();
    m_discoveryScreen = buildDiscoveryScreen();
    m_summaryScreen = buildSummaryScreen();
    for (QWidget *screen : {m_setupScreen, m_discoveryScreen, m_summaryScreen}) {
        screen->setParent(m_screenHost);
        m_screenLayout->addWidget(screen, 0, Qt::AlignHCenter);
    }
    column->addWidget(m_screenHost);
    column->addSpacing(30);
    m_scroll->setWidget(content);
}

QWidget *OnboardingView::buildSetupScreen()
{
    QVBoxLayout *layout = nullptr;
    QWidget *screen = centredColumn(this, 8, &layout);
    screen->setMinimumWidth(kScreenWidth);
    for (int row = 0; row < 4; ++row) {
        auto *view = new SetupRowView(screen);
        m_setupRows.append(view);
        layout->addWidget(view);
    }
    return screen;
}

QWidget *OnboardingView::buildDiscoveryScreen()
{
    QVBoxLayout *layout = nullptr;
    QWidget *screen = centredColumn(this, 20, &layout);
    screen->setMinimumWidth(kScreenWidth);

    auto *counterStack = new QWidget(screen);
    auto *stack = new QVBoxLayout(counterStack);
    stack->setContentsMargins(0, 20, 0, 20);
    stack->setSpacing(6);
    stack->addWidget(PanelParts::label(QStringLiteral("Getting to know your apps..."), VarnoFont::ui(14),
                                       VarnoColor::textSecondary(), false, counterStack),
                     0, Qt::AlignHCenter);
    m_counter = new OnboardingCounter(counterStack);
    stack->addWidget(m_counter, 0, Qt::AlignHCenter);
    stack->addWidget(PanelParts::label(QStringLiteral("apps found so far"), VarnoFont::ui(13),
                                       VarnoColor::textSecondary(), false, counterStack),
                     0, Qt::AlignHCenter);
    layout->addWidget(counterStack);

    m_namePill = new OnboardingNamePill(screen);
    layout->addWidget(m_namePill, 0, Qt::AlignHCenter);

    auto *privacy = new QWidget(screen);
    auto *privacyRow = new QHBoxLayout(privacy);
    privacyRow->setContentsMargins(0, 8, 0, 0);
    privacyRow->setSpacing(6);
    privacyRow->addStretch(1);
    privacyRow->addWidget(new PanelsSymbol(QStringLiteral("lock.shield"), VarnoColor::success(), 13, 0, privacy), 0,
                          Qt::AlignVCenter);
    privacyRow->addWidget(PanelParts::label(QStringLiteral(
                                                "Brusk reads version numbers and update feeds. No data leaves your Mac."),
                                            VarnoFont::ui(11), VarnoColor::textTertiary(), false, privacy),
                          0, Qt::AlignVCenter);
    privacyRow->addStretch(1);
    layout->addWidget(privacy);
    return screen;
}

QWidget *OnboardingView::buildSummaryScreen()
{
    QVBoxLayout *layout = nullptr;
    QWidget *screen = centredColumn(this, 20, &layout);
    screen->setMinimumWidth(kScreenWidth);

    auto *card = new PanelsRoundedPanel(VarnoColor::surface(), 12, screen);
    card->setStroke(VarnoColor::accent(), 0.2);
    auto *cardColumn = new QVBoxLayout(card);
    cardColumn->setContentsMargins(20, 20, 20, 20);
    cardColumn->setSpacing(14);
    m_summaryTitle = PanelParts::label(QString(), VarnoFont::ui(15, QFont::Medium), VarnoColor::textPrimary(), false,
                                       card);
    m_summaryTitle->setAlignment(Qt::AlignHCenter);
    cardColumn->addWidget(m_summaryTitle);
    m_summaryHeadline = PanelParts::label(QString(), VarnoFont::ui(13), VarnoColor::textSecondary(), true, card);
    m_summaryHeadline->setAlignment(Qt::AlignHCenter);
    cardColumn->addWidget(m_summaryHeadline);
    cardColumn->addWidget(PanelParts::divider(card));

    auto *tiles = new QWidget(card);
    auto *tilesRow = new QHBoxLayout(tiles);
    tilesRow->setContentsMargins(0, 0, 0, 0);
    tilesRow->setSpacing(32);
    tilesRow->addStretch(1);
    const auto tile = [tiles](const QString &labelText, QLabel **count) {
        auto *item = new QWidget(tiles);
        auto *itemColumn = new QVBoxLayout(item);
        itemColumn->setContentsMargins(0, 0, 0, 0);
        itemColumn->setSpacing(2);
        *count = PanelParts::label(QStringLiteral("0"), VarnoFont::brusk(24, QFont::Light), VarnoColor::success(),
                                   false, item);
        itemColumn->addWidget(*count, 0, Qt::AlignHCenter);
        itemColumn->addWidget(PanelParts::label(labelText, VarnoFont::ui(11), VarnoColor::textSecondary(), false, item),
                              0, Qt::AlignHCenter);
        return item;
    };
    tilesRow->addWidget(tile(QStringLiteral("need attention"), &m_attentionCount));
    tilesRow->addWidget(tile(QStringLiteral("in workshop"), &m_managedCount));
    tilesRow->addStretch(1);
    cardColumn->addWidget(tiles);
    m_pathLine = PanelParts::label(QString(), VarnoFont::ui(13), VarnoColor::textSecondary(), true, card);
    m_pathLine->setAlignment(Qt::AlignHCenter);
    cardColumn->addWidget(m_pathLine);
    layout->addWidget(card);

    m_launchBox = new QCheckBox(QStringLiteral("Launch VARNO at login so it keeps watch after you restart"), screen);
    m_launchBox->setFont(VarnoFont::ui(13));
    m_launchBox->setChecked(true);
    // The box in the tokens (dark in the dark appearance, its check in the
    // primary text colour), on the screen's own background; its label in the
    // secondary text colour.
    VarnoColor::bindWindowPalette(m_launchBox, VarnoColor::surface());
    m_launchBox->setAutoFillBackground(false);
    VarnoColor::bindPaletteRole(m_launchBox, QPalette::WindowText, VarnoColor::textSecondary());
    layout->addWidget(m_launchBox, 0, Qt::AlignLeft);

    m_openButton = new StyledButton(QStringLiteral("Open the Workshop"), OpenWorkshopButtonStyle(), screen);
    m_openButton->setAccessibleName(QStringLiteral("Open the Workshop"));
    m_openButton->setMaximumWidth(kScreenWidth);
    connect(m_openButton, &QPushButton::clicked, this, &OnboardingView::openWorkshop);
    layout->addWidget(m_openButton);

    layout->addWidget(PanelParts::label(QStringLiteral("Your data stays on your Mac."), VarnoFont::ui(11),
                                        VarnoColor::textTertiary(), false, screen),
                      0, Qt::AlignHCenter);
    return screen;
}

bool OnboardingView::launchAtLogin() const
{
    return m_launchBox->isChecked();
}

int OnboardingView::managedAppsCount() const
{
    return m_model ? OnboardingRules::managedAppsCount(m_model->apps()) : 0;
}

QString OnboardingView::summaryHeadline() const
{
    const int outdated = m_model ? int(m_model->libraryCounts().outdated) : 0;
    return OnboardingRules::summaryHeadline(managedAppsCount(), outdated);
}

void OnboardingView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The flow runs once per overlay, however often it is shown.
    if (!m_started)
        startFlow();
}

void OnboardingView::startFlow()
{
    m_started = true;
    auto *flow = new OnboardingFlow(m_model, m_environment);
    m_flow = flow;
    connect(flow, &OnboardingFlow::phaseChanged, this, &OnboardingView::setPhase);
    connect(flow, &OnboardingFlow::setupChanged, this, [this, flow] {
        m_setupStep = flow->setupStep();
        m_brewFound = flow->brewFound();
        m_masFound = flow->masFound();
        renderSetup();
    });
    connect(flow, &OnboardingFlow::discoveryChanged, this, [this, flow](int animationMs) {
        m_appsFound = flow->appsFound();
        m_lastFoundApp = flow->lastFoundApp();
        renderDiscovery(animationMs);
    });
    flow->start();
}

void OnboardingView::showPreview(const Preview &preview)
{
    m_started = true;
    m_setupStep = preview.setupStep;
    m_appsFound = preview.appsFound;
    m_lastFoundApp = preview.lastFoundApp;
    m_brewFound = preview.brewFound;
    m_masFound = preview.masFound;
    renderSetup();
    renderDiscovery(0);
    setPhase(preview.phase, 0);
}

QWidget *OnboardingView::screenFor(OnboardingPhase phase) const
{
    switch (phase) {
    case OnboardingPhase::setup:
        return m_setupScreen;
    case OnboardingPhase::discovering:
        return m_discoveryScreen;
    case OnboardingPhase::done:
        break;
    }
    return m_summaryScreen;
}

void OnboardingView::setPhase(OnboardingPhase phase, int animationMs)
{
    QWidget *previous = screenFor(m_phase);
    QWidget *next = screenFor(phase);
    m_phase = phase;
    if (Appearance::instance().reduceMotion())
        animationMs = 0;
    if (animationMs > 0 && previous != next && previous->isVisible()) {
        // The old screen fades out above the new one, which fades in.
        auto *picture = new QLabel(m_screenHost);
        picture->setPixmap(previous->grab());
        picture->setGeometry(previous->geometry());
        picture->setAttribute(Qt::WA_TransparentForMouseEvents);
        auto *fade = new QGraphicsOpacityEffect(picture);
        picture->setGraphicsEffect(fade);
        auto *animation = new QPropertyAnimation(fade, "opacity", picture);
        animation->setDuration(animationMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        animation->setStartValue(1.0);
        animation->setEndValue(0.0);
        connect(animation, &QAbstractAnimation::finished, picture, &QObject::deleteLater);
        picture->show();
        picture->raise();
        animation->start(QAbstractAnimation::DeleteWhenStopped);
        fadeIn(next, animationMs);
    }
    for (QWidget *screen : {m_setupScreen, m_discoveryScreen, m_summaryScreen})
        screen->setVisible(screen == next);
    if (phase == OnboardingPhase::done)
        renderSummary();
}

void OnboardingView::renderSetup()
{
    for (int row = 0; row < m_setupRows.size(); ++row)
        m_setupRows.at(row)->set(OnboardingRules::setupRowTitle(row, m_brewFound, m_masFound),
                                 OnboardingRules::setupRowMark(row, m_setupStep));
}

void OnboardingView::renderDiscovery(int animationMs)
{
    // The flow says whether a change is animated; the count and the name
    // take their own times.
    const bool animated = animationMs > 0 && !Appearance::instance().reduceMotion();
    m_counter->setValue(m_appsFound, animated ? kCountChangeMs : 0);
    m_namePill->setName(m_lastFoundApp, animated ? kNameChangeMs : 0);
}

void OnboardingView::renderSummary()
{
    const QList<AppRecord> apps = m_model ? m_model->apps() : QList<AppRecord>();
    const int total = int(apps.size());
    const int managed = OnboardingRules::managedAppsCount(apps);
    const int outdated = m_model ? int(m_model->libraryCounts().outdated) : 0;
    m_summaryTitle->setText(OnboardingRules::mappedTitle(total));
    m_summaryHeadline->setText(OnboardingRules::summaryHeadline(managed, outdated));
    m_attentionCount->setText(QString::number(outdated));
    m_attentionAmber = outdated > 0;
    VarnoColor::bindForeground(m_attentionCount, m_attentionAmber ? VarnoColor::attention() : VarnoColor::success());
    m_managedCount->setText(QString::number(managed));
    m_pathLine->setText(OnboardingRules::pathLine(total - managed));
}

void OnboardingView::openWorkshop()
{
    if (launchAtLogin())
        LoginItemManager::set(true);
    if (m_model)
        m_model->completeOnboarding();
}

void OnboardingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), VarnoColor::background().resolved());
}

QString OnboardingView::setupRowTitle(int row) const
{
    return m_setupRows.at(row)->title();
}

OnboardingRules::SetupMark OnboardingView::setupRowMark(int row) const
{
    return m_setupRows.at(row)->mark();
}

bool OnboardingView::setupRowTitleIsSecondary(int row) const
{
    return m_setupRows.at(row)->titleIsSecondary();
}

QString OnboardingView::counterText() const
{
    return QString::number(m_counter->value());
}

QString OnboardingView::namePillText() const
{
    return m_namePill->name();
}

QString OnboardingView::summaryTitleText() const
{
    return m_summaryTitle->text();
}

QString OnboardingView::summaryHeadlineText() const
{
    return m_summaryHeadline->text();
}

QString OnboardingView::pathLineText() const
{
    return m_pathLine->text();
}

QString OnboardingView::attentionCountText() const
{
    return m_attentionCount->text();
}

QString OnboardingView::managedCountText() const
{
    return m_managedCount->text();
}

bool OnboardingView::attentionTileIsAmber() const
{
    return m_attentionAmber;
}
