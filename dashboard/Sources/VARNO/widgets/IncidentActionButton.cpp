#include "widgets/IncidentActionButton.h"

#include "base/Async.h"
#include "kit/ButtonStyles.h"
#include "kit/Labels.h"
#include "kit/VarnoColor.h"
#include "model/AppModel.h"
#include "platform/PlainText.h"
#include "widgets/SheetFactories.h"

#include <QClipboard>
#include <QDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>

namespace IncidentActionRules {

const QString unsafeCopyRefusalText = QStringLiteral(
    "Brusk won't copy that command — this app's bundle id contains characters that don't belong in one. Run "
    "`varno diagnose --bundle` and check this app's record.");

bool isSafeBundleID(const QString &bundleId)
{
    // Anchored as a whole: "$" alone would also match before a final line
    // break, and a copied command would then run as soon as it is pasted.
    // A leading "-" would make the engine read the id as an option.
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(QStringLiteral("[A-Za-z0-9._-]+")));
    return !bundleId.isEmpty() && !bundleId.startsWith(QLatin1Char('-')) && pattern.match(bundleId).hasMatch();
}

QString fixCommand(const QString &bundleId)
{
    return QStringLiteral("varno fix ") + bundleId;
}

QString quitConsentTitle(const QString &appName)
{
    return QStringLiteral("Quit ") + PlainText::forField(appName) + QStringLiteral(" to update it?");
}

QString quitConsentMessage(const QString &appName)
{
    return QStringLiteral("Brusk never swaps a tool while it's in your hands. He'll ask ")
        + PlainText::forField(appName) + QStringLiteral(" to quit gently — you can still save your work — ")
        + QStringLiteral("install the update, and open it again. Or Brusk can wait and ")
        + QStringLiteral("update it the next time you quit it yourself.");
}

ButtonSpec specFor(IncidentAction action, const AppRecord &app, const Busy &busy, bool copied)
{
    const bool guarded = busy.isUpdating || busy.isScanning || busy.isFixing || busy.ownEntryRunning;
    // What the button shows of the record is bounded; pressing it acts on
    // the whole record.
    const QString bid = PlainText::forField(app.bundle_id);
    const QString name = PlainText::forField(app.app_name);
    ButtonSpec spec;
    switch (action) {
    case IncidentAction::fixIt:
        spec = {true,
                QStringLiteral("Fix It"),
                true,
                !guarded,
                QStringLiteral("Runs `varno fix ") + bid + QStringLiteral("` and re-checks the app"),
                QStringLiteral("Fix It — ") + name};
        break;
    case IncidentAction::runInTerminal:
        spec = {true,
                copied ? QStringLiteral("Copied") : QStringLiteral("Run in Terminal"),
                false,
                true,
                QStringLiteral("This fix needs your OK — copies `varno fix ") + bid
                    + QStringLiteral("` to run in Terminal"),
                QStringLiteral("Run in Terminal — copies the fix command for ") + name};
        break;
    case IncidentAction::none:
        return ButtonSpec{};
    case IncidentAction::getHelp:
        spec = {true,
                QStringLiteral("Get help"),
                false,
                !busy.ownEntryRunning,
                QStringLiteral("Builds a local support bundle and shows it in Finder — nothing is sent anywhere"),
                QStringLiteral("Get help — ") + name};
        break;
    case IncidentAction::quitAndUpdate:
        spec = {true,
                QStringLiteral("Quit & Update"),
                true,
                !guarded,
                QStringLiteral("Asks ") + name
                    + QStringLiteral(" to quit gently (never force-quit), updates it, and opens it again"),
                QStringLiteral("Quit and Update — ") + name};
        break;
    case IncidentAction::adopt:
        spec = {true,
                QStringLiteral("Adopt"),
                true,
                !guarded,
                QStringLiteral("Adopt ") + name
                    + QStringLiteral(" into Homebrew Cask — brew takes ownership of the app already on disk"),
                QStringLiteral("Adopt — ") + name};
        break;
    case IncidentAction::approve:
        spec = {true,
                QStringLiteral("Approve"),
                true,
                !guarded,
                QStringLiteral("You set this app to ask first — Approve runs `varno update --only ") + bid
                    + QStringLiteral(" --approved`"),
                QStringLiteral("Approve update — ") + name};
        break;
    }
    return spec;
}

