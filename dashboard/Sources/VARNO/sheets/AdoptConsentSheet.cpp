#include "sheets/AdoptConsentSheet.h"

#include "base/Logging.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/PlainText.h"
#include "records/RemediationRegistry.h"
#include "sheets/CommandHints.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

using namespace SheetParts;

namespace {

const ColorPair &neutralTint()
{
    return VarnoColor::textTertiary();
}

// The failed view's title colour.
const ColorPair &failedTint()
{
    return VarnoColor::dangerText();
}

bool isTrue(const std::optional<bool> &flag)
{
    return flag.value_or(false);
}

} // namespace

const QString AdoptConsentSheet::unsignedRefusedWarning = QStringLiteral(
    "Brusk won't adopt an unsigned app. Turn on “Allow adopting unsigned apps” in Settings to override.");
const QString AdoptConsentSheet::signatureExplanation = QStringLiteral(
    "Brusk couldn't verify this app's code signature — you'd be adopting an unsigned or unverified app as-is.");

AdoptConsentSheet::AdoptConsentSheet(AppModel *model, const AppRecord &app, QWidget *parent)
    : SheetFrame(kWidth, parent)
    , m_model(model)
    , m_app(app)
{
    if (!model)
        qFatal("AdoptConsentSheet needs the app's model");
    setObjectName(QStringLiteral("adopt-consent-sheet"));
    setHeader(headerTitle(app.app_name), VarnoFont::brusk(18, QFont::Light), PlainText::forField(app.app_name));

    connect(confirmButton(), &QPushButton::clicked, this, [this] {
        if (m_phase.kind != Phase::Kind::ready || !m_phase.preview)
            return;
        const AdoptFlow::ConfirmAvailability which = availability();
        if (which != AdoptFlow::ConfirmAvailability::allowed && which != AdoptFlow::ConfirmAvailability::unsignedOverride)
            return;
        QCoro::Task<void> adoption = confirm(*m_phase.preview, which == AdoptFlow::ConfirmAvailability::unsignedOverride);
        Q_UNUSED(adoption);
    });
    // What the sheet shows of the model: the unsigned-adoption setting
    // (confirm button, Settings hint) and the app's incident (failed and
    // success views), read afresh at each redraw.
    connect(model, &AppModel::allowUnsignedAdoptChanged, this, &AdoptConsentSheet::refresh);
    connect(model, &AppModel::incidentsChanged, this, &AdoptConsentSheet::refresh);
    refresh();
}

QString AdoptConsentSheet::headerTitle(const QString &appName)
{
    return QStringLiteral("Adopt ") + PlainText::forField(appName) + QStringLiteral(" into Homebrew Cask");
}

QString AdoptConsentSheet::checkFailedText(const QString &appName)
{
    return QStringLiteral("Brusk couldn't check the Homebrew Cask catalog for ") + PlainText::forField(appName)
        + QStringLiteral(". Try again in a moment.");
}

QString AdoptConsentSheet::footerTitle(Phase::Kind kind)
{
    switch (kind) {
    case Phase::Kind::noMatch:
    case Phase::Kind::failed:
    case Phase::Kind::alreadyManaged:
    case Phase::Kind::success:
        return QStringLiteral("Done");
    case Phase::Kind::ready:
    case Phase::Kind::refused:
    case Phase::Kind::loading:
    case Phase::Kind::adopting:
        break;
    }
    return QStringLiteral("Cancel");
}

void AdoptConsentSheet::setPhaseForPreview(const Phase &phase, std::optional<QString> confirmedCaskToken)
{
    m_started = true;
    m_confirmedCaskToken = std::move(confirmedCaskToken);
    setPhase(phase);
}

void AdoptConsentSheet::showEvent(QShowEvent *event)
{
    SheetFrame::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    QCoro::Task<void> load = loadPreview();
    Q_UNUSED(load);
}

// --- The two engine steps, through the model ---------------------------------------------

QCoro::Task<void> AdoptConsentSheet::loadPreview()
{
    QPointer<AdoptConsentSheet> self(this);
    QPointer<AppModel> model = m_model;
    const AppRecord app = m_app;
    setPhase(Phase::loading());
    if (!model)
        co_return;
    QCoro::Task<std::optional<AdoptFlow::Preview>> dryRun = model->loadAdoptPreview(app);
    const std::optional<AdoptFlow::Preview> preview = co_await std::move(dryRun);
    // Closed meanwhile: the model has done its part (busy flag, error text).
    if (!self)
        co_return;
    if (!preview)
        self->setPhase(Phase::failed(checkFailedText(app.app_name)));
    else if (!preview->match_found)
        self->setPhase(Phase::noMatch(AdoptFlow::noMatchMessage(app.app_name, preview->reason)));
    else if (isTrue(preview->already_managed))
        self->setPhase(Phase::alreadyManaged());
    else
        self->setPhase(Phase::ready(*preview));
}

