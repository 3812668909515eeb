#pragma once

#include "model/Tone.h"
#include "platform/Clock.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QString>

#include <optional>

// The four tones of the library's health summary; each shows as a Tone.
enum class PostureTone {
    green,
    orange,
    red,
    neutral,
};

// The library's state condensed into one status line with a tone.
struct PosturePresentation {
    QString title;
    std::optional<QString> detail; // only the Diagnostics variant sets it
    PostureTone tone = PostureTone::neutral;

    friend bool operator==(const PosturePresentation &, const PosturePresentation &) = default;
};

// What the posture lines read of the model: its error, whether a scan ever
// ran and when the last one was, and the sizes of the outdated, at-risk and
// not-fully-checked lists. `now` is the moment the recency texts count from.
struct PostureSnapshot {
    std::optional<QString> error;
    bool hasEverScanned = false;
    std::optional<QDateTime> lastScanDate;
    qsizetype outdatedCount = 0;
    qsizetype atRiskCount = 0;
    qsizetype sensingGapCount = 0; // not excluded, status unmeasured or unknown
    QDateTime now = Clock::now();
};

// Pure functions of their arguments.
namespace PosturePresenter {

// What a posture tone says: green good, orange caution, red risk, neutral
// neutral. The views colour it with the kit's token for that tone.
Tone tone(PostureTone posture);
// "Healthy", "Attention needed", "At risk", "Status unknown".
QString toneWord(PostureTone tone);
// The posture indicator's symbol for a tone.
QString toneSymbol(PostureTone tone);
// "<tone word>. <title>": how assistive technology hears a posture.
QString accessibleLabel(const PosturePresentation &posture);

// The menu-bar panel's header (no at-risk row).
PosturePresentation menuBar(const PostureSnapshot &model);
// The Workshop window's status strip (at risk is tested before outdated).
PosturePresentation statusBar(const PostureSnapshot &model);
// The Diagnostics sheet's posture block; healthReport and repairResult are
// the last health-check report and repair result, empty when there is none.
PosturePresentation diagnostics(const PostureSnapshot &model, const QString &healthReport, const QString &repairResult);
// The same, told by the sheet whether its last health check found a problem
// (see healthCheckFailed).
PosturePresentation diagnostics(const PostureSnapshot &model, bool healthFailed, const QString &repairResult);

// Whether a health check's text reports a problem: "fail" in any letter
// case, anywhere, except in a count of none ("0 failures", "0 failed").
bool healthReportShowsFailure(const QString &report);
// Whether a health check found a problem: `doctor` could not be started,
// exited with a status other than 0, or reported a problem in its text.
bool healthCheckFailed(const QString &report, bool ranCleanly);

// A version text for display: "?" when absent or empty; build suffixes
// (",…", "+abcdef…", "(abcdef…)", "[abcdef…]", "-gabcdef…" at the end)
// removed; blanks and tabs trimmed; past `limit` characters (user-perceived
// characters) shortened in the middle with "…". A text longer than a record
// field is shown (PlainText::forField) is cut to that first.
QString shortVersion(const std::optional<QString> &text, int limit);

// The build-suffix pattern behind shortVersion, compiled once.
const QRegularExpression &displayVersionPattern();

// "just now" or "<minutes>m ago"; the unknown text without a date.
QString scanRecency(const std::optional<QDateTime> &date, const QString &unknown, const QDateTime &now);
// "Brusk app check: just now", "…: <m>m ago" or, past 59 minutes, "…: <h>h ago".
QString scanSentence(const std::optional<QDateTime> &date, const QString &unknown, const QDateTime &now);

} // namespace PosturePresenter
