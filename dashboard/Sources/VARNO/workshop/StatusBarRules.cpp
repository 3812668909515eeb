#include "workshop/StatusBarRules.h"

#include "kit/VarnoColor.h"
#include "model/AppModel.h"
#include "workshop/LibraryFilters.h"

#include <QStringList>

namespace StatusBarRules {

namespace {

const QString &verifiedSentence()
{
    static const QString text = QStringLiteral("Verified means VARNO has local provenance evidence for the app's update "
                                               "path (checksum and Team ID) and an independent version check completed.");
    return text;
}

const QString &atRiskSentence()
{
    static const QString text = QStringLiteral("At Risk highlights apps VARNO believes need urgent attention.");
    return text;
}

} // namespace

const QList<Cell> &cells()
{
    static const QList<Cell> list{Cell::tracked, Cell::outdated, Cell::verified, Cell::atRisk};
    return list;
}

QString label(Cell cell)
{
    switch (cell) {
    case Cell::tracked:
        return QStringLiteral("TRACKED");
    case Cell::outdated:
        return QStringLiteral("OUTDATED");
    case Cell::verified:
        return QStringLiteral("VERIFIED");
    case Cell::atRisk:
        return QStringLiteral("AT RISK");
    }
    return QString();
}

ColorPair valueColor(Cell cell)
{
    switch (cell) {
    case Cell::tracked:
        return VarnoColor::accent();
    case Cell::outdated:
        return VarnoColor::attention();
    case Cell::verified:
        return VarnoColor::success();
    case Cell::atRisk:
        return VarnoColor::dangerText();
    }
    return VarnoColor::textPrimary();
}

QString tooltip(const QString &label)
{
    if (label == QLatin1String("VERIFIED"))
        return verifiedSentence();
    if (label == QLatin1String("AT RISK"))
        return atRiskSentence();
    return label;
}

QString accessibleLabel(const QString &label, qsizetype value)
{
    QStringList words = label.split(QLatin1Char(' '));
    for (QString &word : words) {
        if (!word.isEmpty())
            word = word.left(1).toUpper() + word.mid(1).toLower();
    }
    return words.join(QLatin1Char(' ')) + QStringLiteral(": ") + QString::number(value);
}

qsizetype count(const AppModel &model, Cell cell)
{
    return count(LibraryFilters::counts(model), cell);
}

qsizetype count(const LibraryFilters::Counts &counts, Cell cell)
{
    switch (cell) {
    case Cell::tracked:
        return counts.all;
    case Cell::outdated:
        return counts.outdated;
    case Cell::verified:
        return counts.verified;
    case Cell::atRisk:
        return counts.atRisk;
    }
    return 0;
}

PostureSnapshot snapshot(const AppModel &model)
{
    // The model's own posture, as the menu-bar panel reads it.
    return model.postureSnapshot();
}

PostureSnapshot snapshot(const AppModel &model, const LibraryFilters::Counts &counts)
{
    PostureSnapshot s;
    s.error = model.error();
    s.hasEverScanned = model.hasEverScanned();
    s.lastScanDate = model.lastScanDate();
    s.outdatedCount = counts.outdated;
    s.atRiskCount = counts.atRisk;
    s.sensingGapCount = counts.sensingGap;
    return s;
}

} // namespace StatusBarRules
