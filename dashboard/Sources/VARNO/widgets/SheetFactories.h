#pragma once

#include "records/AppRecord.h"

class AppModel;
class QDialog;
class QWidget;

// The sheets that the incident button and the detailed card present, made
// fresh for each presentation. Each returns a window-modal dialog, not yet
// shown, that deletes itself when it closes.
namespace SheetFactories {

// Adopting the app into Homebrew Cask (from the "Adopt" remedy).
QDialog *makeAdoptConsentSheet(AppModel *model, const AppRecord &app, QWidget *parent);
// Telling the engine how an unclassified app updates ("Help Brusk classify…").
QDialog *makeContributeSheet(AppModel *model, const AppRecord &app, QWidget *parent);

} // namespace SheetFactories