QCoro::Task<void> AdoptConsentSheet::confirm(AdoptFlow::Preview preview, bool allowUnsigned)
{
    QPointer<AdoptConsentSheet> self(this);
    QPointer<AppModel> model = m_model;
    const AppRecord app = m_app;
    m_confirmedCaskToken = preview.cask_token;
    setPhase(Phase::adopting());
    if (!model)
        co_return;
    QCoro::Task<AdoptOutcome> adoption = model->confirmAdopt(app, preview.cask_token, allowUnsigned);
    const AdoptOutcome outcome = co_await std::move(adoption);
    // Closed meanwhile: the outcome is in the app's update state.
    if (!self)
        co_return;
    switch (outcome.kind()) {
    case AdoptOutcome::Kind::failed:
        qCInfo(lcVarno).noquote() << "adoption of" << app.bundle_id << "failed:" << outcome.text();
        self->setPhase(Phase::failed(outcome.text()));
        break;
    case AdoptOutcome::Kind::refused:
        self->setPhase(Phase::refused(outcome.text()));
        break;
    case AdoptOutcome::Kind::success:
        self->setPhase(Phase::success());
        break;
    }
}

// --- Drawing -------------------------------------------------------------------------------

void AdoptConsentSheet::setPhase(const Phase &phase)
{
    m_phase = phase;
    refresh();
}

std::optional<QString> AdoptConsentSheet::incidentCode() const
{
    if (!m_model)
        return std::nullopt;
    const auto it = m_model->incidents().constFind(m_app.bundle_id);
    if (it == m_model->incidents().cend())
        return std::nullopt;
    return it->code;
}

AdoptFlow::ConfirmAvailability AdoptConsentSheet::availability() const
{
    if (m_phase.kind != Phase::Kind::ready || !m_phase.preview || !m_model)
        return AdoptFlow::ConfirmAvailability::none;
    return AdoptFlow::confirmAvailability(*m_phase.preview, m_model->allowUnsignedAdopt());
}

void AdoptConsentSheet::refresh()
{
    const QString title = footerTitle(m_phase.kind);
    footerButton()->setText(title);
    footerButton()->setAccessibleName(title);

    const AdoptFlow::ConfirmAvailability which = availability();
    if (which == AdoptFlow::ConfirmAvailability::allowed || which == AdoptFlow::ConfirmAvailability::unsignedOverride) {
        const QString confirmTitle = which == AdoptFlow::ConfirmAvailability::allowed
            ? QStringLiteral("Adopt")
            : QStringLiteral("Adopt anyway (unsigned)");
        confirmButton()->setText(confirmTitle);
        confirmButton()->setAccessibleName(confirmTitle);
        confirmButton()->show();
    } else {
        confirmButton()->hide();
    }

    // The content depends on the phase, the availability (Settings hint) and
    // the incident code (failed and success views); rebuilt only when one
    // of them changed.
    const std::optional<QString> code = incidentCode();
    const QString key = QString::number(int(m_phase.kind)) + QLatin1Char('|') + m_phase.text + QLatin1Char('|')
        + QString::number(int(which)) + QLatin1Char('|') + code.value_or(QStringLiteral("\x01")) + QLatin1Char('|')
        + m_confirmedCaskToken.value_or(QString());
    if (key != m_shownKey || !stateView()) {
        m_shownKey = key;
        setStateView(contentView());
    }
    Q_EMIT refreshed();
}

QWidget *AdoptConsentSheet::contentView()
{
    switch (m_phase.kind) {
    case Phase::Kind::loading:
        return loadingState();
    case Phase::Kind::adopting:
        return adoptingState();
    case Phase::Kind::noMatch:
        return noMatchState(m_phase.text);
    case Phase::Kind::refused:
        return refusedState(m_phase.text);
    case Phase::Kind::alreadyManaged:
        return alreadyManagedState();
    case Phase::Kind::success:
        return successState();
    case Phase::Kind::ready:
        return readyState(*m_phase.preview);
    case Phase::Kind::failed:
        return failedState(m_phase.text);
    }
    return new QWidget(stateHost());
}

