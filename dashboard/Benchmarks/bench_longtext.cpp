// A library record whose texts are megabytes long: how long the GUI thread is
// busy at a stretch while the views show it. One outdated app among a
// screenful of ordinary ones has a 9 MiB name (words of a few letters, so
// that wrapping has places to break) and a 128 KiB installed version, cask
// token, install path, Team ID and download domain; its last update failed
// with a code whose remedy names the app. Each step is measured with the
// fault matrix's instrument (the GUI thread's processor time between the
// ticks of a 5 ms timer):
//   - the library loaded from a fake engine (`list --json`) and applied with
//     the Workshop window (simple cards) and the menu-bar panel shown, then
//     applied again edited, then the details layout and back;
//   - a search keystroke that matches the app;
//   - the provenance drawer opened on the app;
//   - the update-run sheet opened, and the app's row through a run.
//
//   varno_longtext_benchmark [MiB]     (default 9: the name's size)
//
// Runs offscreen in a temporary HOME. Target: longest stretch <= 100 ms.

#include "BusyMeter.h"

#include "engine/UpdateEvent.h"
#include "kit/FontRegistry.h"
#include "menubar/MenuBarPanel.h"
#include "model/AppModel.h"
#include "platform/MainBundle.h"
#include "platform/VarnoPaths.h"
#include "sheets/UpdateFlowView.h"
#include "shell/WorkshopWindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace {

const QString longId = QStringLiteral("org.bench.long");

QString words(qsizetype characters, const QString &lead)
{
    static const QStringList pool{QStringLiteral("kettle"), QStringLiteral("loom"), QStringLiteral("ash"),
                                  QStringLiteral("brass"),  QStringLiteral("tin"),  QStringLiteral("wick")};
    QString text = lead;
    text.reserve(characters + 16);
    for (int i = 0; text.size() < characters; ++i)
        text += QLatin1Char(' ') + pool.at(i % pool.size());
    text.truncate(characters);
    return text;
}

QJsonArray libraryJson(qsizetype nameCharacters)
{
    QJsonArray apps;
    for (int i = 0; i < 24; ++i) {
        QJsonObject app;
        app.insert(QStringLiteral("bundle_id"), QStringLiteral("org.bench.app%1").arg(i));
        app.insert(QStringLiteral("app_name"), QStringLiteral("Benchmark Application %1").arg(i));
        app.insert(QStringLiteral("current_version"), QStringLiteral("1.%1").arg(i));
        app.insert(QStringLiteral("latest_version"), QStringLiteral("1.%1").arg(i + i % 2));
        app.insert(QStringLiteral("update_mechanism"), QStringLiteral("cask"));
        apps.append(app);
    }
    // The engine's output is capped at 10 MiB: the other texts take what the
    // name leaves.
    const qsizetype other = 131072;
    QJsonObject app;
    app.insert(QStringLiteral("bundle_id"), longId);
    app.insert(QStringLiteral("app_name"), words(nameCharacters, QStringLiteral("Pocketloom")));
    app.insert(QStringLiteral("current_version"), QStringLiteral("1.") + QString(other, QLatin1Char('7')));
    app.insert(QStringLiteral("latest_version"), QStringLiteral("9.0"));
    app.insert(QStringLiteral("update_mechanism"), QStringLiteral("cask"));
    app.insert(QStringLiteral("cask_token"), words(other, QStringLiteral("pocketloom")));
    app.insert(QStringLiteral("install_path"), QStringLiteral("/Applications/") + words(other, QStringLiteral("P")));
    app.insert(QStringLiteral("last_team_id"), QString(other, QLatin1Char('T')));
    app.insert(QStringLiteral("last_cdn_domain"), words(other, QStringLiteral("cdn")));
    app.insert(QStringLiteral("last_sha256"), QString(64, QLatin1Char('a')));
    app.insert(QStringLiteral("last_incident_code"), QStringLiteral("APP_RUNNING"));
    app.insert(QStringLiteral("last_incident_kind"), QStringLiteral("failed"));
    apps.insert(3, app);
    return apps;
}

QList<AppRecord> records(const QJsonArray &json)
{
    QList<AppRecord> apps;
    for (const QJsonValue &value : json) {
        if (const auto record = AppRecord::fromJson(value.toObject()))
            apps.append(*record);
    }
    return apps;
}

// A fake engine whose `list` prints the library; every other command
// answers nothing.
bool writeEngine(const QJsonArray &library)
{
    QDir().mkpath(VarnoPaths::engineDir());
    QFile list(QDir(VarnoPaths::engineDir()).filePath(QStringLiteral("library.json")));
    if (!list.open(QIODevice::WriteOnly) || list.write(QJsonDocument(library).toJson(QJsonDocument::Compact)) < 0)
        return false;
    list.close();
    QFile script(VarnoPaths::engineScript());
    return script.open(QIODevice::WriteOnly)
        && script.write("import os, sys\n"
                        "if 'list' in sys.argv[1:]:\n"
                        "    sys.stdout.write(open(os.path.join(os.path.dirname(os.path.abspath(__file__)),"
                        " 'library.json')).read())\n")
        > 0;
}

