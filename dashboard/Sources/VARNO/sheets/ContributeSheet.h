#pragma once

#include "records/AppRecord.h"

#include <QDialog>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <optional>
#include <utility>

class AppModel;
class QButtonGroup;
class QCheckBox;
class QLineEdit;
class QAbstractButton;
class StyledButton;
namespace SheetParts {
class TextBlock;
}

// What the user told the contribution sheet, as typed (nothing trimmed).
struct ContributeForm {
    QString mechanism = QStringLiteral("sparkle");
    QString feedURL;
    QString homepageURL;
    QString downloadURL;
    QString caskToken;
    QString masID;
    bool shouldPush = false;

    friend bool operator==(const ContributeForm &, const ContributeForm &) = default;
};

// The contribution sheet's rules, each a pure function of the form.
namespace ContributeRules {

// The picker's choices in order: tag (what the engine receives) and label.
const QList<std::pair<QString, QString>> &mechanisms();

// Whether "Save" may run: the chosen mechanism's one needed field holds
// something (whitespace counts; nothing is trimmed). vendor_self_update needs
// nothing.
bool canSubmit(const ContributeForm &form);

// The engine's argument vector: "contribute", "--bundle-id", ID, "--mechanism",
// tag, then each present value with its option (feed, homepage and download
// URLs whatever the mechanism; the cask token only for "cask", the item ID
// only for "mas"), then "--push" last. An empty text is absent. Every value is
// one element: nothing is joined, split or quoted, and no shell sees it.
QStringList arguments(const QString &bundleId, const ContributeForm &form);

// Why the form is not sent, when a value that would be sent begins with "-"
// (the engine would read it as an option): a sentence naming the field.
std::optional<QString> refusal(const QString &bundleId, const ContributeForm &form);

} // namespace ContributeRules

// The sheet that tells the engine how one unclassified app updates: a
// mechanism, what the user knows of it, and whether to share it with the
// community catalog. "Save" runs the engine's contribute command and, on
// success, reloads the library and closes. There is no cancelling a run;
// should the sheet close while it runs, the run goes on: a success still
// reloads the library, and a failure becomes the model's error.
class ContributeSheet : public QDialog {
    Q_OBJECT

public:
    ContributeSheet(AppModel *model, const AppRecord &app, QWidget *parent = nullptr);

    static constexpr int kWidth = 420;
    static constexpr double kTimeout = 120;

    const AppRecord &app() const { return m_app; }
    const ContributeForm &form() const { return m_form; }
    bool isSubmitting() const { return m_isSubmitting; }
    const std::optional<QString> &errorMessage() const { return m_errorMessage; }
    bool canSubmit() const { return ContributeRules::canSubmit(m_form); }

    // Starts the submission (what "Save" does); returns at once.
    void submit();
    // The submission's task, for tests that await it.
    QCoro::Task<void> runSubmission(ContributeForm form);

    // Preview scenes: a given form and error.
    void setStateForPreview(const ContributeForm &form, std::optional<QString> error, bool submitting);

    QLineEdit *feedField() const { return m_feed; }
    QLineEdit *homepageField() const { return m_homepage; }
    QLineEdit *downloadField() const { return m_download; }
    QLineEdit *caskField() const { return m_cask; }
    QLineEdit *masField() const { return m_mas; }
    QCheckBox *pushToggle() const { return m_push; }
    QAbstractButton *mechanismButton(const QString &tag) const;
    StyledButton *cancelButton() const { return m_cancel; }
    StyledButton *saveButton() const { return m_save; }
    SheetParts::TextBlock *errorLine() const { return m_error; }

    static QString titleText(const QString &appName);
    static const QString explanationText;

Q_SIGNALS:
    void refreshed();

private:
    void refresh();
    void readFields();

    QPointer<AppModel> m_model;
    AppRecord m_app;
    ContributeForm m_form;
    bool m_isSubmitting = false;
    std::optional<QString> m_errorMessage;

    QButtonGroup *m_picker = nullptr;
    QLineEdit *m_feed = nullptr;
    QLineEdit *m_homepage = nullptr;
    QLineEdit *m_download = nullptr;
    QLineEdit *m_cask = nullptr;
    QLineEdit *m_mas = nullptr;
    QCheckBox *m_push = nullptr;
    SheetParts::TextBlock *m_error = nullptr;
    StyledButton *m_cancel = nullptr;
    StyledButton *m_save = nullptr;
};