ButtonStyle chrome(bool prominent)
{
    ButtonStyle style;
    style.face = ButtonStyle::Face{11, QFont::Medium};
    style.cornerRadius = 8;
    style.horizontalPadding = 10;
    style.verticalPadding = 4;
    if (prominent) {
        style.text = VarnoColor::background();
        style.fill = VarnoColor::accent();
    } else {
        style.text = VarnoColor::textSecondary();
        style.fill = VarnoColor::surfaceHover();
        style.stroke = VarnoColor::border();
    }
    return style;
}

} // namespace IncidentActionRules

namespace {

std::chrono::milliseconds copiedResetInterval{2000};

// Tells the buttons of one app of a change of that app's update state, so
// that a change costs the same however many buttons there are (the sheet of
// a large update run holds one for every app that failed). One per model.
class ButtonsOfApps : public QObject {
public:
    static ButtonsOfApps *of(AppModel *model)
    {
        // Found by its name: a class without a meta-object of its own is not
        // told apart from the model's other children by its type.
        QObject *buttons = model->findChild<QObject *>(name(), Qt::FindDirectChildrenOnly);
        return buttons ? static_cast<ButtonsOfApps *>(buttons) : new ButtonsOfApps(model);
    }

    void add(const QString &bundleId, IncidentActionButton *button) { m_buttons.insert(bundleId, button); }
    void remove(const QString &bundleId, IncidentActionButton *button) { m_buttons.remove(bundleId, button); }

private:
    static QString name() { return QStringLiteral("org.varno.incident-buttons-of-apps"); }

    explicit ButtonsOfApps(AppModel *model)
        : QObject(model)
        , m_wholeMapChanges(model->wholeMapChanges())
    {
        setObjectName(name());
        connect(model, &AppModel::updateStateChanged, this,
                [this](const QString &bundleId) { refresh(m_buttons.values(bundleId)); });
        // A whole map replaced (a run starts or ends) may change any app's state.
        connect(model, &AppModel::updateProgressChanged, this, [this, model] {
            if (model->wholeMapChanges() == m_wholeMapChanges)
                return;
            m_wholeMapChanges = model->wholeMapChanges();
            refresh(m_buttons.values());
        });
        for (auto signal : {&AppModel::isUpdatingChanged, &AppModel::isScanningChanged, &AppModel::isFixingChanged})
            connect(model, signal, this, [this] { refresh(m_buttons.values()); });
    }

    static void refresh(const QList<IncidentActionButton *> &buttons)
    {
        for (IncidentActionButton *button : buttons)
            button->refresh();
    }

    QMultiHash<QString, IncidentActionButton *> m_buttons;
    quint64 m_wholeMapChanges = 0;
};

} // namespace

void IncidentActionButton::setCopiedInterval(std::chrono::milliseconds interval)
{
    copiedResetInterval = interval;
}

std::chrono::milliseconds IncidentActionButton::copiedInterval()
{
    return copiedResetInterval;
}

IncidentActionButton::IncidentActionButton(AppModel *model, const AppRecord &app, const QString &code, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_app(app)
    , m_code(code)
{
    if (!model)
        qFatal("IncidentActionButton needs the app's model");
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_button = new StyledButton(IncidentActionRules::chrome(false), this);
    layout->addWidget(m_button);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_button, &QPushButton::clicked, this, &IncidentActionButton::press);
    // The model's busy flags and this app's update state decide the button.
    ButtonsOfApps::of(model)->add(m_app.bundle_id, this);
    refresh();
}

IncidentActionButton::~IncidentActionButton()
{
    if (m_model)
        ButtonsOfApps::of(m_model)->remove(m_app.bundle_id, this);
}

void IncidentActionButton::setIncident(const AppRecord &app, const QString &code)
{
    if (!(m_app.bundle_id == app.bundle_id) || m_code != code) {
        // Another incident: the flags start afresh.
        m_copied = false;
    }
    if (m_model && m_app.bundle_id != app.bundle_id) {
        ButtonsOfApps::of(m_model)->remove(m_app.bundle_id, this);
        ButtonsOfApps::of(m_model)->add(app.bundle_id, this);
    }
    m_app = app;
    m_code = code;
    refresh();
}

IncidentAction IncidentActionButton::action() const
{
    return RemediationRegistry::shared().action(m_code);
}

