#include "sheets/ContributeSheet.h"

#include "base/Logging.h"
#include "engine/VARNOProcess.h"
#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "model/AppModel.h"
#include "model/EngineFailure.h"
#include "platform/PlainText.h"
#include "widgets/SheetFrame.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

// --- Rules -----------------------------------------------------------------------------------

namespace ContributeRules {

const QList<std::pair<QString, QString>> &mechanisms()
{
    static const QList<std::pair<QString, QString>> list{
        {QStringLiteral("sparkle"), QStringLiteral("Sparkle feed")},
        {QStringLiteral("direct_download"), QStringLiteral("Direct download")},
        {QStringLiteral("vendor_self_update"), QStringLiteral("App’s own updater")},
        {QStringLiteral("cask"), QStringLiteral("Homebrew Cask")},
        {QStringLiteral("mas"), QStringLiteral("Mac App Store")},
    };
    return list;
}

bool canSubmit(const ContributeForm &form)
{
    if (form.mechanism.isEmpty())
        return false;
    if (form.mechanism == QLatin1String("sparkle") && form.feedURL.isEmpty())
        return false;
    if (form.mechanism == QLatin1String("direct_download") && form.downloadURL.isEmpty())
        return false;
    if (form.mechanism == QLatin1String("cask") && form.caskToken.isEmpty())
        return false;
    if (form.mechanism == QLatin1String("mas"))
        return !form.masID.isEmpty();
    return true;
}

namespace {

// The values sent, with their options and the names the user knows them by.
struct Field {
    const char *option;
    QString value;
    const char *name;
};

QList<Field> sentFields(const ContributeForm &form)
{
    QList<Field> fields{
        {"--feed-url", form.feedURL, "Feed URL"},
        {"--homepage-url", form.homepageURL, "Homepage URL"},
        {"--download-url", form.downloadURL, "Download URL"},
    };
    if (form.mechanism == QLatin1String("cask"))
        fields.append({"--cask-token", form.caskToken, "Homebrew Cask token"});
    if (form.mechanism == QLatin1String("mas"))
        fields.append({"--mas-id", form.masID, "Mac App Store item ID"});
    return fields;
}

} // namespace

QStringList arguments(const QString &bundleId, const ContributeForm &form)
{
    QStringList argv{QStringLiteral("contribute"), QStringLiteral("--bundle-id"), bundleId,
                     QStringLiteral("--mechanism"), form.mechanism};
    for (const Field &field : sentFields(form)) {
        if (field.value.isEmpty())
            continue;
        argv.append(QString::fromLatin1(field.option));
        argv.append(field.value);
    }
    if (form.shouldPush)
        argv.append(QStringLiteral("--push"));
    return argv;
}

std::optional<QString> refusal(const QString &bundleId, const ContributeForm &form)
{
    const auto optionLike = [](const QString &value) { return value.startsWith(QLatin1Char('-')); };
    if (optionLike(bundleId))
        return QStringLiteral("This app's bundle id begins with “-”, so Brusk won't hand it to the engine.");
    for (const Field &field : sentFields(form)) {
        if (optionLike(field.value))
            return QStringLiteral("The ") + QString::fromLatin1(field.name)
                + QStringLiteral(" can't begin with “-”. Check what you typed; nothing was sent.");
    }
    return std::nullopt;
}

} // namespace ContributeRules

// --- The sheet -------------------------------------------------------------------------------

namespace {

QLineEdit *field(const QString &placeholder, QWidget *parent)
{
    auto *edit = new QLineEdit(parent);
    edit->setPlaceholderText(placeholder);
    edit->setAccessibleName(placeholder);
    edit->setFont(VarnoFont::ui(13));
    VarnoColor::onAppearanceChange(edit, [edit] {
        edit->setStyleSheet(QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid %3; "
                                           "border-radius: 6px; padding: 4px 6px; }"
                                           "QLineEdit:focus { border-color: %4; }")
                                .arg(VarnoColor::surface().resolved().name(), VarnoColor::textPrimary().resolved().name(),
                                     VarnoColor::border().resolved().name(), VarnoColor::accent().resolved().name()));
        QPalette palette = edit->palette();
        palette.setColor(QPalette::PlaceholderText, VarnoColor::textTertiary().resolved());
        edit->setPalette(palette);
    });
    return edit;
}

