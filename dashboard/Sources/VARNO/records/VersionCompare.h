#pragma once

#include <QList>
#include <QString>

// The three-valued result of an ordering.
enum class ComparisonResult {
    orderedAscending = -1,
    orderedSame = 0,
    orderedDescending = 1,
};

// Orders two version texts as the engine and the apps report them ("1.2.10",
// "4.0 (1234)", "3.0+build7", "2024.01"). Purely numeric: letters, pre-release
// tags and build suffixes carry no weight, so 1.0b3, 1.0-beta and 1.0 are equal.
// Callers pass the installed version first and treat orderedAscending as
// "outdated".
class VersionCompare {
public:
    VersionCompare() = delete;

    static ComparisonResult compare(const QString &a, const QString &b);

private:
    friend class TestVersionCompare;

    // The text's non-negative integer components, one per piece between the
    // separators ".", "-" and "_" (empty pieces count, as 0).
    static QList<qint64> versionTuple(const QString &text);
};