void IncidentActionButton::refresh()
{
    if (!m_model)
        return;
    IncidentActionRules::Busy busy;
    busy.isUpdating = m_model->isUpdating();
    busy.isScanning = m_model->isScanning();
    busy.isFixing = m_model->isFixing();
    busy.ownEntryRunning = m_model->updateState(m_app.bundle_id).kind() == UpdateState::Kind::running;
    const IncidentActionRules::ButtonSpec spec = IncidentActionRules::specFor(action(), m_app, busy, m_copied);
    // Nothing to tell the widgets (or assistive technology) when nothing changed.
    if (m_refreshed && spec == m_spec)
        return;
    m_refreshed = true;
    if (spec.prominent != m_spec.prominent || !m_button->buttonStyle().face)
        m_button->setButtonStyle(IncidentActionRules::chrome(spec.prominent));
    m_spec = spec;
    m_button->setText(spec.title);
    m_button->setEnabled(spec.enabled);
    m_button->setToolTip(Labels::toolTip(spec.toolTip));
    m_button->setAccessibleName(spec.accessibleName);
    // A remedy of none takes no room at all. (A button without a parent is
    // never shown as a window of its own.)
    if (!spec.visible)
        hide();
    else if (parentWidget())
        setVisible(true);
    updateGeometry();
}

void IncidentActionButton::press()
{
    if (!m_model || !m_spec.visible || !m_spec.enabled)
        return;
    // The task gets the record as it is now.
    const AppRecord app = m_app;
    AppModel *model = m_model;
    switch (action()) {
    case IncidentAction::fixIt:
        Async::detach(model->fixIncident(app));
        break;
    case IncidentAction::runInTerminal:
        copyFixCommand();
        break;
    case IncidentAction::none:
        break;
    case IncidentAction::getHelp:
        Async::detach(model->getHelp(app));
        break;
    case IncidentAction::quitAndUpdate:
        presentQuitConsent();
        break;
    case IncidentAction::adopt:
        presentAdoptSheet();
        break;
    case IncidentAction::approve:
        Async::detach(model->approveHeadlessAsk(app));
        break;
    }
}

void IncidentActionButton::copyFixCommand()
{
    if (!IncidentActionRules::isSafeBundleID(m_app.bundle_id)) {
        m_model->setError(IncidentActionRules::unsafeCopyRefusalText);
        return;
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(IncidentActionRules::fixCommand(m_app.bundle_id), QClipboard::Clipboard);
    m_copied = true;
    refresh();
    QTimer::singleShot(copiedResetInterval, this, [this] {
        m_copied = false;
        refresh();
    });
}

void IncidentActionButton::presentQuitConsent()
{
    if (m_quitConsent)
        return;
    const AppRecord app = m_app;
    QPointer<AppModel> model = m_model;
    auto *box = new QMessageBox(window());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowTitle(IncidentActionRules::quitConsentTitle(app.app_name));
    // Window managers may hide a dialog's title; the title is always shown.
    box->setTextFormat(Qt::PlainText);
    box->setText(IncidentActionRules::quitConsentTitle(app.app_name));
    Labels::setPlainInformativeText(box, IncidentActionRules::quitConsentMessage(app.app_name));
    // "&&": a single "&" would be taken for a mnemonic and not shown.
    QPushButton *quit = box->addButton(QStringLiteral("Quit && Update"), QMessageBox::AcceptRole);
    QPushButton *later = box->addButton(QStringLiteral("Update when I quit it instead"), QMessageBox::ActionRole);
    QPushButton *notNow = box->addButton(QStringLiteral("Not now"), QMessageBox::RejectRole);
    box->setEscapeButton(notNow);
    // Return never quits another app: it answers "Not now".
    box->setDefaultButton(notNow);
    quit->setAccessibleName(QStringLiteral("Quit & Update"));
    for (QPushButton *button : {later, notNow})
        button->setAccessibleName(button->text());
    connect(quit, &QPushButton::clicked, box, [model, app] {
        if (model)
            Async::detach(model->quitAndUpdate(app));
    });
    connect(later, &QPushButton::clicked, box, [model, app] {
        if (model)
            Async::detach(model->deferUpdateToQuit(app));
    });
    m_quitConsent = box;
    box->open();
}

void IncidentActionButton::presentAdoptSheet()
{
    if (m_adoptSheet)
        return;
    QDialog *sheet = SheetFactories::makeAdoptConsentSheet(m_model, m_app, window());
    m_adoptSheet = sheet;
    sheet->open();
}