// The segmented picker's look: one row of joined segments, the chosen one
// filled. Neighbours share one line between them: each segment draws its
// right edge, the first also its left.
void styleSegments(QWidget *picker)
{
    VarnoColor::onAppearanceChange(picker, [picker] {
        picker->setStyleSheet(
            QStringLiteral("QToolButton { background: %1; color: %2; border: 1px solid %3; border-left: none; "
                           "padding: 4px 0px; border-radius: 0px; }"
                           "QToolButton[first=\"true\"] { border-left: 1px solid %3; }"
                           "QToolButton:checked { background: %4; color: %5; }"
                           "QToolButton:focus { border-color: %4; }")
                .arg(VarnoColor::surface().resolved().name(), VarnoColor::textSecondary().resolved().name(),
                     VarnoColor::border().resolved().name(), VarnoColor::accent().resolved().name(),
                     VarnoColor::background().resolved().name()));
    });
}

// The segments across `width`: each label whole, at the largest size from 10
// down that lets all of them fit, the room left shared out evenly. Only where
// no size fits (a face that does not come smaller) do equal segments cut
// their labels with "…".
struct SegmentLayout {
    QFont font;
    QStringList texts;
    QList<int> widths;
};

SegmentLayout segmentLayout(const QStringList &labels, int width)
{
    SegmentLayout layout;
    const int count = int(labels.size());
    if (count == 0)
        return layout;
    int used = 0;
    for (qreal size = 10; size >= 7; size -= 0.5) {
        layout.font = VarnoFont::ui(size);
        const QFontMetricsF metrics(layout.font);
        layout.widths.clear();
        used = 0;
        for (int i = 0; i < count; ++i) {
            // The label, and the segment's edges (the first has two).
            const int segment = int(std::ceil(metrics.horizontalAdvance(labels.at(i)))) + (i == 0 ? 2 : 1);
            layout.widths.append(segment);
            used += segment;
        }
        if (used <= width)
            break;
    }
    layout.texts = labels;
    if (used > width) {
        layout.font = VarnoFont::ui(10);
        const QFontMetrics metrics(layout.font);
        for (int i = 0; i < count; ++i) {
            layout.widths[i] = width / count;
            layout.texts[i] = metrics.elidedText(labels.at(i), Qt::ElideRight, width / count - 6);
        }
        return layout;
    }
    int spare = width - used;
    for (int i = 0; i < count; ++i) {
        const int share = spare / (count - i);
        layout.widths[i] += share;
        spare -= share;
    }
    return layout;
}

// A bordered-prominent button: the primary style, drawn at half opacity while disabled.
ButtonStyle prominentStyle()
{
    ButtonStyle style = PrimaryButtonStyle();
    style.disabledOpacity = 0.5;
    return style;
}

ButtonStyle cancelStyle()
{
    ButtonStyle style = GhostButtonStyle();
    style.disabledOpacity = 0.5;
    return style;
}

} // namespace

const QString ContributeSheet::explanationText = QStringLiteral(
    "VARNO doesn't know how this app updates yet. Share what you know and Brusk will remember it for this Mac (and "
    "the community, if you push).");

QString ContributeSheet::titleText(const QString &appName)
{
    return QStringLiteral("Help Brusk classify ") + PlainText::forField(appName);
}

