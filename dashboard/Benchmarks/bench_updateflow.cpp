// The update-run sheet during large runs: a fake engine streams a queue of
// 1,000, 4,000 and 8,000 apps (queue_start, then app_start and app_done for
// each; every tenth app fails, every seventeenth is skipped until the user
// approves it) through the model, with the sheet open, and the GUI thread's
// longest busy stretch is measured: as the fault matrix measures it (the
// thread's processor time between the ticks of a 5 ms timer), and as the
// longest gap between the ticks of a 1 ms heartbeat timer (wall time, which
// the machine's load lengthens). The same runs without the sheet give the
// baseline. A run's cost should grow with the number of apps, no faster:
// the time per app of each run is printed beside the 1,000-app run's. The
// same runs with the Workshop window and the menu-bar panel shown as well
// are printed for comparison: their cards redraw once per event (at the
// cost of the cards in view, whatever the queue's length), so their longest
// stretch is that cost times the events the engine wrote in one read.
//
//   varno_updateflow_benchmark [apps] [pause-us]
//       (default 1,000, 4,000 and 8,000 apps; 0 and 500 us between events)
//
// Runs offscreen in a temporary HOME; needs python3. Targets: longest stretch
// <= 33 ms at 8,000 apps; time per app within 1.5 x the 1,000-app figure.

#include "BusyMeter.h"

#include "engine/UpdateEvent.h"
#include "engine/VARNOProcess.h"
#include "kit/FontRegistry.h"
#include "menubar/MenuBarPanel.h"
#include "model/AppModel.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"
#include "sheets/UpdateFlowView.h"
#include "sheets/UpdateRowView.h"
#include "shell/WorkshopWindow.h"

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
    const QString script =
        QStringLiteral(
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
    double longestBusyMs = 0; // the GUI thread's processor time at a stretch
    qint64 longestBusyAt = 0; // model changes taken in by then
    double longestGapMs = 0;  // the heartbeat's longest gap, less its interval
    double streamSeconds = 0;
    qint64 events = 0;
    int refreshes = 0;
    int rowsBuilt = 0;
    int rows = 0;
    bool finished = false;
};

Result runOnce(int count, bool withSheet, bool withWindow = false)
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

    std::unique_ptr<WorkshopWindow> window;
    std::unique_ptr<MenuBarPanel> panel;
    if (withWindow) {
        window = std::make_unique<WorkshopWindow>(&model);
        window->resize(1100, 720);
        window->show();
        panel = std::make_unique<MenuBarPanel>(&model);
        panel->show();
        QCoreApplication::processEvents();
    }
    std::unique_ptr<UpdateFlowView> sheet;
    if (withSheet) {
        sheet = std::make_unique<UpdateFlowView>(&model);
        sheet->show();
        QCoreApplication::processEvents();
    }

    Result result;
    QElapsedTimer stream;
    bool started = false;
    VarnoTest::BusyMeter meter;
    meter.setMark([&result] { return result.events; });
    QObject::connect(&model, &AppModel::updateProgressChanged, &model, [&] {
        if (!started) {
            started = true;
            stream.start();
            meter.start();
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
    if (started)
        meter.stop();
    result.longestBusyMs = meter.longestBusyMsExact();
    result.longestBusyAt = meter.longestMark();
    result.longestGapMs = std::max(0.0, double(longest) / 1e6 - 1.0);
    if (sheet) {
        result.refreshes = sheet->refreshCount();
        result.rowsBuilt = sheet->rowsBuilt();
        result.rows = sheet->rowCount();
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
    std::printf("   opening %.2f ms, queue start %.2f ms, one app starts %.2f ms, one app done %.2f ms, "
                "library reloaded %.2f ms\n",
                openMs, queued, one, oneDone, reload);
}

double perApp(const Result &r, int count)
{
    return count > 0 ? r.streamSeconds / count * 1e6 : 0.0;
}

void report(const char *label, const Result &r, int count)
{
    std::printf("   %-22s busy at most %6.2f ms (at change %6lld of %6lld), heartbeat gap %6.2f ms;"
                " %7.3f s, %6.1f us per app",
                label, r.longestBusyMs, static_cast<long long>(r.longestBusyAt), static_cast<long long>(r.events),
                r.longestGapMs, r.streamSeconds, perApp(r, count));
    if (r.rows)
        std::printf("; sheet: %d redraws, %d rows, %d built, %s", r.refreshes, r.rows, r.rowsBuilt,
                    r.finished ? "finished" : "NOT finished");
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
    QList<int> counts{1000, 4000, 8000};
    if (argc > 1)
        counts = {std::max(1, QString::fromLocal8Bit(argv[1]).toInt())};
    QList<int> pauses{0, 500};
    if (argc > 2)
        pauses = {std::max(0, QString::fromLocal8Bit(argv[2]).toInt())};
    QDir().mkpath(VarnoPaths::engineDir());

    // Warm-up: fonts, symbols, icons.
    if (!writeEngine(300, 0)) {
        std::fprintf(stderr, "couldn't write the fake engine\n");
        return 1;
    }
    runOnce(300, true);

    for (const int count : counts) {
        std::printf("-- %d apps: one redraw of the open sheet after each kind of change\n", count);
        redraws(count);
    }
    for (const int pause : pauses) {
        std::printf("-- a queue streamed through the model, events %s (targets: busy at most 33 ms at 8000 apps;"
                    " time per app within 1.5 x the 1000-app figure)\n",
                    pause ? qPrintable(QStringLiteral("%1 us apart").arg(pause)) : "as fast as the engine writes");
        double firstPerApp = 0;
        int firstCount = 0;
        for (const int count : counts) {
            if (!writeEngine(count, pause)) {
                std::fprintf(stderr, "couldn't write the fake engine\n");
                return 1;
            }
            std::printf("   %d apps\n", count);
            report("without the sheet", runOnce(count, false), count);
            const Result with = runOnce(count, true);
            report("with the sheet open", with, count);
            report("and window and panel", runOnce(count, true, true), count);
            if (firstCount == 0) {
                firstCount = count;
                firstPerApp = perApp(with, count);
            } else if (firstPerApp > 0) {
                std::printf("   time per app with the sheet open: %.2f x the %d-app figure\n",
                            perApp(with, count) / firstPerApp, firstCount);
            }
        }
    }
    return 0;
}
