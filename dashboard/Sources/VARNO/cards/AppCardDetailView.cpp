#include "cards/AppCardDetailView.h"

#include "base/Async.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "records/RemediationRegistry.h"
#include "records/VendorUpdaters.h"
#include "widgets/AppIconView.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/SheetFactories.h"
#include "widgets/TrustBadges.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString arrow = QStringLiteral(" → ");

} // namespace

// --- CardBadge ------------------------------------------------------------------------

CardBadge::CardBadge(QWidget *parent)
    : QWidget(parent)
{
    setFont(VarnoFont::mono(9, QFont::Medium));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    VarnoColor::repaintOnAppearanceChange(this);
}

void CardBadge::setBadge(const QString &text, const CardRules::BadgeStyle &style, qreal strokeOpacity)
{
    const bool resized = text != m_text;
    m_text = text;
    m_style = style;
    m_strokeOpacity = strokeOpacity;
    setAccessibleName(text);
    if (resized)
        updateGeometry();
    update();
}

QSize CardBadge::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    return QSize(metrics.horizontalAdvance(m_text) + 14, metrics.height() + 4);
}

void CardBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds, 4, 4);
    painter.fillPath(shape, m_style.background.resolved(m_style.backgroundOpacity));
    QPainterPath outline;
    outline.addRoundedRect(bounds.adjusted(0.5, 0.5, -0.5, -0.5), 3.5, 3.5);
    painter.setPen(QPen(m_style.foreground.resolved(m_strokeOpacity), 1));
    painter.drawPath(outline);
    painter.setPen(m_style.foreground.resolved());
    painter.setFont(font());
    painter.drawText(bounds, Qt::AlignCenter | Qt::TextSingleLine, m_text);
}

// --- VersionGroupView ---------------------------------------------------------------------

VersionGroupView::VersionGroupView(QWidget *parent)
    : QWidget(parent)
{
    setFont(VarnoFont::mono(12));
    setMaximumWidth(280);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    VarnoColor::repaintOnAppearanceChange(this);
}

void VersionGroupView::setGroup(const CardRules::VersionGroup &group, const ColorPair &latestColor)
{
    const bool resized = !(group == m_group);
    m_group = group;
    m_latestColor = latestColor;
    setAccessibleName(text());
    if (resized)
        updateGeometry();
    update();
}

QString VersionGroupView::text() const
{
    switch (m_group.kind) {
    case CardRules::VersionGroup::Kind::outdated:
        return m_group.current + arrow + m_group.latest;
    case CardRules::VersionGroup::Kind::current:
        return m_group.current;
    case CardRules::VersionGroup::Kind::nothing:
        break;
    }
    return QString();
}

QSize VersionGroupView::sizeHint() const
{
    return QSize(std::min(280, fontMetrics().horizontalAdvance(text()) + 1), fontMetrics().height());
}

QSize VersionGroupView::minimumSizeHint() const
{
    return QSize(0, fontMetrics().height());
}

void VersionGroupView::paintEvent(QPaintEvent *)
{
    const QString whole = text();
    if (whole.isEmpty())
        return;
    QPainter painter(this);
    painter.setFont(font());
    const QFontMetrics metrics = fontMetrics();
    const int flags = Qt::AlignVCenter | Qt::TextSingleLine;
    const ColorPair secondary = VarnoColor::textSecondary();
    const ColorPair muted = VarnoColor::textTertiary();
    if (metrics.horizontalAdvance(whole) > width()) {
        // Too narrow: one text cut in the middle, right-aligned.
        painter.setPen((m_group.kind == CardRules::VersionGroup::Kind::outdated ? secondary : muted).resolved());
        painter.drawText(rect(), flags | Qt::AlignRight, metrics.elidedText(whole, Qt::ElideMiddle, width()));
        return;
    }
    // Trailing alignment: the texts end at the right edge.
    int x = width() - metrics.horizontalAdvance(whole);
    auto draw = [&](const QString &part, const ColorPair &color) {
        painter.setPen(color.resolved());
        const int advance = metrics.horizontalAdvance(part);
        painter.drawText(QRect(x, 0, advance + 1, height()), flags | Qt::AlignLeft, part);
        x += advance;
    };
    if (m_group.kind == CardRules::VersionGroup::Kind::outdated) {
        draw(m_group.current, secondary);
        draw(arrow, muted);
        draw(m_group.latest, m_latestColor);
    } else {
        draw(m_group.current, muted);
    }
}