QWidget *AdoptConsentSheet::loadingState()
{
    return progressLine(QStringLiteral("Checking the Homebrew Cask catalog…"), stateHost());
}

QWidget *AdoptConsentSheet::adoptingState()
{
    return progressLine(QStringLiteral("Adopting ") + PlainText::forField(m_app.app_name) + QStringLiteral("…"),
                        stateHost());
}

QWidget *AdoptConsentSheet::noMatchState(const QString &reason)
{
    auto *card = new Card(stateHost());
    card->column()->addWidget(
        statusLine(QStringLiteral("questionmark.circle"), neutralTint(), QStringLiteral("No clean match"), card));
    card->column()->addWidget(bodyText(bounded(reason), card));
    return card;
}

QWidget *AdoptConsentSheet::refusedState(const QString &message)
{
    auto *card = new Card(stateHost());
    card->column()->addWidget(
        statusLine(QStringLiteral("hand.raised"), VarnoColor::warning(), QStringLiteral("Couldn't start"), card));
    card->column()->addWidget(bodyText(bounded(message), card));
    return card;
}

QWidget *AdoptConsentSheet::alreadyManagedState()
{
    auto *card = new Card(stateHost());
    card->column()->addWidget(statusLine(QStringLiteral("checkmark.circle"), VarnoColor::success(),
                                         QStringLiteral("Already Homebrew-managed"), card));
    card->column()->addWidget(bodyText(PlainText::forField(m_app.app_name)
                                           + QStringLiteral(" is already managed by Homebrew Cask — nothing to adopt."),
                                       card));
    return card;
}

QWidget *AdoptConsentSheet::successState()
{
    auto *card = new Card(stateHost());
    card->column()->addWidget(
        statusLine(QStringLiteral("checkmark.circle"), VarnoColor::success(), QStringLiteral("Adopted"), card));
    card->column()->addWidget(
        bodyText(PlainText::forField(m_app.app_name)
                     + QStringLiteral(" is now managed by Homebrew Cask. Nothing was wiped or re-downloaded."),
                 card));
    // Read from the model's incidents as they stand now.
    if (incidentCode() == QStringLiteral("BREW_NO_CASK"))
        card->column()->addWidget(
            bodyText(QStringLiteral("An update is still pending — Brusk can now install it via Homebrew."), card));
    return card;
}

QWidget *AdoptConsentSheet::readyState(const AdoptFlow::Preview &preview)
{
    auto *card = new Card(stateHost());
    card->setObjectName(QStringLiteral("adopt-ready"));
    QVBoxLayout *column = card->column();
    auto *consent = new TextBlock(AdoptFlow::consentBody(m_app.app_name), VarnoFont::ui(12), VarnoColor::textPrimary(),
                                  card);
    consent->setLineSpacing(3);
    column->addWidget(consent);
    column->addWidget(
        detailRow(QStringLiteral("Cask token"), preview.cask_token.value_or(QStringLiteral("unknown")), card));
    if (preview.current_version)
        column->addWidget(detailRow(QStringLiteral("Installed version"), *preview.current_version, card));
    if (preview.cask_version)
        column->addWidget(detailRow(QStringLiteral("Cask version"), *preview.cask_version, card));
    column->addWidget(signatureStatusView(preview, card));
    if (const std::optional<QString> downgrade = AdoptFlow::downgradeWarning(preview))
        column->addWidget(warningLine(*downgrade, card));
    if (availability() == AdoptFlow::ConfirmAvailability::refused)
        column->addWidget(warningLine(unsignedRefusedWarning, card));
    return card;
}

QWidget *AdoptConsentSheet::detailRow(const QString &label, const QString &value, QWidget *parent)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Labels::plain(label, VarnoFont::ui(11), VarnoColor::textTertiary(), row));
    layout->addStretch(1);
    QLabel *shown = Labels::plain(bounded(value, 80), VarnoFont::mono(11), VarnoColor::textPrimary(), row);
    shown->setObjectName(QStringLiteral("detail-value"));
    layout->addWidget(shown);
    return row;
}

