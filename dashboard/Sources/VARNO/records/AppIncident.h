#pragma once

#include "records/AppRecord.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

// The last failed or skipped update of one application: the engine's incident
// code ("UNKNOWN" when it gave none), whether the update failed or was
// skipped, and when (as the engine wrote it; never parsed). Incidents that the
// update stream creates have no time.
struct AppIncident {
    enum class Kind {
        failed,
        skipped,
    };

    QString code;
    Kind kind = Kind::failed;
    std::optional<QString> at;

    // "failed" and "skipped" exactly (case-sensitive, nothing trimmed); any
    // other text gives no kind.
    static std::optional<Kind> kindFromRawValue(const QString &rawValue);
    static QString rawValue(Kind kind);

    // One incident per bundle id, from the records' last_incident_* fields; a
    // record without a recognised kind contributes nothing, and a later record
    // of the same bundle id replaces an earlier entry.
    static QHash<QString, AppIncident> from(const QList<AppRecord> &records);

    bool operator==(const AppIncident &other) const = default;
};
