#pragma once

#include "kit/ColorPair.h"
#include "model/PosturePresenter.h"
#include "workshop/LibraryFilters.h"

#include <QList>
#include <QString>

class AppModel;

// The status strip's texts as pure rules: its four count cells and the
// posture chip.
namespace StatusBarRules {

enum class Cell { tracked, outdated, verified, atRisk };
const QList<Cell> &cells();

QString label(Cell cell); // "TRACKED", "OUTDATED", "VERIFIED", "AT RISK"
ColorPair valueColor(Cell cell);
// The verified and at-risk sentences for those labels (compared exactly),
// the label itself for any other.
QString tooltip(const QString &label);
// "<Label>: <value>" with the label capitalised word by word ("At Risk: 1").
QString accessibleLabel(const QString &label, qsizetype value);

// The cell's count, from the model's lists by their rules (no records are
// copied): every record; outdated; verified; at risk.
qsizetype count(const AppModel &model, Cell cell);
// What the posture presenter reads of the model, counted the same way.
PostureSnapshot snapshot(const AppModel &model);
// The same from counts already taken.
qsizetype count(const LibraryFilters::Counts &counts, Cell cell);
PostureSnapshot snapshot(const AppModel &model, const LibraryFilters::Counts &counts);

// The chip's tone icon and the tone's word, and "<tone word>. <title>", as
// the menu-bar panel has them.
using PosturePresenter::toneSymbol;
using PosturePresenter::toneWord;
inline QString chipAccessibleLabel(const PosturePresentation &posture)
{
    return PosturePresenter::accessibleLabel(posture);
}

} // namespace StatusBarRules
