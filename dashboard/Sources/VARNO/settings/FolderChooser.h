#pragma once

#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// Asks the user for project folders: the chosen folders' paths in the
// dialog's order, or nothing when the user cancelled. Tests give their own.
using FolderChooser = std::function<std::optional<QStringList>(QWidget *parent)>;

// The desktop's folder dialog: folders only, several at once, no new folders,
// the accept button reads "Add".
std::optional<QStringList> chooseFoldersWithDialog(QWidget *parent);
