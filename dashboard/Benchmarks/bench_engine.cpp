#include "Benchmark.h"

#include "engine/VARNOProcess.h"
#include "platform/VarnoPaths.h"
#include "records/AppRecord.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <cstdio>
#include <optional>

namespace {

// Drives a task to its end on the event loop.
template<typename T>
T awaitTask(QCoro::Task<T> task)
{
    std::optional<T> result;
    QEventLoop loop;
    auto driver = [&]() -> QCoro::Task<void> {
        result.emplace(co_await std::move(task));
        loop.quit();
    };
    auto running = driver();
    if (!result)
        loop.exec();
    return std::move(*result);
}

// --- Runner overhead: VARNOProcess::run against a bare QProcess ----------

void runnerOverhead()
{
    // A shell "engine" keeps interpreter start-up small, so that what is
    // measured is the runner's own share.
    VARNOProcess::setPython3OverrideForTesting(QStringLiteral("/bin/sh"));
    QDir().mkpath(VarnoPaths::engineDir());
    QFile script(VarnoPaths::engineScript());
    if (!script.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    script.write("head -c \"$4\" /dev/zero\n");
    script.close();

    struct Size {
        const char *label;
        qint64 bytes;
        int rounds;
    };
    for (const Size &size : {Size{"0 B", 0, 60}, Size{"1 MiB", 1 << 20, 40}, Size{"10 MiB", 10 << 20, 15}}) {
        const QStringList arguments{QStringLiteral("bench"), QString::number(size.bytes)};
        qint64 ours = 0;
        qint64 bare = 0;
        const Bench::Pair pair = Bench::compare(
            size.rounds, [&] { ours = awaitTask(VARNOProcess::run(arguments, 120)).size(); },
            [&] {
                QProcess process;
                process.setProgram(QStringLiteral("/bin/sh"));
                process.setArguments(QStringList{VarnoPaths::engineScript(),
                                                 QStringLiteral("--engine-contract-version"), QStringLiteral("1")}
                                     + arguments);
                process.setWorkingDirectory(VarnoPaths::engineDir());
                QByteArray out;
                QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                                 [&] { out += process.readAllStandardOutput(); });
                process.start();
                process.waitForFinished(-1);
                out += process.readAllStandardOutput();
                bare = out.size();
            });
        if (ours != size.bytes || bare != size.bytes)
            std::printf("   (unexpected sizes: %lld / %lld)\n", static_cast<long long>(ours),
                        static_cast<long long>(bare));
        Bench::report(QStringLiteral("run() vs bare QProcess, %1").arg(QLatin1String(size.label)), pair);
    }
    VARNOProcess::setPython3OverrideForTesting(std::nullopt);
}

// --- Library decode: AppRecord list + predicates against fromJson alone ---

} // namespace

