#include "settings/FolderChooser.h"

#include <QAbstractItemView>
#include <QFileDialog>

std::optional<QStringList> chooseFoldersWithDialog(QWidget *parent)
{
    QFileDialog dialog(parent, QStringLiteral("Choose project folders VARNO may inspect."));
    dialog.setFileMode(QFileDialog::Directory);
    // The desktop's own dialogs pick one folder at a time; Qt's lets the user
    // pick several. Read-only: no "New Folder".
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog | QFileDialog::ReadOnly);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Add"));
    for (QAbstractItemView *view : dialog.findChildren<QAbstractItemView *>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.selectedFiles();
}