ContributeSheet::ContributeSheet(AppModel *model, const AppRecord &app, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
    , m_app(app)
{
    if (!model)
        qFatal("ContributeSheet needs the app's model");
    setObjectName(QStringLiteral("contribute-sheet"));
    setWindowTitle(titleText(app.app_name));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);
    VarnoColor::bindBackground(this, VarnoColor::background());

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->setSizeConstraint(QLayout::SetFixedSize);

    auto *title = new SheetParts::TextBlock(titleText(app.app_name), VarnoFont::ui(18, QFont::DemiBold),
                                            VarnoColor::textPrimary(), this);
    title->setObjectName(QStringLiteral("contribute-title"));
    title->setFixedWidth(kWidth - 40);
    column->addWidget(title);
    auto *explanation = new SheetParts::TextBlock(explanationText, VarnoFont::ui(13), VarnoColor::textSecondary(), this);
    explanation->setFixedWidth(kWidth - 40);
    column->addWidget(explanation);

    // The mechanism picker: one segment per mechanism, its label hidden.
    auto *picker = new QWidget(this);
    picker->setObjectName(QStringLiteral("mechanism-picker"));
    picker->setAccessibleName(QStringLiteral("Mechanism"));
    auto *segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    m_picker = new QButtonGroup(this);
    m_picker->setExclusive(true);
    QStringList labels;
    for (const auto &choice : ContributeRules::mechanisms())
        labels.append(choice.second);
    // Each segment as wide as its label, so that every label shows whole.
    const SegmentLayout layout = segmentLayout(labels, kWidth - 40);
    for (qsizetype i = 0; i < ContributeRules::mechanisms().size(); ++i) {
        const auto &[tag, label] = ContributeRules::mechanisms().at(i);
        auto *segment = new QToolButton(picker);
        segment->setObjectName(QStringLiteral("mechanism-") + tag);
        segment->setProperty("first", i == 0);
        segment->setFont(layout.font);
        segment->setText(layout.texts.at(i));
        segment->setToolTip(label);
        segment->setAccessibleName(label);
        segment->setCheckable(true);
        segment->setFocusPolicy(Qt::StrongFocus);
        segment->setProperty("tag", tag);
        segment->setFixedWidth(layout.widths.at(i));
        segments->addWidget(segment);
        m_picker->addButton(segment);
        if (tag == m_form.mechanism)
            segment->setChecked(true);
    }
    styleSegments(picker);
    picker->setFixedWidth(kWidth - 40);
    column->addWidget(picker);

    auto *fields = new QVBoxLayout();
    fields->setSpacing(6);
    m_feed = field(QStringLiteral("Feed URL (Sparkle only)"), this);
    m_homepage = field(QStringLiteral("Homepage URL"), this);
    m_download = field(QStringLiteral("Download URL"), this);
    m_cask = field(QStringLiteral("Homebrew Cask token"), this);
    m_mas = field(QStringLiteral("Mac App Store item ID"), this);
    for (QLineEdit *edit : {m_feed, m_homepage, m_download, m_cask, m_mas}) {
        edit->setFixedWidth(kWidth - 40);
        fields->addWidget(edit);
        // The Save rule follows every keystroke.
        connect(edit, &QLineEdit::textChanged, this, [this] {
            readFields();
            refresh();
        });
    }
    column->addLayout(fields);

    m_push = new QCheckBox(QStringLiteral("Push to community catalog"), this);
    m_push->setAccessibleName(QStringLiteral("Push to community catalog"));
    m_push->setFont(VarnoFont::ui(13));
    VarnoColor::bindForeground(m_push, VarnoColor::textSecondary());
    connect(m_push, &QCheckBox::toggled, this, [this](bool on) { m_form.shouldPush = on; });
    column->addWidget(m_push);

    m_error = new SheetParts::TextBlock(QString(), VarnoFont::ui(13), VarnoColor::dangerText(), this);
    m_error->setObjectName(QStringLiteral("contribute-error"));
    m_error->setFixedWidth(kWidth - 40);
    m_error->hide();
    column->addWidget(m_error);

    auto *buttons = new QHBoxLayout();
    buttons->addStretch(1);
    m_cancel = new StyledButton(QStringLiteral("Cancel"), cancelStyle(), this);
    m_cancel->setAccessibleName(QStringLiteral("Cancel"));
    m_save = new StyledButton(QStringLiteral("Save"), prominentStyle(), this);
    m_save->setAccessibleName(QStringLiteral("Save"));
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_save);
    column->addLayout(buttons);

    connect(m_picker, &QButtonGroup::buttonClicked, this, [this](QAbstractButton *button) {
        m_form.mechanism = button->property("tag").toString();
        refresh();
    });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_save, &QPushButton::clicked, this, &ContributeSheet::submit);
    refresh();
}