QByteArray Bench::libraryJson(int count)
{
    QJsonArray apps;
    const QStringList mechanisms{QStringLiteral("cask"),
                                 QStringLiteral("mas"),
                                 QStringLiteral("sparkle"),
                                 QStringLiteral("vendor_self_update"),
                                 QStringLiteral("sparkle_internal"),
                                 QStringLiteral("unknown")};
    const QStringList statuses{QStringLiteral("current"), QStringLiteral("outdated"), QString(),
                               QStringLiteral("unmeasured"), QStringLiteral("catalog_stale")};
    for (int i = 0; i < count; ++i) {
        QJsonObject app;
        app.insert(QStringLiteral("bundle_id"), QStringLiteral("org.bench.app%1").arg(i));
        app.insert(QStringLiteral("app_name"), QStringLiteral("Benchmark Application %1").arg(i));
        app.insert(QStringLiteral("current_version"), QStringLiteral("%1.%2.%3").arg(i % 7).arg(i % 13).arg(i % 5));
        app.insert(QStringLiteral("latest_version"), QStringLiteral("%1.%2.%3").arg(i % 7).arg(i % 11).arg(i % 9));
        app.insert(QStringLiteral("update_mechanism"), mechanisms.at(i % mechanisms.size()));
        app.insert(QStringLiteral("cask_token"), QStringLiteral("benchmark-application-%1").arg(i));
        app.insert(QStringLiteral("cask_match_confidence"), QStringLiteral("high"));
        app.insert(QStringLiteral("last_updated"), QStringLiteral("2026-11-20T08:41:07Z"));
        app.insert(QStringLiteral("last_sha256"),
                   QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08"));
        app.insert(QStringLiteral("last_cdn_domain"), QStringLiteral("downloads.app%1.example").arg(i));
        app.insert(QStringLiteral("last_team_id"), QStringLiteral("TEAM%1").arg(i % 97, 6, 10, QLatin1Char('0')));
        app.insert(QStringLiteral("last_update_source"), QStringLiteral("cask"));
        app.insert(QStringLiteral("update_count"), i % 17);
        app.insert(QStringLiteral("community_sha256_count"), i % 9);
        app.insert(QStringLiteral("version_first_seen"), QStringLiteral("2026-10-02T18:15:44Z"));
        app.insert(QStringLiteral("risk_score"), i % 100);
        app.insert(QStringLiteral("risk_tier"), i % 31 == 0 ? QStringLiteral("High") : QStringLiteral("low"));
        app.insert(QStringLiteral("install_path"), QStringLiteral("/Applications/Benchmark Application %1.app").arg(i));
        app.insert(QStringLiteral("user_ignored"), i % 40 == 0 ? 1 : 0);
        app.insert(QStringLiteral("update_mode"), QStringLiteral("auto"));
        app.insert(QStringLiteral("self_managed"), i % 6 == 3);
        app.insert(QStringLiteral("vendor_self_update"), i % 6 == 3);
        app.insert(QStringLiteral("can_trigger_self_update"), false);
        app.insert(QStringLiteral("green_seal"), i % 3 == 0);
        app.insert(QStringLiteral("verified_path"), i % 2 == 0);
        if (i % 10 == 0) {
            app.insert(QStringLiteral("last_incident_code"), QStringLiteral("NETWORK_TIMEOUT"));
            app.insert(QStringLiteral("last_incident_kind"), QStringLiteral("failed"));
            app.insert(QStringLiteral("last_incident_at"), QStringLiteral("2026-11-21T10:00:00Z"));
        }
        app.insert(QStringLiteral("latest_source"), QStringLiteral("homebrew_cask"));
        const QString status = statuses.at(i % statuses.size());
        if (!status.isEmpty())
            app.insert(QStringLiteral("version_check_status"), status);
        apps.append(app);
    }
    return QJsonDocument(apps).toJson(QJsonDocument::Compact);
}

namespace {

void libraryDecode()
{
    const QByteArray json = Bench::libraryJson(3000);
    std::printf("   library of 3000 apps, %.2f MB, into the same QList<AppRecord> on both sides:\n"
                "   ours: AppRecord::decodeList, one pass over the bytes, no document;\n"
                "   baseline: QJsonDocument::fromJson, then AppRecord::fromJson per element\n",
                json.size() / 1e6);
    qsizetype sink = 0;
    const auto viaDocument = [&] {
        const auto apps = AppRecord::listFromJson(QJsonDocument::fromJson(json).array());
        sink += apps ? apps->size() : -1;
    };
    Bench::report(QStringLiteral("decodeList vs QJsonDocument + fromJson"),
                  Bench::compare(
                      20,
                      [&] {
                          const auto apps = AppRecord::decodeList(json);
                          sink += apps ? apps->size() : -1;
                      },
                      viaDocument));
    // VARNO_BENCH_DETAIL=1: the record predicates the views ask, once per record.
    if (qEnvironmentVariableIsSet("VARNO_BENCH_DETAIL")) {
        const QList<AppRecord> apps = AppRecord::decodeList(json).value_or(QList<AppRecord>());
        Bench::report(QStringLiteral("  predicates over the records vs the decode"),
                      Bench::compare(
                          20,
                          [&] {
                              for (const AppRecord &app : apps) {
                                  sink += app.versionCheckStatus().size();
                                  sink += app.isOutdated() + app.isUnmeasured() + app.isUnknownStatus()
                                      + app.isCatalogStale() + app.isVerified() + int(app.statusColor());
                              }
                          },
                          [&] { sink += AppRecord::decodeList(json)->size(); }));
    }
    if (sink == 42)
        std::printf(" ");
}

const bool engineBenchmarksRegistered = Bench::add("engine runner", runnerOverhead)
    && Bench::add("library decode", libraryDecode);

} // namespace
