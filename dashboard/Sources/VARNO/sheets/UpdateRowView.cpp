#include "sheets/UpdateRowView.h"

#include "kit/SymbolIcons.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/Appearance.h"
#include "platform/PlainText.h"
#include "records/RemediationRegistry.h"
#include "sheets/CommandHints.h"
#include "widgets/AppIconView.h"
#include "widgets/IncidentActionButton.h"
#include "widgets/SheetFrame.h"
#include "widgets/TrustBadges.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimerEvent>

#include <cmath>

namespace {

constexpr int kPaddingX = 14;
constexpr int kPaddingY = 10;
constexpr int kSpacing = 12;
constexpr int kLineSpacing = 2;

// Resolved once: looking a face up costs far more than drawing with it.
const QFont &nameFont()
{
    static const QFont font = VarnoFont::ui(13, QFont::Medium);
    return font;
}

const QFont &lineFont()
{
    static const QFont font = VarnoFont::ui(11);
    return font;
}

} // namespace

// --- Rules ---------------------------------------------------------------------------------

QString UpdateRowView::mechanismLabel(const AppRecord &app)
{
    const QString mechanism = app.update_mechanism.value_or(QString()).toLower();
    if (mechanism == QLatin1String("cask"))
        return QStringLiteral("Homebrew");
    if (mechanism == QLatin1String("mas"))
        return QStringLiteral("App Store");
    if (mechanism == QLatin1String("sparkle"))
        return QStringLiteral("Sparkle");
    return QStringLiteral("Native updater");
}

QString UpdateRowView::readyLine(const AppRecord &app)
{
    const QString mechanism = app.update_mechanism.value_or(QStringLiteral("unknown"));
    if (mechanism == QLatin1String("cask"))
        return QStringLiteral("Ready through Homebrew");
    if (mechanism == QLatin1String("mas"))
        return QStringLiteral("Ready through the App Store");
    if (mechanism == QLatin1String("sparkle"))
        return QStringLiteral("Ready through the app's updater");
    return QStringLiteral("Ready through the native updater");
}

std::optional<QString> UpdateRowView::commandHint(const AppRecord &app)
{
    const QString mechanism = app.update_mechanism.value_or(QStringLiteral("unknown"));
    if (mechanism == QLatin1String("cask")) {
        const QString token = app.cask_token && !app.cask_token->isEmpty() ? *app.cask_token : app.app_name.toLower();
        const std::optional<QString> word = CommandHints::shellWord(token);
        if (!word)
            return std::nullopt;
        return QStringLiteral("brew upgrade --cask ") + *word;
    }
    if (mechanism == QLatin1String("mas")) {
        if (!app.mas_id || app.mas_id->isEmpty())
            return QStringLiteral("mas upgrade");
        const std::optional<QString> word = CommandHints::shellWord(*app.mas_id);
        if (!word)
            return std::nullopt;
        return QStringLiteral("mas upgrade ") + *word;
    }
    if (mechanism == QLatin1String("sparkle"))
        return QStringLiteral("Downloads the app's signed update");
    return std::nullopt;
}

QString UpdateRowView::incidentCause(const std::optional<AppIncident> &incident)
{
    return RemediationRegistry::shared().cause(incident ? std::optional<QString>(incident->code) : std::nullopt);
}

QString UpdateRowView::shortenedFailure(const QString &message)
{
    // Counted no further than the cut: the message may be megabytes long.
    if (PlainText::prefixCharacters(message, 84).size() == message.size())
        return message;
    return PlainText::prefixCharacters(message, 83) + QStringLiteral("…");
}

bool UpdateRowView::showsIncidentAction(const UpdateState &state, const std::optional<AppIncident> &incident)
{
    switch (state.kind()) {
    case UpdateState::Kind::failed:
        return true;
    case UpdateState::Kind::skipped:
    case UpdateState::Kind::quitDenied:
    case UpdateState::Kind::idle:
        return incident.has_value();
    case UpdateState::Kind::queued:
    case UpdateState::Kind::running:
    case UpdateState::Kind::done:
        break;
    }
    return false;
}

QString UpdateRowView::primaryLine(const AppRecord &app, const UpdateState &state,
                                   const std::optional<AppIncident> &incident)
{
    return contentFor(app, state, incident).primaryLine;
}