QWidget *AdoptConsentSheet::signatureStatusView(const AdoptFlow::Preview &preview, QWidget *parent)
{
    auto *block = new QWidget(parent);
    block->setObjectName(QStringLiteral("signature-status"));
    auto *column = new QVBoxLayout(block);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto *line = new QHBoxLayout();
    line->setSpacing(6);
    const bool verified = isTrue(preview.signature_ok);
    const QString title = verified ? QStringLiteral("Code signature verified")
                                   : QStringLiteral("Code signature unverified");
    line->addWidget(new SheetParts::SymbolView(verified ? QStringLiteral("checkmark.seal")
                                                        : QStringLiteral("exclamationmark.triangle.fill"),
                                               15, verified ? VarnoColor::success() : VarnoColor::danger(), block));
    line->addWidget(Labels::plain(title, VarnoFont::ui(12, QFont::DemiBold),
                                  verified ? VarnoColor::textPrimary() : VarnoColor::dangerText(), block),
                    1);
    column->addLayout(line);
    QString spoken = title;
    // Only a signature known to be bad is explained; an unknown one is not.
    if (preview.signature_ok.has_value() && !*preview.signature_ok) {
        auto *explanation = new TextBlock(signatureExplanation, VarnoFont::ui(11), VarnoColor::dangerText(), block);
        explanation->setLineSpacing(3);
        column->addWidget(explanation);
        spoken += QStringLiteral(". ") + signatureExplanation;
    }
    // Read as one element.
    block->setAccessibleName(spoken);
    return block;
}

QWidget *AdoptConsentSheet::warningLine(const QString &text, QWidget *parent)
{
    auto *row = new QWidget(parent);
    row->setObjectName(QStringLiteral("warning-line"));
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(new SheetParts::SymbolView(QStringLiteral("exclamationmark.triangle"), 14, VarnoColor::warning(),
                                                 row),
                      0, Qt::AlignTop);
    auto *block = new TextBlock(text, VarnoFont::ui(11), VarnoColor::attention(), row);
    block->setLineSpacing(3);
    layout->addWidget(block, 1);
    return row;
}

QWidget *AdoptConsentSheet::failedState(const QString &message)
{
    auto *card = new Card(stateHost());
    card->setObjectName(QStringLiteral("adopt-failed"));
    QVBoxLayout *column = card->column();
    column->addWidget(statusLine(QStringLiteral("exclamationmark.triangle"), failedTint(),
                                 QStringLiteral("Adopt didn't take"), card));
    const std::optional<QString> code = incidentCode();
    if (code != QStringLiteral("SUDO_REQUIRED")) {
        column->addWidget(bodyText(bounded(message), card));
        return card;
    }
    // Blocked by privileges: the cause, the command to run by hand, and the
    // engine's own words behind a disclosure.
    column->addWidget(bodyText(RemediationRegistry::shared().cause(code), card));
    const std::optional<QString> token = AdoptFlow::terminalCommandToken(m_app.cask_token, m_confirmedCaskToken);
    if (const std::optional<QString> command = token ? CommandHints::brewInstallCask(*token) : std::nullopt) {
        QLabel *line = Labels::plain(*command, VarnoFont::mono(11), VarnoColor::textPrimary(), card);
        line->setObjectName(QStringLiteral("brew-command"));
        line->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        line->setFocusPolicy(Qt::StrongFocus);
        line->setAccessibleName(*command);
        column->addWidget(line);
    }
    auto *toggle = new QToolButton(card);
    toggle->setObjectName(QStringLiteral("raw-output-toggle"));
    toggle->setText(QStringLiteral("Raw output"));
    toggle->setAccessibleName(QStringLiteral("Raw output"));
    toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle->setArrowType(Qt::RightArrow);
    toggle->setCheckable(true);
    toggle->setChecked(false);
    toggle->setAutoRaise(true);
    toggle->setFont(VarnoFont::ui(11));
    VarnoColor::bindForeground(toggle, VarnoColor::textTertiary());
    column->addWidget(toggle, 0, Qt::AlignLeft);
    auto *raw = new TextBlock(bounded(message, 4000), VarnoFont::mono(11), VarnoColor::textTertiary(), card);
    raw->setObjectName(QStringLiteral("raw-output"));
    raw->setLineSpacing(3);
    raw->hide();
    column->addWidget(raw);
    connect(toggle, &QToolButton::toggled, this, [this, toggle, raw](bool open) {
        toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        raw->setVisible(open);
        fitToContent();
    });
    return card;
}

QToolButton *AdoptConsentSheet::rawOutputToggle() const
{
    return stateView() ? stateView()->findChild<QToolButton *>(QStringLiteral("raw-output-toggle")) : nullptr;
}

QLabel *AdoptConsentSheet::commandLine() const
{
    return stateView() ? stateView()->findChild<QLabel *>(QStringLiteral("brew-command")) : nullptr;
}
