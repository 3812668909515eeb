#include "provenance/RestoreSheet.h"

#include "base/Logging.h"
#include "engine/EngineSettingsCommands.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/PlainText.h"
#include "provenance/ProvenanceParts.h"
#include "widgets/SheetFrame.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace ProvenanceRules;

namespace {

QString restoreFailureText(const std::exception &error)
{
    return localizedDescription(error);
}

} // namespace

RestoreSheet::RestoreSheet(AppModel *model, const AppRecord &app, QWidget *parent)
    : SheetFrame(kWidth, parent)
    , m_model(model)
    , m_app(app)
{
    if (!model)
        qFatal("RestoreSheet needs the app's model");
    setObjectName(QStringLiteral("restore-sheet"));
    setHeader(QStringLiteral("Restore previous version"), VarnoFont::brusk(18, QFont::Light),
              PlainText::forField(app.app_name));
    ghostButton()->setAccessibleName(QStringLiteral("Cancel"));

    connect(primaryButton(), &QPushButton::clicked, this, [this] {
        if (m_state.restored) {
            accept();
            return;
        }
        // The model asks its own busy gate again and says why it refuses.
        if (restoreFooterButton(m_state.backup, m_state.restored, m_state.error) == RestoreFooterButton::restore
            && !m_state.isRestoring) {
            QCoro::Task<void> restore = performRestore();
            Q_UNUSED(restore);
        }
    });

    for (const auto changed :
         {&AppModel::updateProgressChanged, &AppModel::isUpdatingChanged, &AppModel::isScanningChanged,
          &AppModel::isFixingChanged, &AppModel::singleUpdateTokenChanged})
        connect(model, changed, this, &RestoreSheet::refresh);
    refresh();
}

RestoreSheet::~RestoreSheet()
{
    // A status check still running ends with the sheet; a restore does not.
    if (m_token)
        m_token->cancel();
}

void RestoreSheet::setStateForPreview(const State &state)
{
    m_started = true;
    m_state = state;
    refresh();
}

bool RestoreSheet::isBusy() const
{
    return !m_model || m_model->isBusyFor(m_app.bundle_id);
}

void RestoreSheet::showEvent(QShowEvent *event)
{
    SheetFrame::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    QCoro::Task<void> load = loadBackup();
    Q_UNUSED(load);
}

// --- Engine calls ---------------------------------------------------------------------------

QCoro::Task<void> RestoreSheet::loadBackup()
{
    QPointer<RestoreSheet> self(this);
    const QString bid = m_app.bundle_id;
    if (m_token)
        m_token->cancel();
    const std::shared_ptr<VARNOCancellationToken> token = VARNOCancellationToken::create();
    m_token = token;
    m_state.isLoading = true;
    m_state.error.reset();
    m_state.retentionDays.reset();
    refresh();

    std::optional<BackupRecord> backup;
    std::optional<QString> failure;
    try {
        backup = co_await VARNOProcess::backupStatus(bid, token);
    } catch (const std::exception &error) {
        failure = restoreFailureText(error);
    } catch (...) {
        failure = QStringLiteral("Something went wrong running VARNO.");
    }
    if (!self || self->m_token != token)
        co_return;
    if (failure) {
        qCInfo(lcVarno).noquote() << "backup status of" << bid << "failed:" << *failure;
        m_state.error = failure;
    } else {
        m_state.backup = backup;
    }
    m_state.isLoading = false;
    refresh();

    // An expired backup: the answer shows at once; how long backups are kept
    // is filled in when the engine tells (never, when the sheet closes first).
    if (failure || !reasonIsExpiry(m_state.backup))
        co_return;
    std::optional<qint64> days;
    try {
        const RetentionStatus retention = co_await EngineSettingsCommands::retentionStatus(token);
        days = retention.policy.retentionDays;
    } catch (...) {
        days.reset();
    }
    if (!self || self->m_token != token || !days)
        co_return;
    m_state.retentionDays = days;
    refresh();
}

QCoro::Task<void> RestoreSheet::performRestore()
{
    QPointer<RestoreSheet> self(this);
    QPointer<AppModel> model = m_model;
    const AppRecord app = m_app;
    if (!model)
        co_return;
    m_state.isRestoring = true;
    m_state.error.reset();
    refresh();

    // The model runs the restore to its end, also once this sheet has closed.
    QCoro::Task<AppModel::RestoreOutcome> restoring = model->restore(app);
    const AppModel::RestoreOutcome outcome = co_await std::move(restoring);
    if (outcome.kind() == AppModel::RestoreOutcome::Kind::failed)
        qCInfo(lcVarno).noquote() << "restore of" << app.bundle_id << "failed:" << outcome.text();
    if (!self) {
        // Closed meanwhile: the app's entry shows the failure, and so does
        // the window's alert, with the reason.
        if (outcome.kind() == AppModel::RestoreOutcome::Kind::failed && model)
            model->setError(QStringLiteral("Couldn’t restore ") + app.app_name + QStringLiteral(": ") + outcome.text());
        co_return;
    }
    switch (outcome.kind()) {
    case AppModel::RestoreOutcome::Kind::restored:
        m_state.restored = true;
        break;
    case AppModel::RestoreOutcome::Kind::failed:
        m_state.error = outcome.text();
        break;
    case AppModel::RestoreOutcome::Kind::refused:
        break; // nothing ran; the model's error says why
    }
    m_state.isRestoring = false;
    refresh();
}