// --- The trust stripe -------------------------------------------------------------------

class AppCardDetailView::Stripe : public QWidget {
public:
    explicit Stripe(QWidget *parent)
        : QWidget(parent)
    {
        setFixedWidth(3);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
        VarnoColor::repaintOnAppearanceChange(this);
    }
    void setColor(const ColorPair &color)
    {
        m_color = color;
        update();
    }
    const ColorPair &color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), m_color.resolved());
    }

private:
    ColorPair m_color;
};

// --- AppCardDetailView -----------------------------------------------------------------------

AppCardDetailView::AppCardDetailView(AppModel *model, const AppRecord &app, ShowProvenance showProvenance, QWidget *parent)
    : ChoosableCard(parent)
    , m_model(model)
    , m_app(app)
    , m_showProvenance(std::move(showProvenance))
{
    if (!model)
        qFatal("AppCardDetailView needs the app's model");
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    auto *outer = new QHBoxLayout(this);
    outer->setContentsMargins(14, 10, 14, 10);
    outer->setSpacing(12);
    m_stripe = new Stripe(this);
    outer->addWidget(m_stripe);

    auto *column = new QVBoxLayout;
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    outer->addLayout(column, 1);

    auto *main = new QHBoxLayout;
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(12);
    column->addLayout(main);

    m_icon = new AppIconView(app, 28, this);
    main->addWidget(m_icon, 0, Qt::AlignVCenter);

    auto *identityBox = new QWidget(this);
    identityBox->setMinimumWidth(180);
    identityBox->setMaximumWidth(240);
    identityBox->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    auto *identity = new QVBoxLayout(identityBox);
    identity->setContentsMargins(0, 0, 0, 0);
    identity->setSpacing(1);
    m_name = new ElidedLabel(VarnoFont::ui(13, QFont::Medium), VarnoColor::textPrimary(), Qt::ElideRight, identityBox);
    m_bundleId = new ElidedLabel(VarnoFont::mono(11), VarnoColor::textSecondary(), Qt::ElideMiddle, identityBox);
    identity->addWidget(m_name);
    identity->addWidget(m_bundleId);
    main->addWidget(identityBox, 0, Qt::AlignVCenter);
    main->addStretch(1);

    m_version = new VersionGroupView(this);
    main->addWidget(m_version, 0, Qt::AlignVCenter);
    m_mechanism = new CardBadge(this);
    main->addWidget(m_mechanism, 0, Qt::AlignVCenter);
    m_collaboration = new CardBadge(this);
    main->addWidget(m_collaboration, 0, Qt::AlignVCenter);
    m_sealSlot = new QWidget(this);
    m_sealSlot->setFixedSize(20, 20);
    new QHBoxLayout(m_sealSlot);
    m_sealSlot->layout()->setContentsMargins(0, 0, 0, 0);
    main->addWidget(m_sealSlot, 0, Qt::AlignVCenter);

    m_incidentRow = new QWidget(this);
    auto *incident = new QHBoxLayout(m_incidentRow);
    incident->setContentsMargins(0, 0, 0, 0);
    incident->setSpacing(8);
    m_incidentSymbol = new SymbolView(QString(), ColorPair(), 12, m_incidentRow);
    incident->addWidget(m_incidentSymbol, 0, Qt::AlignVCenter);
    m_incidentCause = new LineLimitedLabel(VarnoFont::ui(11), ColorPair(), 2, m_incidentRow);
    incident->addWidget(m_incidentCause, 1, Qt::AlignVCenter);
    m_incidentButton = new IncidentActionButton(model, app, QString(), m_incidentRow);
    incident->addWidget(m_incidentButton, 0, Qt::AlignVCenter);
    column->addWidget(m_incidentRow);
    m_incidentRow->hide();

    connectCardRefresh(model, this, [this] { refresh(); });
    VarnoColor::repaintOnAppearanceChange(this);
    refresh();
}

