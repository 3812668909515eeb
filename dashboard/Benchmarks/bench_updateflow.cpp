// The update-run sheet during a large run: a fake engine streams a queue of
// 300 apps (queue_start, then app_start and app_done for each) through the
// model, with the sheet open, and the GUI thread's longest busy stretch is
// measured with a 1 ms heartbeat timer (the longest gap between two of its
// ticks, less the interval). The same run without the sheet gives the
// baseline.
//
//   varno_updateflow_benchmark [apps] [pause-us]   (default 300 apps; 0 and 500 us between events)
//
// Runs offscreen in a temporary HOME; needs python3.

#include "engine/UpdateEvent.h"
#include "engine/VARNOProcess.h"
#include "kit/FontRegistry.h"
#include "model/AppModel.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"
#include "sheets/UpdateFlowView.h"
#include "sheets/UpdateRowView.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

AppModelServices quietServices()
{
    AppModelServices s = AppModelServices::quiet();
    s.openApplication = [](const QString &) {};
    s.activateApplication = [] {};
    s.trustSeal = [](QString) -> QCoro::Task<TrustSealRecord> { co_return TrustSealRecord(); };
    return s;
}

QJsonArray libraryJson(int count, bool outdated)
{
    const QStringList mechanisms{QStringLiteral("cask"), QStringLiteral("mas"), QStringLiteral("sparkle"),
                                 QStringLiteral("vendor_self_update")};
    QJsonArray apps;
    for (int i = 0; i < count; ++i) {
        QJsonObject app;
        app.insert(QStringLiteral("bundle_id"), QStringLiteral("org.bench.app%1").arg(i));
        app.insert(QStringLiteral("app_name"), QStringLiteral("Benchmark Application %1").arg(i));
        app.insert(QStringLiteral("current_version"), outdated ? QStringLiteral("1.0") : QStringLiteral("2.0"));
        app.insert(QStringLiteral("latest_version"), QStringLiteral("2.0"));
        app.insert(QStringLiteral("update_mechanism"), mechanisms.at(i % mechanisms.size()));
        app.insert(QStringLiteral("cask_token"), QStringLiteral("bench-app-%1").arg(i));
        apps.append(app);
    }
    return apps;
}

// A fake engine: `update` streams the queue on standard error, one event per
// line, `pause` microseconds apart (every tenth app fails, every
// seventeenth is skipped); `list` prints the library as it is afterwards.
bool writeEngine(int count, int pauseMicroseconds)
{
    const QByteArray after = QJsonDocument(libraryJson(count, false)).toJson(QJsonDocument::Compact);
    QFile library(QDir(VarnoPaths::engineDir()).filePath(QStringLiteral("after.json")));
    if (!library.open(QIODevice::WriteOnly) || library.write(after) < 0)
        return false;
    library.close();
    const QString script = QStringLiteral(
        "import json, os, sys, time\n"
        "count = %1\n"
        "pause = %2 / 1e6\n"
        "args = sys.argv[1:]\n"
        "if 'list' in args:\n"
        "    sys.stdout.write(open(os.path.join(os.path.dirname(os.path.abspath(__file__)), 'after.json')).read())\n"
        "    sys.exit(0)\n"
        "if 'update' not in args:\n"
        "    sys.exit(0)\n"
        "def emit(obj):\n"
        "    os.write(2, (json.dumps(obj) + '\\n').encode())\n"
        "    if pause:\n"
        "        time.sleep(pause)\n"
        "ids = ['org.bench.app%d' % i for i in range(count)]\n"
        "emit({'event': 'queue_start', 'count': count, 'apps': [{'bundle_id': b, 'app_name': b} for b in ids]})\n"
        "for i, b in enumerate(ids):\n"
        "    emit({'event': 'app_start', 'bundle_id': b, 'index': i + 1, 'total': count, 'status': 'installing'})\n"
        "    if i % 10 == 9:\n"
        "        emit({'event': 'app_done', 'bundle_id': b, 'success': False, 'skipped': False,\n"
        "              'error': 'The download timed out.', 'error_code': 'NETWORK_TIMEOUT'})\n"
        "    elif i % 17 == 16:\n"
        "        emit({'event': 'app_done', 'bundle_id': b, 'success': False, 'skipped': True,\n"
        "              'error': 'Waiting for your OK.', 'error_code': 'UPDATE_MODE_ASK_HEADLESS'})\n"
        "    else:\n"
        "        emit({'event': 'app_done', 'bundle_id': b, 'success': True, 'skipped': False, 'new_version': '2.0'})\n"
        "emit({'event': 'queue_done', 'updated': count, 'failed': 0, 'skipped': 0})\n")
                               .arg(count)
                               .arg(pauseMicroseconds);
    QFile file(VarnoPaths::engineScript());
    if (!file.open(QIODevice::WriteOnly) || file.write(script.toUtf8()) < 0)
        return false;
    return true;
}

struct Result {
    double longestStretchMs = 0;
    double streamSeconds = 0;
    qint64 events = 0;
    int refreshes = 0;
    int rows = 0;
    bool finished = false;
};

