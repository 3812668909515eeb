// Stand-ins for the adopt consent and contribution sheets, until their own
// views are built: a title, a line saying so, and Close.

#include "sheets/SheetFactories.h"

#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QDialog *standIn(const QString &title, const QString &line, QWidget *parent)
{
    auto *sheet = new QDialog(parent);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setWindowTitle(title);
    sheet->setFixedWidth(420);
    VarnoColor::bindBackground(sheet, VarnoColor::background());
    auto *column = new QVBoxLayout(sheet);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(12);
    auto *heading = new QLabel(title, sheet);
    heading->setTextFormat(Qt::PlainText);
    heading->setFont(VarnoFont::ui(15, QFont::DemiBold));
    VarnoColor::bindForeground(heading, VarnoColor::textPrimary());
    column->addWidget(heading);
    auto *text = new QLabel(line, sheet);
    text->setTextFormat(Qt::PlainText);
    text->setWordWrap(true);
    text->setFont(VarnoFont::ui(12));
    VarnoColor::bindForeground(text, VarnoColor::textSecondary());
    column->addWidget(text);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto *close = new StyledButton(QStringLiteral("Close"), GhostButtonStyle(), sheet);
    close->setAccessibleName(QStringLiteral("Close"));
    QObject::connect(close, &QPushButton::clicked, sheet, &QDialog::reject);
    buttons->addWidget(close);
    column->addLayout(buttons);
    return sheet;
}

} // namespace

namespace SheetFactories {

QDialog *makeAdoptConsentSheet(AppModel *, const AppRecord &app, QWidget *parent)
{
    return standIn(QStringLiteral("Adopt ") + app.app_name,
                   QStringLiteral("Stand-in: the adopt consent sheet is not built yet. Nothing was changed."), parent);
}

QDialog *makeContributeSheet(AppModel *, const AppRecord &app, QWidget *parent)
{
    return standIn(QStringLiteral("Help Brusk classify ") + app.app_name,
                   QStringLiteral("Stand-in: the contribution sheet is not built yet. Nothing was sent."), parent);
}

} // namespace SheetFactories
