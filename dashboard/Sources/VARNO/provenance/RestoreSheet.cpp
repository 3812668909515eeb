#include "provenance/RestoreSheet.h"

#include "engine/ExperimentRecorder.h"
#include "engine/VARNOError.h"
#include "engine/VARNOProcess.h"
#include "engine/VARNOSettings.h"
#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "platform/Logging.h"
#include "provenance/ProvenanceParts.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace ProvenanceRules;

namespace {

// A small indeterminate spinner: a rotating arc.
class Spinner : public QWidget {
public:
    explicit Spinner(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(14, 14);
        setAccessibleName(QStringLiteral("Checking backups…"));
        m_timer = startTimer(80);
    }

protected:
    void timerEvent(QTimerEvent *) override
    {
        m_angle = (m_angle + 30) % 360;
        update();
    }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(VarnoColor::textSecondary().resolved(), 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5), -m_angle * 16, 270 * 16);
    }

private:
    int m_timer = 0;
    int m_angle = 0;
};

QString failureText(const std::exception &error)
{
    return localizedDescription(error);
}

} // namespace

RestoreSheet::RestoreSheet(AppModel *model, const AppRecord &app, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
    , m_app(app)
{
    if (!model)
        qFatal("RestoreSheet needs the app's model");
    setObjectName(QStringLiteral("restore-sheet"));
    setWindowTitle(QStringLiteral("Restore previous version"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);
    VarnoColor::bindBackground(this, VarnoColor::background());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->setSizeConstraint(QLayout::SetFixedSize);

    auto *header = new QWidget(this);
    header->setFixedWidth(kWidth);
    auto *headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(20, 20, 20, 20);
    headerLayout->setSpacing(4);
    headerLayout->addWidget(ProvenanceParts::label(QStringLiteral("Restore previous version"),
                                                   VarnoFont::brusk(18, QFont::Light), VarnoColor::textPrimary(),
                                                   false, header));
    QLabel *name = ProvenanceParts::label(app.app_name, VarnoFont::ui(12), VarnoColor::textSecondary(), true, header);
    name->setObjectName(QStringLiteral("restore-app-name"));
    headerLayout->addWidget(name);
    column->addWidget(header);
    column->addWidget(ProvenanceParts::divider(this));

    m_stateArea = new QWidget(this);
    m_stateArea->setObjectName(QStringLiteral("restore-state"));
    m_stateArea->setFixedWidth(kWidth);
    m_stateLayout = new QVBoxLayout(m_stateArea);
    m_stateLayout->setContentsMargins(20, 20, 20, 20);
    m_stateLayout->setSpacing(12);
    column->addWidget(m_stateArea);

    column->addWidget(ProvenanceParts::divider(this));
    auto *footer = new QWidget(this);
    footer->setFixedWidth(kWidth);
    auto *footerLayout = new QHBoxLayout(footer);
    footerLayout->setContentsMargins(14, 14, 14, 14);
    footerLayout->setSpacing(8);
    m_cancel = new StyledButton(QStringLiteral("Cancel"), GhostButtonStyle(), footer);
    m_cancel->setAccessibleName(QStringLiteral("Cancel"));
    m_primary = new StyledButton(QStringLiteral("Restore"), PrimaryButtonStyle(), footer);
    footerLayout->addWidget(m_cancel);
    footerLayout->addWidget(m_primary);
    footerLayout->addStretch(1);
    column->addWidget(footer);

    connect(m_cancel, &QPushButton::clicked, this, &RestoreSheet::reject);
    connect(m_primary, &QPushButton::clicked, this, [this] {
        if (m_state.restored) {
            accept();
            return;
        }
        if (restoreFooterButton(m_state.backup, m_state.restored, m_state.error) == RestoreFooterButton::restore
            && !m_state.isRestoring && !isBusy()) {
            QCoro::Task<void> restore = performRestore();
            Q_UNUSED(restore);
        }
    });

    for (const auto changed : {&AppModel::updateProgressChanged, &AppModel::isUpdatingChanged,
                               &AppModel::isScanningChanged, &AppModel::isFixingChanged,
                               &AppModel::singleUpdateTokenChanged})
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
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    QCoro::Task<void> load = loadBackup();
    Q_UNUSED(load);
}

void RestoreSheet::reject()
{
    // A running restore keeps the sheet: its outcome is shown here.
    if (m_state.isRestoring)
        return;
    QDialog::reject();
}

void RestoreSheet::closeEvent(QCloseEvent *event)
{
    if (m_state.isRestoring) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
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
    refresh();

    std::optional<BackupRecord> backup;
    std::optional<QString> failure;
    try {
        backup = co_await VARNOProcess::backupStatus(bid, token);
    } catch (const std::exception &error) {
        failure = failureText(error);
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

    // An expired backup: say how long backups are kept, when the engine tells.
    if (!failure && reasonIsExpiry(m_state.backup)) {
        std::optional<qint64> days;
        try {
            const RetentionStatus retention = co_await VARNOSettings::retentionStatus();
            days = retention.policy.retentionDays;
        } catch (...) {
            days.reset();
        }
        if (!self || self->m_token != token)
            co_return;
        m_state.retentionDays = days;
    }
    m_state.isLoading = false;
    refresh();
}

QCoro::Task<void> RestoreSheet::performRestore()
{
    QPointer<RestoreSheet> self(this);
    QPointer<AppModel> model = m_model;
    const QString bid = m_app.bundle_id;
    m_state.isRestoring = true;
    m_state.error.reset();
    refresh();

    std::optional<QString> failure;
    try {
        co_await VARNOProcess::restore(bid);
    } catch (const std::exception &error) {
        failure = failureText(error);
    } catch (...) {
        failure = QStringLiteral("Something went wrong running VARNO.");
    }
    if (failure) {
        qCInfo(lcVarno).noquote() << "restore of" << bid << "failed:" << *failure;
        if (self) {
            self->m_state.error = failure;
            self->m_state.isRestoring = false;
            self->refresh();
        } else if (model) {
            model->setError(failure);
        }
        co_return;
    }
    if (self) {
        self->m_state.restored = true;
        self->refresh();
    }
    ExperimentRecorder::record(ExperimentRecorder::restoreUsed);
    if (model)
        co_await model->load();
    if (self) {
        self->m_state.isRestoring = false;
        self->refresh();
    }
}

// --- Drawing ----------------------------------------------------------------------------------

void RestoreSheet::refresh()
{
    rebuildStateArea();
    switch (restoreFooterButton(m_state.backup, m_state.restored, m_state.error)) {
    case RestoreFooterButton::restore:
        m_primary->setText(m_state.isRestoring ? QStringLiteral("Restoring…") : QStringLiteral("Restore"));
        m_primary->setEnabled(!m_state.isRestoring && !isBusy());
        m_primary->show();
        break;
    case RestoreFooterButton::done:
        m_primary->setText(QStringLiteral("Done"));
        m_primary->setEnabled(true);
        m_primary->show();
        break;
    case RestoreFooterButton::none:
        m_primary->hide();
        break;
    }
    m_primary->setAccessibleName(m_primary->text());
    // While the restore runs the sheet waits for its outcome.
    m_cancel->setEnabled(!m_state.isRestoring);
    ProvenanceParts::showAdded(m_stateArea);
    Q_EMIT refreshed();
}

void RestoreSheet::rebuildStateArea()
{
    const RestoreContent content = restoreContent(m_state.isLoading, m_state.error, m_state.restored, m_state.backup);
    QString key = QString::number(int(content));
    if (content == RestoreContent::error)
        key += QLatin1Char('|') + *m_state.error;
    else if (content == RestoreContent::ready || content == RestoreContent::noBackup)
        key += QLatin1Char('|') + (m_state.backup ? backupDateLine(*m_state.backup) + m_state.backup->reason.value_or(QString()) + QString::number(m_state.backup->bytes.value_or(-1)) : QString())
            + QString::number(m_state.retentionDays.value_or(-1));
    if (key == m_shownKey)
        return;
    m_shownKey = key;
    while (QLayoutItem *item = m_stateLayout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }

    switch (content) {
    case RestoreContent::loading:
        m_stateLayout->addWidget(loadingState());
        break;
    case RestoreContent::error:
        m_stateLayout->addWidget(errorState(*m_state.error));
        break;
    case RestoreContent::restored:
        m_stateLayout->addWidget(successState());
        break;
    case RestoreContent::ready:
        m_stateLayout->addWidget(readyState(*m_state.backup));
        break;
    case RestoreContent::noBackup:
        m_stateLayout->addWidget(noBackupState());
        break;
    }
}

QString RestoreSheet::shortDate(const QString &timestamp)
{
    return ProvenanceRules::backupDate(timestamp);
}

QWidget *RestoreSheet::loadingState()
{
    auto *row = new QWidget(m_stateArea);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(new Spinner(row));
    layout->addWidget(ProvenanceParts::label(QStringLiteral("Checking backups…"), VarnoFont::ui(12),
                                             VarnoColor::textSecondary(), false, row));
    layout->addStretch(1);
    return row;
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
    auto *card = new ProvenanceParts::Box(m_stateArea);
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
    QString shown = message;
    if (shown.size() > 600)
        shown = shown.left(shown.at(599).isHighSurrogate() ? 599 : 600) + QStringLiteral("…");
    layout->addWidget(ProvenanceParts::label(shown, VarnoFont::ui(12), VarnoColor::textSecondary(), true, card));
    return card;
}

QWidget *RestoreSheet::readyState(const BackupRecord &backup)
{
    auto *card = new ProvenanceParts::Box(m_stateArea);
    card->setObjectName(QStringLiteral("restore-card"));
    card->setFill(VarnoColor::surface());
    auto *layout = new QVBoxLayout(card);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    layout->addWidget(ProvenanceParts::label(QStringLiteral("A backup from ") + shortDate(backup.timestamp.value_or(QString()))
                                                 + QStringLiteral(" is available."),
                                             VarnoFont::ui(12), VarnoColor::textPrimary(),
                                             true, card));
    if (const auto size = backupSizeLine(backup))
        layout->addWidget(ProvenanceParts::label(*size, VarnoFont::mono(11), VarnoColor::textSecondary(), false, card));
    layout->addWidget(ProvenanceParts::label(
        QStringLiteral("This replaces the current app with the backed-up version. The app must not be running."),
        VarnoFont::ui(12), VarnoColor::textSecondary(), true, card));
    return card;
}

QStringList RestoreSheet::stateTexts() const
{
    QStringList texts;
    for (QLabel *label : m_stateArea->findChildren<QLabel *>()) {
        if (label->isVisibleTo(m_stateArea) && !label->text().isEmpty() && !label->property("deleting").toBool())
            texts.append(label->text());
    }
    return texts;
}
