#include "model/PosturePresenter.h"

#include "platform/PlainText.h"

#include <QTextBoundaryFinder>

#include <cmath>

namespace {

// Whole minutes from date to now, truncated toward zero (negative for a date
// in the future).
qint64 minutesSince(const QDateTime &date, const QDateTime &now)
{
    return date.msecsTo(now) / 60000;
}

// Offsets of the user-perceived characters' boundaries, 0 and size() included.
QList<qsizetype> graphemeBoundaries(const QString &text)
{
    QList<qsizetype> boundaries;
    boundaries.append(0);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype next = finder.toNextBoundary(); next > 0; next = finder.toNextBoundary())
        boundaries.append(next);
    if (boundaries.last() != text.size())
        boundaries.append(text.size());
    return boundaries;
}

const QString kJustNowSentence = QStringLiteral("Brusk app check: just now");

} // namespace

namespace PosturePresenter {

Tone tone(PostureTone posture)
{
    switch (posture) {
    case PostureTone::green:
        return Tone::good;
    case PostureTone::orange:
        return Tone::caution;
    case PostureTone::red:
        return Tone::risk;
    case PostureTone::neutral:
        break;
    }
    return Tone::neutral;
}

PosturePresentation menuBar(const PostureSnapshot &model)
{
    if (model.error)
        return {QStringLiteral("status needs attention"), std::nullopt, PostureTone::red};
    if (!model.hasEverScanned)
        return {QStringLiteral("not scanned yet"), std::nullopt, PostureTone::neutral};
    if (model.outdatedCount > 0)
        return {scanRecency(model.lastScanDate, QStringLiteral("not scanned yet"), model.now), std::nullopt,
                PostureTone::orange};
    if (model.sensingGapCount > 0)
        return {QString::number(model.sensingGapCount) + QStringLiteral(" not fully checked"), std::nullopt,
                PostureTone::neutral};
    return {scanRecency(model.lastScanDate, QStringLiteral("status unknown"), model.now), std::nullopt,
            PostureTone::green};
}

PosturePresentation statusBar(const PostureSnapshot &model)
{
    if (model.error)
        return {QStringLiteral("Brusk needs inspection."), std::nullopt, PostureTone::red};
    if (!model.hasEverScanned)
        return {QStringLiteral("Brusk app check: not yet run"), std::nullopt, PostureTone::neutral};
    if (model.atRiskCount > 0)
        return {scanSentence(model.lastScanDate, kJustNowSentence, model.now), std::nullopt, PostureTone::red};
    if (model.outdatedCount > 0)
        return {scanSentence(model.lastScanDate, kJustNowSentence, model.now), std::nullopt, PostureTone::orange};
    if (model.sensingGapCount > 0)
        return {QString::number(model.sensingGapCount) + QStringLiteral(" not fully checked."), std::nullopt,
                PostureTone::neutral};
    return {scanSentence(model.lastScanDate, QStringLiteral("Scan status unknown."), model.now), std::nullopt,
            PostureTone::green};
}

PosturePresentation diagnostics(const PostureSnapshot &model, const QString &healthReport, const QString &repairResult)
{
    return diagnostics(model, healthReportShowsFailure(healthReport), repairResult);
}

bool healthReportShowsFailure(const QString &report)
{
    // A count of none ("0 failures", "0 failed checks") is a clean result.
    static const QRegularExpression noneFailed(QStringLiteral("(?<![0-9.])0\\s+fail[a-z]*"));
    QString text = report.toLower();
    text.remove(noneFailed);
    return text.contains(QStringLiteral("fail"));
}

bool healthCheckFailed(const QString &report, bool ranCleanly)
{
    return !ranCleanly || healthReportShowsFailure(report);
}

PosturePresentation diagnostics(const PostureSnapshot &model, bool healthFailed, const QString &repairResult)
{
    if (model.error)
        return {QStringLiteral("Diagnostics confirm a visible failure"),
                QStringLiteral("The UI already sees an error; use the actions below to gather and repair evidence."),
                PostureTone::red};
    if (!repairResult.isEmpty() && repairResult.toLower().contains(QStringLiteral("failed")))
        return {QStringLiteral("Repair attempt failed"),
                QStringLiteral("The bundled CLI could not be repaired automatically. The raw output below is the next "
                               "debugging step."),
                PostureTone::red};
    if (healthFailed)
        return {QStringLiteral("Health check found issues"),
                QStringLiteral("One or more local checks reported a problem. Review the report before trusting the "
                               "current library state."),
                PostureTone::orange};
    if (model.hasEverScanned)
        return {QStringLiteral("Diagnostics available"),
                QStringLiteral("This panel is the machine-level truth source when the interface and engine disagree."),
                PostureTone::green};
    return {QStringLiteral("No trusted baseline yet"),
            QStringLiteral("VARNO has not completed a trusted scan on this machine yet."), PostureTone::neutral};
}

const QRegularExpression &displayVersionPattern()
{
    // \s is Unicode white space, as in the rest of the app's text handling.
    static const QRegularExpression
        pattern(QStringLiteral(
                    "(?:,.*|\\+[0-9a-fA-F]{6,}|\\s*\\([0-9a-fA-F\\s]{6,}\\)|\\s*\\[[0-9a-fA-F]{6,}\\]|-g[0-9a-fA-F]{6,})$"),
                QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

QString shortVersion(const std::optional<QString> &text, int limit)
{
    if (!text || text->isEmpty())
        return QStringLiteral("?");
    QString version = PlainText::forField(*text);
    const QRegularExpressionMatch match = displayVersionPattern().match(version);
    if (match.hasMatch())
        version.remove(match.capturedStart(), match.capturedLength());
    version = PlainText::trimBlanks(version);

    const QList<qsizetype> boundaries = graphemeBoundaries(version);
    const qsizetype count = boundaries.size() - 1;
    if (count <= limit)
        return version;
    const int half = limit / 2;
    const qsizetype head = std::min<qsizetype>(limit > 9 ? half - 1 : 4, count);
    const qsizetype tail = std::min<qsizetype>(limit > 11 ? half - 2 : 4, count);
    return version.left(boundaries.at(head)) + QStringLiteral("…") + version.mid(boundaries.at(count - tail));
}

QString scanRecency(const std::optional<QDateTime> &date, const QString &unknown, const QDateTime &now)
{
    if (!date)
        return unknown;
    const qint64 minutes = minutesSince(*date, now);
    if (minutes < 1)
        return QStringLiteral("just now");
    return QString::number(minutes) + QStringLiteral("m ago");
}

QString scanSentence(const std::optional<QDateTime> &date, const QString &unknown, const QDateTime &now)
{
    if (!date)
        return unknown;
    const qint64 minutes = minutesSince(*date, now);
    if (minutes < 1)
        return kJustNowSentence;
    if (minutes > 59)
        return QStringLiteral("Brusk app check: ") + QString::number(minutes / 60) + QStringLiteral("h ago");
    return QStringLiteral("Brusk app check: ") + QString::number(minutes) + QStringLiteral("m ago");
}

QString toneWord(PostureTone tone)
{
    switch (tone) {
    case PostureTone::green:
        return QStringLiteral("Healthy");
    case PostureTone::orange:
        return QStringLiteral("Attention needed");
    case PostureTone::red:
        return QStringLiteral("At risk");
    case PostureTone::neutral:
        break;
    }
    return QStringLiteral("Status unknown");
}

QString toneSymbol(PostureTone tone)
{
    switch (tone) {
    case PostureTone::green:
        return QStringLiteral("checkmark.seal.fill");
    case PostureTone::orange:
        return QStringLiteral("exclamationmark.triangle.fill");
    case PostureTone::red:
        return QStringLiteral("exclamationmark.octagon.fill");
    case PostureTone::neutral:
        break;
    }
    return QStringLiteral("questionmark.circle");
}

QString accessibleLabel(const PosturePresentation &posture)
{
    return toneWord(posture.tone) + QStringLiteral(". ") + posture.title;
}

} // namespace PosturePresenter