QAbstractButton *ContributeSheet::mechanismButton(const QString &tag) const
{
    for (QAbstractButton *button : m_picker->buttons()) {
        if (button->property("tag").toString() == tag)
            return button;
    }
    return nullptr;
}

void ContributeSheet::readFields()
{
    m_form.feedURL = m_feed->text();
    m_form.homepageURL = m_homepage->text();
    m_form.downloadURL = m_download->text();
    m_form.caskToken = m_cask->text();
    m_form.masID = m_mas->text();
}

void ContributeSheet::setStateForPreview(const ContributeForm &form, std::optional<QString> error, bool submitting)
{
    m_form = form;
    const QSignalBlocker blockers[] = {QSignalBlocker(m_feed), QSignalBlocker(m_homepage), QSignalBlocker(m_download),
                                       QSignalBlocker(m_cask), QSignalBlocker(m_mas),      QSignalBlocker(m_push)};
    m_feed->setText(form.feedURL);
    m_homepage->setText(form.homepageURL);
    m_download->setText(form.downloadURL);
    m_cask->setText(form.caskToken);
    m_mas->setText(form.masID);
    m_push->setChecked(form.shouldPush);
    if (QAbstractButton *segment = mechanismButton(form.mechanism))
        segment->setChecked(true);
    m_errorMessage = std::move(error);
    m_isSubmitting = submitting;
    refresh();
}

void ContributeSheet::refresh()
{
    m_cask->setVisible(m_form.mechanism == QLatin1String("cask"));
    m_mas->setVisible(m_form.mechanism == QLatin1String("mas"));
    if (m_errorMessage) {
        m_error->setText(SheetParts::bounded(*m_errorMessage));
        m_error->show();
    } else {
        m_error->hide();
    }
    m_cancel->setEnabled(!m_isSubmitting);
    m_save->setEnabled(!m_isSubmitting && canSubmit());
    Q_EMIT refreshed();
}

void ContributeSheet::submit()
{
    if (m_isSubmitting || !canSubmit())
        return;
    readFields();
    m_isSubmitting = true;
    m_errorMessage.reset();
    refresh();
    QCoro::Task<void> run = runSubmission(m_form);
    Q_UNUSED(run);
}

QCoro::Task<void> ContributeSheet::runSubmission(ContributeForm form)
{
    QPointer<ContributeSheet> self(this);
    QPointer<AppModel> model = m_model;
    const QString bundleId = m_app.bundle_id;

    // A value the engine would take for an option is refused before anything runs.
    if (const std::optional<QString> refused = ContributeRules::refusal(bundleId, form)) {
        if (self) {
            self->m_errorMessage = refused;
            self->m_isSubmitting = false;
            self->refresh();
        }
        co_return;
    }

    const QStringList argv = ContributeRules::arguments(bundleId, form);
    std::optional<EngineFailure> failure;
    try {
        QCoro::Task<QByteArray> run = VARNOProcess::run(argv, kTimeout);
        co_await std::move(run);
    } catch (...) {
        failure = EngineFailure::from(std::current_exception());
    }
    if (failure) {
        qCInfo(lcVarno).noquote() << "contribute for" << bundleId << "failed:" << failure->description;
        if (self) {
            self->m_errorMessage = failure->description;
            self->m_isSubmitting = false;
            self->refresh();
        } else if (model) {
            // The sheet went away meanwhile: the failure is the app's to show.
            model->setError(failure->description);
        }
        co_return;
    }
    if (model) {
        QCoro::Task<void> reload = model->load();
        co_await std::move(reload);
    }
    // Done: the sheet closes (still submitting, so nothing can be pressed).
    if (self)
        self->accept();
}