std::optional<QString> UpdateRowView::secondaryLine(const AppRecord &app, const UpdateState &state,
                                                    const std::optional<AppIncident> &incident)
{
    return contentFor(app, state, incident).secondaryLine;
}

QString UpdateRowView::accessibilityLabel(const AppRecord &app, const QString &primaryLine)
{
    return PlainText::forField(app.app_name) + QStringLiteral(", ") + primaryLine;
}

UpdateRowContent UpdateRowView::contentFor(const AppRecord &app, const UpdateState &state,
                                           const std::optional<AppIncident> &incident)
{
    using Icon = UpdateRowContent::StateIcon;
    UpdateRowContent c;
    c.secondaryLine = mechanismLabel(app);
    c.statusLineColor = VarnoColor::textSecondary();
    c.borderColor = VarnoColor::border();
    c.borderOpacity = 1.0;

    const auto asFailed = [&c] {
        c.stateIcon = Icon::symbol;
        c.symbol = QStringLiteral("exclamationmark.triangle");
        c.symbolColor = VarnoColor::danger();
        c.statusLineColor = VarnoColor::dangerText();
        c.borderColor = VarnoColor::danger();
        c.borderOpacity = 0.3;
    };
    const auto asSkipped = [&c] {
        c.stateIcon = Icon::symbol;
        c.symbol = QStringLiteral("arrow.uturn.forward");
        c.symbolColor = VarnoColor::textTertiary();
    };

    switch (state.kind()) {
    case UpdateState::Kind::queued:
        c.primaryLine = QStringLiteral("Queued (%1 of %2)").arg(state.position()).arg(state.total());
        c.stateIcon = Icon::symbol;
        c.symbol = QStringLiteral("clock");
        c.symbolColor = VarnoColor::textSecondary();
        break;
    case UpdateState::Kind::running:
        c.primaryLine = state.text();
        c.stateIcon = Icon::spinner;
        c.symbolColor = VarnoColor::accent();
        c.statusLineColor = VarnoColor::accent();
        c.borderColor = VarnoColor::accent();
        c.borderOpacity = 0.3;
        break;
    case UpdateState::Kind::skipped:
        c.primaryLine = incident ? incidentCause(incident) : QStringLiteral("Skipped — ") + state.text();
        asSkipped();
        break;
    case UpdateState::Kind::failed:
        c.primaryLine = incidentCause(incident);
        c.secondaryLine = shortenedFailure(state.text());
        asFailed();
        break;
    case UpdateState::Kind::quitDenied:
        c.primaryLine = state.text();
        c.stateIcon = Icon::symbol;
        c.symbol = QStringLiteral("hand.raised");
        c.symbolColor = VarnoColor::warning();
        c.statusLineColor = VarnoColor::attention();
        c.borderColor = VarnoColor::warning();
        c.borderOpacity = 0.3;
        break;
    case UpdateState::Kind::done:
        c.primaryLine = QStringLiteral("Updated");
        if (app.green_seal.value_or(false)) {
            c.stateIcon = Icon::greenSeal;
        } else if (app.verified_path.value_or(false)) {
            c.stateIcon = Icon::verifiedPath;
        } else {
            c.stateIcon = Icon::symbol;
            c.symbol = QStringLiteral("checkmark");
            c.symbolColor = VarnoColor::success();
        }
        c.statusLineColor = VarnoColor::success();
        c.borderColor = VarnoColor::success();
        c.borderOpacity = 0.3;
        break;
    case UpdateState::Kind::idle:
        if (incident && incident->kind == AppIncident::Kind::failed) {
            c.primaryLine = incidentCause(incident);
            asFailed();
        } else if (incident) {
            c.primaryLine = incidentCause(incident);
            asSkipped();
        } else {
            c.primaryLine = readyLine(app);
            // Shown, never copied: bounded like the record's other texts.
            const std::optional<QString> hint = commandHint(app);
            c.secondaryLine = hint ? std::optional(PlainText::forField(*hint)) : std::nullopt;
            c.stateIcon = Icon::none;
        }
        break;
    }
    c.showsIncidentAction = showsIncidentAction(state, incident);
    if (c.showsIncidentAction)
        c.incidentCode = incident ? incident->code : QStringLiteral("UNKNOWN");
    return c;
}