Result runOnce(int count, bool withSheet)
{
    AppModel model(quietServices());
    model.setShowOnboarding(false);
    model.setHasEverScanned(true);
    QList<AppRecord> apps;
    for (const QJsonValue &value : libraryJson(count, true)) {
        if (const auto record = AppRecord::fromJson(value.toObject()))
            apps.append(*record);
    }
    model.setApps(apps);

    std::unique_ptr<UpdateFlowView> sheet;
    if (withSheet) {
        sheet = std::make_unique<UpdateFlowView>(&model);
        sheet->show();
        QCoreApplication::processEvents();
    }

    Result result;
    QElapsedTimer stream;
    bool started = false;
    QObject::connect(&model, &AppModel::updateProgressChanged, &model, [&] {
        if (!started) {
            started = true;
            stream.start();
        }
        ++result.events;
        result.streamSeconds = double(stream.nsecsElapsed()) / 1e9;
    });

    // The heartbeat: the longest time the event loop could not serve it.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    heartbeat.setInterval(1);
    QObject::connect(&heartbeat, &QTimer::timeout, &heartbeat, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (started)
            longest = std::max(longest, now - last);
        last = now;
    });
    heartbeat.start();

    bool done = false;
    QEventLoop loop;
    auto drive = [&]() -> QCoro::Task<void> {
        co_await model.updateAll();
        done = true;
        loop.quit();
    };
    auto task = drive();
    if (!done)
        loop.exec();
    // Whatever the last events posted is drawn too.
    QCoreApplication::processEvents();
    heartbeat.stop();
    result.longestStretchMs = std::max(0.0, double(longest) / 1e6 - 1.0);
    if (sheet) {
        result.refreshes = sheet->refreshCount();
        result.rows = int(sheet->rows().size());
        result.finished = sheet->allTerminal();
    }
    return result;
}

// One redraw of the open sheet after each kind of change, timed alone.
void redraws(int count)
{
    AppModel model(quietServices());
    QList<AppRecord> apps;
    for (const QJsonValue &value : libraryJson(count, true)) {
        if (const auto record = AppRecord::fromJson(value.toObject()))
            apps.append(*record);
    }
    model.setApps(apps);
    QElapsedTimer open;
    open.start();
    UpdateFlowView sheet(&model);
    sheet.show();
    QCoreApplication::processEvents();
    const double openMs = double(open.nsecsElapsed()) / 1e6;
    const auto timed = [&](const std::function<void()> &change) {
        change();
        QElapsedTimer timer;
        timer.start();
        sheet.refresh();
        QCoreApplication::processEvents(); // layout and paint
        return double(timer.nsecsElapsed()) / 1e6;
    };
    UpdateEvent::QueueStart start;
    for (const AppRecord &app : apps)
        start.apps.append(UpdateEvent::QueuedApp{app.bundle_id, app.app_name, std::nullopt, std::nullopt, std::nullopt});
    start.count = start.apps.size();
    const double queued = timed([&] { model.handleUpdateEvent(UpdateEvent(start)); });
    const double one = timed([&] {
        model.handleUpdateEvent(UpdateEvent(UpdateEvent::AppStart{apps.at(count / 2).bundle_id, 1, count, "installing"}));
    });
    UpdateEvent::AppDone done;
    done.bundleId = apps.at(count / 2).bundle_id;
    done.success = true;
    const double oneDone = timed([&] { model.handleUpdateEvent(UpdateEvent(done)); });
    QList<AppRecord> after;
    for (const QJsonValue &value : libraryJson(count, false)) {
        if (const auto record = AppRecord::fromJson(value.toObject()))
            after.append(*record);
    }
    const double reload = timed([&] { model.setApps(after); });
    std::printf("   redraw alone: opening %.2f ms, queue start %.2f ms, one app starts %.2f ms, one app done %.2f ms, "
                "library reloaded %.2f ms\n",
                openMs, queued, one, oneDone, reload);
}

void report(const char *label, const Result &r)
{
    std::printf("   %-24s longest GUI stretch %7.2f ms   %6lld model changes in %6.3f s: %8.0f events/s", label,
                r.longestStretchMs, static_cast<long long>(r.events), r.streamSeconds,
                r.streamSeconds > 0 ? double(r.events) / r.streamSeconds : 0.0);
    if (r.rows)
        std::printf("   sheet: %d redraws, %d rows, %s", r.refreshes, r.rows, r.finished ? "finished" : "NOT finished");
    std::printf("\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("VARNO_SETTINGS_FILE", QFile::encodeName(home.filePath(QStringLiteral("settings.ini"))));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    MainBundle::setPathOverride(QStringLiteral(VARNO_BUNDLE_DIR));
    FontRegistry::registerBundledFonts();
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 300;
    QList<int> pauses{0, 500};
    if (argc > 2)
        pauses = {std::max(0, QString::fromLocal8Bit(argv[2]).toInt())};
    QDir().mkpath(VarnoPaths::engineDir());

    std::printf("-- update-run sheet: a %d-app queue streamed through the model (target: longest stretch <= 16 ms)\n",
                count);
    redraws(count);
    for (const int pause : pauses) {
        if (!writeEngine(count, pause)) {
            std::fprintf(stderr, "couldn't write the fake engine\n");
            return 1;
        }
        std::printf("   events %s\n", pause ? qPrintable(QStringLiteral("%1 us apart").arg(pause)) : "as fast as the engine writes");
        runOnce(count, true); // warm-up: fonts, symbols, icons
        report("without the sheet", runOnce(count, false));
        report("with the sheet open", runOnce(count, true));
    }
    return 0;
}