// --- Drawing ----------------------------------------------------------------------------------

void RestoreSheet::refresh()
{
    // The model marks the app done before it reloads the library: the
    // success shows while the library reloads.
    if (m_state.isRestoring && m_model && m_model->updateState(m_app.bundle_id).kind() == UpdateState::Kind::done)
        m_state.restored = true;
    rebuildStateArea();
    switch (restoreFooterButton(m_state.backup, m_state.restored, m_state.error)) {
    case RestoreFooterButton::restore:
        primaryButton()->setText(m_state.isRestoring ? QStringLiteral("Restoring…") : QStringLiteral("Restore"));
        primaryButton()->setEnabled(!m_state.isRestoring && !isBusy());
        primaryButton()->show();
        break;
    case RestoreFooterButton::done:
        primaryButton()->setText(QStringLiteral("Done"));
        primaryButton()->setEnabled(true);
        primaryButton()->show();
        break;
    case RestoreFooterButton::none:
        primaryButton()->hide();
        break;
    }
    primaryButton()->setAccessibleName(primaryButton()->text());
    Q_EMIT refreshed();
}

void RestoreSheet::rebuildStateArea()
{
    const RestoreContent content = restoreContent(m_state.isLoading, m_state.error, m_state.restored, m_state.backup);
    QString key = QString::number(int(content));
    if (content == RestoreContent::error)
        key += QLatin1Char('|') + *m_state.error;
    else if (content == RestoreContent::ready || content == RestoreContent::noBackup)
        key += QLatin1Char('|')
            + (m_state.backup ? backupDateLine(*m_state.backup) + m_state.backup->reason.value_or(QString())
                       + QString::number(m_state.backup->bytes.value_or(-1))
                              : QString())
            + QString::number(m_state.retentionDays.value_or(-1));
    if (key == m_shownKey)
        return;
    m_shownKey = key;

    switch (content) {
    case RestoreContent::loading:
        setStateView(SheetParts::progressLine(QStringLiteral("Checking backups…"), stateHost()));
        break;
    case RestoreContent::error:
        setStateView(errorState(*m_state.error));
        break;
    case RestoreContent::restored:
        setStateView(successState());
        break;
    case RestoreContent::ready:
        setStateView(readyState(*m_state.backup));
        break;
    case RestoreContent::noBackup:
        setStateView(noBackupState());
        break;
    }
}

QString RestoreSheet::shortDate(const QString &timestamp)
{
    return ProvenanceRules::backupDate(timestamp);
}

QWidget *RestoreSheet::errorState(const QString &error)
{
    return statusCard(QStringLiteral("exclamationmark.triangle"), VarnoColor::attention(),
                      QStringLiteral("Can’t restore right now"), error);
}

QWidget *RestoreSheet::successState()
{
    return statusCard(QStringLiteral("checkmark.circle"), VarnoColor::success(), QStringLiteral("Restored successfully"),
                      QStringLiteral("Brusk put the previous version back. You may want to scan again to refresh the "
                                     "library."));
}

QWidget *RestoreSheet::noBackupState()
{
    return statusCard(QStringLiteral("archivebox"), VarnoColor::textTertiary(), QStringLiteral("No backup available"),
                      reasonText(m_state.backup, m_state.retentionDays));
}

QWidget *RestoreSheet::statusCard(const QString &symbol, const ColorPair &iconColor, const QString &title,
                                  const QString &message)
{
    auto *card = new ProvenanceParts::Box(stateHost());
    card->setObjectName(QStringLiteral("restore-card"));
    card->setFill(VarnoColor::surface());
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(8);
    auto *titleRow = new QHBoxLayout();
    titleRow->setSpacing(8);
    titleRow->addWidget(new ProvenanceParts::Symbol(symbol, 16, iconColor, card));
    titleRow->addWidget(ProvenanceParts::label(title, VarnoFont::ui(13, QFont::Medium), VarnoColor::textPrimary(),
                                               false, card),
                        1);
    layout->addLayout(titleRow);
    // What the engine said is shown whole up to a bound; the log has it all.
    layout->addWidget(ProvenanceParts::label(SheetParts::bounded(message), VarnoFont::ui(12),
                                             VarnoColor::textSecondary(), true, card));
    return card;
}

QWidget *RestoreSheet::readyState(const BackupRecord &backup)
{
    auto *card = new ProvenanceParts::Box(stateHost());
    card->setObjectName(QStringLiteral("restore-card"));
    card->setFill(VarnoColor::surface());
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    layout->addWidget(ProvenanceParts::label(QStringLiteral("A backup from ")
                                                 + shortDate(backup.timestamp.value_or(QString()))
                                                 + QStringLiteral(" is available."),
                                             VarnoFont::ui(12), VarnoColor::textPrimary(), true, card));
    if (const auto size = backupSizeLine(backup))
        layout->addWidget(ProvenanceParts::label(*size, VarnoFont::mono(11), VarnoColor::textSecondary(), false, card));
    layout->addWidget(
        ProvenanceParts::label(QStringLiteral(
                                   "This replaces the current app with the backed-up version. The app must not be running."),
                               VarnoFont::ui(12), VarnoColor::textSecondary(), true, card));
    return card;
}