qint64 residentKb()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Runs the event loop for a while after a step, so that what the step posted
// (layouts, paints, measuring rows in the background) is done and measured.
void settle(int ms = 400)
{
    QElapsedTimer wall;
    wall.start();
    while (wall.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

double worst = 0;

void step(const char *name, const std::function<void()> &action)
{
    VarnoTest::BusyMeter meter;
    QElapsedTimer wall;
    wall.start();
    meter.start();
    action();
    settle();
    meter.stop();
    worst = std::max(worst, meter.longestBusyMsExact());
    std::printf("   %-52s longest stretch %8.1f ms   (longest gap %5lld ms, resident %7lld kB)\n", name,
                meter.longestBusyMsExact(), static_cast<long long>(meter.longestGapMs()),
                static_cast<long long>(residentKb()));
    std::fflush(stdout);
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
    const double mib = argc > 1 ? std::max(0.01, QString::fromLocal8Bit(argv[1]).toDouble()) : 9.0;
    const qsizetype nameCharacters = qsizetype(mib * 1048576);

    std::printf("-- one record with a %.2f MiB name and 128 KiB texts among 24 apps (target: longest stretch <= 100 ms)\n",
                mib);
    std::printf("   %-52s resident %7lld kB\n", "before", static_cast<long long>(residentKb()));
    const QJsonArray json = libraryJson(nameCharacters);
    const QList<AppRecord> apps = records(json);
    if (!writeEngine(json)) {
        std::fprintf(stderr, "couldn't write the fake engine\n");
        return 1;
    }

    AppModelServices services = AppModelServices::quiet();
    AppModel model(services);
    model.setShowOnboarding(false);
    model.setHasEverScanned(true);
    model.setDetailsMode(false);
    WorkshopWindow window(&model);
    window.resize(1100, 720);
    MenuBarPanel panel(&model);
    window.show();
    panel.show();
    settle();

    step("library loaded from the engine (simple cards, panel)", [&] {
        bool done = false;
        QEventLoop loop;
        auto drive = [&]() -> QCoro::Task<void> {
            co_await model.load();
            done = true;
            loop.quit();
        };
        auto task = drive();
        if (!done)
            loop.exec();
        if (model.apps().size() != apps.size())
            std::printf("   the library did not load: %s\n", qPrintable(model.error().value_or(QString())));
    });
    step("the same library applied again, edited", [&] {
        QList<AppRecord> edited = apps;
        edited[3].app_name += QStringLiteral(" (edited)");
        model.setApps(edited);
    });
    step("the library as loaded", [&] { model.setApps(apps); });
    step("search keystroke matching the app", [&] { window.searchField()->setText(QStringLiteral("pocket")); });
    step("search cleared", [&] { window.searchField()->clear(); });
    step("details layout", [&] { model.setDetailsMode(true); });
    step("back to cards", [&] { model.setDetailsMode(false); });
    step("provenance drawer opened on the app", [&] {
        for (const AppRecord &record : apps) {
            if (record.bundle_id == longId)
                window.setShowProvenance(record);
        }
    });
    step("drawer closed", [&] { window.setShowProvenance(std::nullopt); });

    std::unique_ptr<UpdateFlowView> sheet;
    step("update-run sheet opened", [&] {
        sheet = std::make_unique<UpdateFlowView>(&model);
        sheet->show();
    });
    UpdateEvent::QueueStart start;
    for (const AppRecord &record : apps)
        start.apps.append(
            UpdateEvent::QueuedApp{record.bundle_id, record.app_name, std::nullopt, std::nullopt, std::nullopt});
    start.count = start.apps.size();
    step("queue started", [&] { model.handleUpdateEvent(UpdateEvent(start)); });
    step("the app runs", [&] {
        model.handleUpdateEvent(UpdateEvent(UpdateEvent::AppStart{longId, 4, start.count, QStringLiteral("installing")}));
    });
    step("the app fails", [&] {
        UpdateEvent::AppDone done;
        done.bundleId = longId;
        done.success = false;
        done.error = QStringLiteral("Quit ") + apps.at(3).app_name + QStringLiteral(" first.");
        done.errorCode = QStringLiteral("APP_RUNNING");
        model.handleUpdateEvent(UpdateEvent(done));
    });
    step("sheet closed", [&] { sheet.reset(); });
    std::printf("   longest stretch of all steps %.1f ms, target <= 100 ms\n", worst);
    return 0;
}