// --- The row -------------------------------------------------------------------------------

UpdateRowView::UpdateRowView(AppModel *model, const AppRecord &app, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_app(app)
{
    setObjectName(QStringLiteral("update-row-") + app.bundle_id);
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_icon = new AppIconView(app, kIconSize, this);
    // The icon is decoration: the row's label names the app.
    m_icon->setAccessibleName(QString());
    VarnoColor::repaintOnAppearanceChange(this);
    refresh();
}

void UpdateRowView::setApp(const AppRecord &app)
{
    if (app == m_app)
        return;
    const bool sameIcon = app.bundle_id == m_app.bundle_id && app.app_name == m_app.app_name
        && app.install_path == m_app.install_path;
    m_app = app;
    if (!sameIcon)
        m_icon->setApp(app);
    refresh();
}

bool UpdateRowView::refresh()
{
    std::optional<AppIncident> incident;
    if (m_model) {
        m_state = m_model->updateState(m_app.bundle_id);
        const auto it = m_model->incidents().constFind(m_app.bundle_id);
        if (it != m_model->incidents().cend())
            incident = *it;
    }
    UpdateRowContent content = contentFor(m_app, m_state, incident);
    if (content == m_content && (m_content.showsIncidentAction == bool(m_button)))
        return false;
    apply(content);
    return true;
}

void UpdateRowView::apply(const UpdateRowContent &content)
{
    const bool heightMayChange = content.primaryLine != m_content.primaryLine
        || content.secondaryLine.has_value() != m_content.secondaryLine.has_value()
        || content.showsIncidentAction != m_content.showsIncidentAction;
    m_content = content;
    setAccessibleName(accessibilityLabel(m_app, content.primaryLine));

    // The remedy button, only while the row offers one.
    if (content.showsIncidentAction) {
        if (!m_button) {
            // The button shows or hides itself: a remedy of none takes no room.
            m_button = new IncidentActionButton(m_model, m_app, content.incidentCode, this);
        } else {
            m_button->setIncident(m_app, content.incidentCode);
        }
    } else if (m_button) {
        m_button->hide();
        m_button->deleteLater();
        m_button = nullptr;
    }

    // The trust badge of a done row.
    using Icon = UpdateRowContent::StateIcon;
    const Icon badgeKind = content.stateIcon == Icon::greenSeal || content.stateIcon == Icon::verifiedPath
        ? content.stateIcon
        : Icon::none;
    if (badgeKind != m_badgeKind) {
        if (m_badge) {
            m_badge->hide();
            m_badge->deleteLater();
            m_badge = nullptr;
        }
        if (badgeKind == Icon::greenSeal)
            m_badge = new GreenSealView(kStateSlot, this);
        else if (badgeKind == Icon::verifiedPath)
            m_badge = new VerifiedPathView(kStateSlot, this);
        if (m_badge)
            m_badge->show();
        m_badgeKind = badgeKind;
    }
    updateSpinner();
    if (heightMayChange)
        updateGeometry();
    placeChildren();
    update();
}

void UpdateRowView::updateSpinner()
{
    const bool spin = m_content.stateIcon == UpdateRowContent::StateIcon::spinner && isVisible()
        && !Appearance::instance().reduceMotion();
    if (spin && !m_spinTimer.isActive())
        m_spinTimer.start(80, this);
    else if (!spin && m_spinTimer.isActive())
        m_spinTimer.stop();
}

void UpdateRowView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateSpinner();
}

void UpdateRowView::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    m_spinTimer.stop();
}

void UpdateRowView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_spinTimer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    m_angle = (m_angle + 30) % 360;
    update(width() - kPaddingX - kStateSlot, 0, kStateSlot, height());
}

int UpdateRowView::textWidth(int width) const
{
    int used = kPaddingX + kIconSize + kSpacing + kSpacing + kStateSlot + kPaddingX;
    if (m_button && m_button->spec().visible)
        used += m_button->sizeHint().width() + kSpacing;
    return qMax(40, width - used);
}