int AppCardDetailView::heightFor(const AppModel &model, const AppRecord &app, int width)
{
    const QFontMetrics name(VarnoFont::ui(13, QFont::Medium));
    const QFontMetrics bundleId(VarnoFont::mono(11));
    const QFontMetrics version(VarnoFont::mono(12));
    const QFontMetrics badge(VarnoFont::mono(9, QFont::Medium));
    const int row = std::max({28, name.height() + 1 + bundleId.height(), version.height(), badge.height() + 4, 20});
    int height = 20 + row;
    const auto incident = model.incidents().constFind(app.bundle_id);
    if (incident != model.incidents().cend()) {
        const QFontMetrics cause(VarnoFont::ui(11));
        const IncidentActionRules::ButtonSpec spec = IncidentActionRules::specFor(RemediationRegistry::shared().action(
                                                                                      incident->code),
                                                                                  app, IncidentActionRules::Busy{},
                                                                                  false);
        const QFontMetrics buttonFont(VarnoFont::ui(11, QFont::Medium));
        const int buttonWidth = spec.visible ? buttonFont.horizontalAdvance(spec.title) + 20 + 8 : 0;
        const int buttonHeight = spec.visible ? buttonFont.height() + 8 : 0;
        // Padding 14, the stripe and its spacing, the symbol and its spacing.
        const int causeWidth = std::max(40, width - 28 - 3 - 12 - 12 - 8 - buttonWidth);
        const QString text = RemediationRegistry::shared().cause(incident->code);
        const int lines = std::clamp(wrappedTextHeight(VarnoFont::ui(11), text, causeWidth) / cause.lineSpacing(), 1, 2);
        height += 6 + std::max({12, lines * cause.lineSpacing(), buttonHeight});
    }
    return height;
}

int AppCardDetailView::heightFor(const AppRecord &record, int width) const
{
    return m_model ? heightFor(*m_model, record, width) : 0;
}

void AppCardDetailView::setApp(const AppRecord &app)
{
    const bool other = m_app.bundle_id != app.bundle_id;
    if (other || m_app.app_name != app.app_name)
        m_icon->setApp(app);
    if (other) {
        // Another app: the view-local state starts afresh.
        m_actionToConfirm.reset();
        if (m_confirmation)
            m_confirmation->close();
        delete m_seal;
        m_seal = nullptr;
    }
    m_app = app;
    refresh();
}

void AppCardDetailView::refresh()
{
    if (!m_model)
        return;
    // An app without an icon is asked for it again at each refresh.
    m_icon->refresh();
    const QString &bid = m_app.bundle_id;
    const auto incident = m_model->incidents().constFind(bid);
    const std::optional<AppIncident> openIncident = incident != m_model->incidents().cend() ? std::optional(*incident)
                                                                                            : std::nullopt;
    m_presentation = AppTrustPresenter::make(m_app, m_model->updateState(bid), openIncident, VendorUpdaters::shared());
    const ColorPair tone = VarnoColor::tone(PosturePresenter::tone(stateTone()));

    m_stripe->setColor(tone);
    m_name->setText(m_app.app_name);
    m_bundleId->setText(bid);
    m_version->setGroup(CardRules::versionGroupFor(m_app), tone);
    m_mechanism->setBadge(m_presentation.mechanismLabel, CardRules::mechanismBadgeStyle(m_presentation.mechanismLabel),
                          0.3);
    const qint64 count = m_presentation.collaborationCount;
    if (count >= 1) {
        const ColorPair green = VarnoColor::success();
        m_collaboration->setBadge(CardRules::collaborationText(count), {green, 0.1, green}, 0.35);
        m_collaboration->setToolTip(CardRules::collaborationHelp(count));
        m_collaboration->show();
    } else {
        m_collaboration->hide();
    }
    refreshSeal();
    refreshIncident();
    setObjectName(QStringLiteral("app-row-") + bid);
    update();
}

void AppCardDetailView::refreshSeal()
{
    const bool wantsSeal = m_presentation.showsSeal;
    const bool wantsPath = !wantsSeal && m_presentation.showsVerifiedPath;
    if (m_seal && ((wantsSeal && m_sealIsGreen) || (wantsPath && !m_sealIsGreen)))
        return;
    delete m_seal;
    m_seal = nullptr;
    if (wantsSeal)
        m_seal = new GreenSealView(20, m_sealSlot);
    else if (wantsPath)
        m_seal = new VerifiedPathView(20, m_sealSlot);
    m_sealIsGreen = wantsSeal;
    if (m_seal) {
        m_sealSlot->layout()->addWidget(m_seal);
        m_seal->show();
    }
}

