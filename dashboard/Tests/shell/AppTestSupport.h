#pragma once

#include "TestSupport.h"

#include "engine/CLIBootstrap.h"
#include "model/AppModel.h"
#include "records/AppRecord.h"
#include "shell/AppDelegate.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QThread>

#include <qcoro/qcorotimer.h>

#include <memory>
#include <stdexcept>

namespace AppTest {

inline QCoro::Task<MacOSUpdateStatus> noSoftwareUpdate(double)
{
    co_return MacOSUpdateStatus::unavailable();
}

// Probes and notifications of the model that touch nothing.
inline AppModelServices quietServices()
{
    AppModelServices s;
    s.detectOpenCore = [](double) { return false; };
    s.checkBrew = [](double) { return MechanismHealth::unknown(); };
    s.checkMas = [](double) { return MechanismHealth::unknown(); };
    s.checkSoftwareUpdate = &noSoftwareUpdate;
    s.notifyUpdates = [](int, const QStringList &) {};
    s.revealFile = [](const QString &) {};
    return s;
}

inline AppRecord record(const QString &bundleId, const QByteArray &extraJson = QByteArray())
{
    QByteArray json = "{\"bundle_id\":\"" + bundleId.toUtf8() + "\",\"app_name\":\"" + bundleId.toUtf8() + "\"";
    if (!extraJson.isEmpty())
        json += "," + extraJson;
    json += "}";
    const auto decoded = AppRecord::fromJson(QJsonDocument::fromJson(json).object());
    if (!decoded)
        qFatal("test record does not decode: %s", json.constData());
    return *decoded;
}

inline QList<AppRecord> records(int count)
{
    QList<AppRecord> list;
    for (int i = 0; i < count; ++i)
        list.append(record(QStringLiteral("org.example.app%1").arg(i)));
    return list;
}

// A launch environment in which every step writes a line to `journal`.
struct RecordingLaunch {
    QStringList journal;
    QStringList availableIcons; // names that yield an image
    bool agentThrows = false;
    bool launchAtLogin = false;
    SMAppService::Status loginStatus = SMAppService::Status::notRegistered;
    std::exception_ptr bootstrapFailure; // thrown by the bootstrap when set
    int libraryAfterLoad = 0;            // records the load puts into the model
    bool canCheck = true;
    AppModel *model = nullptr;
    bool realFailureLog = false; // write bootstrap.err like the app does

    QCoro::Task<void> bootstrap()
    {
        journal.append(QStringLiteral("bootstrap preparing=%1").arg(model && model->isPreparing()));
        // Off the GUI thread in the app: the launch sequence must not wait for it.
        co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        if (bootstrapFailure)
            std::rethrow_exception(bootstrapFailure);
    }

    QCoro::Task<void> load()
    {
        journal.append(QStringLiteral("load preparing=%1").arg(model && model->isPreparing()));
        co_await QCoro::sleepFor(std::chrono::milliseconds(1));
        if (model)
            model->setApps(records(libraryAfterLoad));
    }

    QCoro::Task<void> scan()
    {
        journal.append(QStringLiteral("scan"));
        co_return;
    }

    QCoro::Task<void> backgroundCheck()
    {
        journal.append(QStringLiteral("backgroundCheck"));
        co_return;
    }

    LaunchEnvironment environment()
    {
        LaunchEnvironment env;
        env.image = [this](const QString &name) -> std::optional<QImage> {
            journal.append(QStringLiteral("image ") + name);
            if (!availableIcons.contains(name))
                return std::nullopt;
            QImage image(4, 4, QImage::Format_ARGB32);
            image.fill(Qt::red);
            image.setText(QStringLiteral("name"), name);
            return image;
        };
        env.setApplicationIcon = [this](const QImage &icon) {
            journal.append(QStringLiteral("setIcon ") + icon.text(QStringLiteral("name")));
        };
        env.installLaunchAgent = [this] {
            // The service manager may be slow to answer: never on the GUI thread.
            const bool onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
            journal.append(onGuiThread ? QStringLiteral("installAgent on the GUI thread")
                                       : QStringLiteral("installAgent"));
            if (agentThrows)
                throw std::runtime_error("Could not register scan agent: denied");
        };
        env.launchAtLoginPreference = [this] {
            journal.append(QStringLiteral("launchAtLogin?"));
            return launchAtLogin;
        };
        env.loginItemStatus = [this] {
            journal.append(QStringLiteral("loginStatus?"));
            return loginStatus;
        };
        env.setLoginItem = [this](bool enabled) { journal.append(QStringLiteral("setLoginItem %1").arg(enabled)); };
        env.startUpdater = [this] { journal.append(QStringLiteral("startUpdater")); };
        env.canCheckForUpdates = [this] { return canCheck; };
        env.checkForUpdates = [this] { journal.append(QStringLiteral("checkForUpdates")); };
        env.bootstrapEngine = [this] { return bootstrap(); };
        env.logBootstrapFailure = [this](std::exception_ptr error) {
            journal.append(QStringLiteral("logBootstrapFailure"));
            if (realFailureLog)
                CLIBootstrap::logBootstrapFailure(error);
        };
        env.load = [this] { return load(); };
        env.scan = [this] { return scan(); };
        env.checkForBackgroundScanResults = [this] { return backgroundCheck(); };
        env.requestNotificationPermission = [this] { journal.append(QStringLiteral("permission")); };
        env.activate = [this] { journal.append(QStringLiteral("activate")); };
        return env;
    }
};

} // namespace AppTest