const QStringList &UpdateRowView::primaryLinesAt(int available) const
{
    if (available != m_linesWidth || m_linesText != m_content.primaryLine) {
        m_lines = SheetParts::wrappedLines(m_content.primaryLine, lineFont(), 2, available);
        m_linesWidth = available;
        m_linesText = m_content.primaryLine;
    }
    return m_lines;
}

int UpdateRowView::textHeight(int width) const
{
    const int available = textWidth(width);
    const QFontMetricsF name(nameFont());
    const QFontMetricsF line(lineFont());
    const int primaryLines = int(primaryLinesAt(available).size());
    qreal height = name.height() + kLineSpacing + primaryLines * line.height();
    if (m_content.secondaryLine)
        height += kLineSpacing + line.height();
    return int(std::ceil(height));
}

int UpdateRowView::heightForWidth(int width) const
{
    int content = qMax(kIconSize, textHeight(width));
    if (m_button && m_button->spec().visible)
        content = qMax(content, m_button->sizeHint().height());
    return kPaddingY + content + kPaddingY;
}

QSize UpdateRowView::sizeHint() const
{
    return QSize(456, heightForWidth(456));
}

QStringList UpdateRowView::primaryLinesShown() const
{
    return primaryLinesAt(textWidth(width()));
}

void UpdateRowView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    placeChildren();
}

void UpdateRowView::placeChildren()
{
    const int h = height();
    m_icon->setGeometry(kPaddingX, (h - kIconSize) / 2, kIconSize, kIconSize);
    const int slotX = width() - kPaddingX - kStateSlot;
    if (m_badge)
        m_badge->setGeometry(slotX, (h - kStateSlot) / 2, kStateSlot, kStateSlot);
    if (m_button) {
        const QSize size = m_button->sizeHint();
        m_button->setGeometry(slotX - kSpacing - size.width(), (h - size.height()) / 2, size.width(), size.height());
    }
}

void UpdateRowView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(frame, 8, 8);
    painter.fillPath(path, VarnoColor::surface().resolved());
    painter.setPen(QPen(m_content.borderColor.resolved(m_content.borderOpacity), 1));
    painter.drawPath(path);

    // The three texts, centred as a block beside the icon.
    const int available = textWidth(width());
    const int blockHeight = textHeight(width());
    const qreal x = kPaddingX + kIconSize + kSpacing;
    qreal y = (height() - blockHeight) / 2.0;
    const QFontMetricsF nameMetrics(nameFont());
    const QFontMetricsF lineMetrics(lineFont());
    painter.setFont(nameFont());
    painter.setPen(VarnoColor::textPrimary().resolved());
    painter.drawText(QPointF(x, y + nameMetrics.ascent()),
                     nameMetrics.elidedText(PlainText::forField(m_app.app_name), Qt::ElideRight, available));
    y += nameMetrics.height() + kLineSpacing;
    painter.setFont(lineFont());
    painter.setPen(m_content.statusLineColor.resolved());
    for (const QString &line : primaryLinesAt(available)) {
        painter.drawText(QPointF(x, y + lineMetrics.ascent()), line);
        y += lineMetrics.height();
    }
    if (m_content.secondaryLine) {
        y += kLineSpacing;
        painter.setPen(VarnoColor::textTertiary().resolved());
        painter.drawText(QPointF(x, y + lineMetrics.ascent()),
                         lineMetrics.elidedText(*m_content.secondaryLine, Qt::ElideRight, available));
    }

    // The state icon.
    const QRectF slot(width() - kPaddingX - kStateSlot, (height() - kStateSlot) / 2.0, kStateSlot, kStateSlot);
    switch (m_content.stateIcon) {
    case UpdateRowContent::StateIcon::symbol:
        SymbolIcons::shared().paint(painter, slot.adjusted(3, 3, -3, -3), m_content.symbol,
                                    m_content.symbolColor.resolved());
        break;
    case UpdateRowContent::StateIcon::spinner:
        // An indeterminate indicator at 0.8 of its 20-point size.
        SheetParts::Spinner::paintArc(painter, slot.adjusted(3, 3, -3, -3), m_content.symbolColor.resolved(), m_angle);
        break;
    case UpdateRowContent::StateIcon::none:
    case UpdateRowContent::StateIcon::greenSeal:
    case UpdateRowContent::StateIcon::verifiedPath:
        break;
    }
}
