#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <optional>
#include <utility>

// An ESE is one installed system extension, of the kinds that can get in the
// way of updates (endpoint-security agents, network filters, driver
// extensions), as `systemextensionsctl list` reports it.
struct ESE {
    enum class Category { networkFilter, endpointSecurity, driverExtension, unknown };

    QString bundleId;
    QString teamId; // exactly 10 letters or digits
    QString name;
    QString version; // inside the last parentheses of the bundle column; may be empty
    QString state;   // the state column without its brackets; may be empty
    Category category = Category::unknown;

    // "networkFilter", "endpointSecurity", "driverExtension", "unknown"
    static QString categoryName(Category category);
    static std::optional<Category> categoryFromName(const QString &name);

    // Keys "bundleId", "teamId", "name", "version", "state", "category".
    QJsonObject toJson() const;
    // Nothing when a key is missing or not text, or the category is unknown text.
    static std::optional<ESE> fromJson(const QJsonObject &object);

    friend bool operator==(const ESE &, const ESE &) = default;
};

size_t qHash(const ESE &ese, size_t seed = 0);

Q_DECLARE_METATYPE(ESE)

// Lists the system extensions that can get in the way of updating apps
// (network filters, endpoint-security agents, driver extensions).
class ESEProbe {
public:
    static const QString toolPath; // "/usr/bin/systemextensionsctl"

    // Runs the tool without blocking the calling thread, parses its listing,
    // and remembers the list and the time as lastResult() and lastRun(). An
    // absent or failing tool yields an empty list.
    static QCoro::Task<QList<ESE>> probe();

    static QList<ESE> parse(const QString &output);

    static QList<ESE> lastResult();
    static std::optional<QDateTime> lastRun();

    // The tool answers at once; one that hangs is ended after this long
    // (30 s; tests shorten it).
    static std::chrono::milliseconds toolTimeout();
    static void setToolTimeout(std::chrono::milliseconds timeout);

private:
    // The tool's standard output; empty text on any failure.
    static QCoro::Task<QString> runTool(QString path, QStringList args);
    static std::pair<QString, QString> splitBundleAndVersion(const QString &text);
    static ESE::Category classify(const QString &bundleId, const QString &categoryLine);
};

// Whether the app holds Full Disk Access: it can list a folder that only such
// apps may read. Where the folder does not exist (every Linux system), nothing
// is withheld and the answer is true.
class TCCStatus {
public:
    static bool hasFullDiskAccess();
    // Whether the receipts folder is there at all (a link to it counts);
    // where it isn't, hasFullDiskAccess() answers true with nothing to read.
    static bool receiptsFolderExists();

    static QString receiptsPath(); // "/private/var/db/receipts"
    // Tests point the check at a folder of their own; nothing restores the real one.
    static void setReceiptsPathOverride(std::optional<QString> path);
};