void AppCardDetailView::refreshIncident()
{
    const auto found = m_model->incidents().constFind(m_app.bundle_id);
    if (found == m_model->incidents().cend()) {
        m_incidentRow->hide();
        return;
    }
    const AppIncident &incident = *found;
    const bool failed = incident.kind == AppIncident::Kind::failed;
    const QString cause = RemediationRegistry::shared().cause(incident.code);
    m_incidentSymbol->setSymbol(failed ? QStringLiteral("exclamationmark.triangle")
                                       : QStringLiteral("arrow.uturn.forward"),
                                failed ? VarnoColor::danger() : VarnoColor::textTertiary());
    m_incidentCause->setText(cause);
    m_incidentCause->setColor(failed ? VarnoColor::dangerText() : VarnoColor::textSecondary());
    m_incidentButton->setIncident(m_app, incident.code);
    m_incidentRow->setAccessibleName(CardRules::incidentAccessibilityLabel(incident.kind, cause));
    m_incidentRow->show();
}

void AppCardDetailView::openProvenance()
{
    openProvenanceOf(m_model, m_app, m_showProvenance);
}

QMenu *AppCardDetailView::buildContextMenu()
{
    auto *menu = new QMenu(this);
    // The divider stays even when no item follows it.
    menu->setSeparatorsCollapsible(false);
    addUpdateModeItems(menu, m_model, m_app);
    menu->addSeparator();
    const bool busy = CardRules::lifecycleBusy(busyFlags(*m_model), m_model->updateState(m_app.bundle_id));
    QPointer<AppCardDetailView> self(this);
    if (CardRules::canReinstall(m_app, busy)) {
        QAction *reinstall = menu->addAction(QStringLiteral("Re-install"));
        connect(reinstall, &QAction::triggered, this, [this] { confirm(CardRules::AppLifecycleAction::reinstall); });
    }
    if (CardRules::canUninstall(m_app, busy)) {
        QAction *uninstall = menu->addAction(QStringLiteral("Uninstall…"));
        connect(uninstall, &QAction::triggered, this, [this] { confirm(CardRules::AppLifecycleAction::uninstall); });
    }
    if (CardRules::isUnclassified(m_app)) {
        QAction *classify = menu->addAction(QStringLiteral("Help Brusk classify…"));
        connect(classify, &QAction::triggered, this, &AppCardDetailView::showContributeSheet);
    }
    return menu;
}

void AppCardDetailView::confirm(CardRules::AppLifecycleAction action)
{
    if (m_confirmation)
        return;
    m_actionToConfirm = action;
    const CardRules::Confirmation texts = CardRules::confirmationFor(action, m_app);
    auto *box = new QMessageBox(window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(texts.title);
    // Window managers may hide a dialog's title; the title is always shown.
    box->setTextFormat(Qt::PlainText);
    box->setText(texts.title);
    Labels::setPlainInformativeText(box, texts.message);
    QPushButton *cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    QPushButton *confirmButton = box->addButton(texts.confirmTitle,
                                                texts.destructive ? QMessageBox::DestructiveRole
                                                                  : QMessageBox::AcceptRole);
    cancel->setAccessibleName(cancel->text());
    confirmButton->setAccessibleName(confirmButton->text());
    box->setEscapeButton(cancel);
    // Return never confirms a destructive operation.
    box->setDefaultButton(cancel);

    // The dialog tells which button closed it once it has finished (the
    // box's own handling of a click runs before any other).
    QPointer<AppCardDetailView> self(this);
    QPointer<AppModel> model = m_model;
    const AppRecord app = m_app;
    connect(box, &QDialog::finished, this, [self, model, app, box, confirmButton] {
        if (!self)
            return;
        const std::optional<CardRules::AppLifecycleAction> pending = self->m_actionToConfirm;
        // Cleared first, whatever closed the dialog (Cancel, Escape, the
        // confirming button): Cancel and Escape confirm nothing.
        self->m_actionToConfirm.reset();
        if (box->clickedButton() != confirmButton || !pending || !model)
            return;
        if (*pending == CardRules::AppLifecycleAction::uninstall)
            Async::detach(model->uninstall(app));
        else
            Async::detach(model->reinstall(app));
    });
    m_confirmation = box;
    box->open();
}

void AppCardDetailView::showContributeSheet()
{
    if (m_contributeSheet)
        return;
    QDialog *sheet = SheetFactories::makeContributeSheet(m_model, m_app, window());
    m_contributeSheet = sheet;
    sheet->open();
}

void AppCardDetailView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QColor background = VarnoColor::mix(VarnoColor::surface().resolved(), VarnoColor::surfaceHover().resolved(),
                                              hoverProgress());
    painter.fillRect(rect(), background);
    if (hasFocus()) {
        painter.setPen(QPen(VarnoColor::accent().resolved(), 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}
