#pragma once

#include <QString>

// The toolbar strip's faces and texts as pure rules over the model's busy
// flags.
namespace ToolbarRules {

struct Inputs {
    bool isScanning = false;
    bool isUpdating = false;
    bool isPaused = false;
    bool singleUpdate = false; // a single application's update runs
    qsizetype outdatedCount = 0;
};

enum class Face { idle, scanning, updating };
// updating while the queue runs, else scanning while a scan runs, else idle.
Face face(const Inputs &in);

// What fills the right end: the queue's controls while it runs, else Update
// All when something is outdated (hidden, not disabled, otherwise).
enum class RightEnd { queueControls, updateAll, nothing };
RightEnd rightEnd(const Inputs &in);

// Scan and Update All are disabled while a scan, the queue or a single
// update runs.
bool scanDisabled(const Inputs &in);
bool updateAllDisabled(const Inputs &in);
// Scan shows its title except while the queue runs (then its icon alone).
bool scanShowsTitle(const Inputs &in);
// The outdated badge beside the title: the count, or nothing for none.
QString badgeText(const Inputs &in);

// Scan's tooltip and hint hang on the single update alone.
QString scanHelp(const Inputs &in);
QString scanHint(const Inputs &in);
// Update All's tooltip, also its hint: scanning, then single update, then
// the default.
QString updateAllHelp(const Inputs &in);

// The Pause/Resume button by the queue's state: its symbol, the word it
// sends, and its texts.
QString pauseSymbol(bool paused);
QString pauseWord(bool paused);
QString pauseHelp(bool paused);
QString pauseLabel(bool paused);
QString pauseHint(bool paused);

// The texts of the other icon buttons.
struct ButtonTexts {
    QString symbol;
    QString help;
    QString label;
    QString identifier;
    QString hint;
};
ButtonTexts workshopButton();
ButtonTexts diagnosticsButton();
ButtonTexts progressButton();
ButtonTexts skipButton();
ButtonTexts stopButton();

QString scanningText(); // "Scanning..." (three full stops)
QString scanningHint(); // "Library refreshes when the scan finishes."

} // namespace ToolbarRules
