#pragma once

#include "TestSupport.h"

#include "engine/VARNOProcess.h"
#include "model/AppModel.h"
#include "records/AppRecord.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

#include <atomic>
#include <memory>

// Probes and notifications that count and record instead of touching the
// system; results are settable.
struct FakeModelServices {
    std::atomic<int> openCoreCalls{0};
    std::atomic<int> brewCalls{0};
    std::atomic<int> masCalls{0};
    std::atomic<int> softwareUpdateCalls{0};
    std::atomic<bool> openCore{false};
    QList<std::pair<int, QStringList>> notifications;
    QStringList revealed;
    int activations = 0;

    AppModelServices services()
    {
        AppModelServices s;
        s.detectOpenCore = [this](double) {
            ++openCoreCalls;
            return openCore.load();
        };
        s.checkBrew = [this](double) {
            ++brewCalls;
            return MechanismHealth::healthy();
        };
        s.checkMas = [this](double) {
            ++masCalls;
            return MechanismHealth::unavailable(QStringLiteral("mas not found"));
        };
        s.checkSoftwareUpdate = [this](double) { return softwareUpdate(); };
        s.notifyUpdates = [this](int count, const QStringList &names) { notifications.append({count, names}); };
        s.revealFile = [this](const QString &path) { revealed.append(path); };
        s.activateApplication = [this] { ++activations; };
        return s;
    }

    QCoro::Task<MacOSUpdateStatus> softwareUpdate()
    {
        ++softwareUpdateCalls;
        co_return MacOSUpdateStatus::upToDate();
    }
};

// A fresh home with the engine stand-in installed and an instant simulated
// Mac; the model under test is built on fake probes.
class ModelFixture {
public:
    ModelFixture()
    {
        VARNOProcess::resetCachedValuesForTesting();
        ready = VarnoTest::prepareSimulatedMac();
        model = std::make_unique<AppModel>(fakes.services());
    }

    // Lets the work a load starts in the background (probes, trust seals)
    // end before the home folder goes away under it.
    ~ModelFixture()
    {
        VarnoTest::waitUntil([this] {
            return !model->isEnrichingSeals() && !model->isCheckingOpenCore() && !model->isCheckingMacOSUpdate()
                && !model->isCheckingMechanismHealth() && !model->isReadingScanHistory();
        });
        model.reset();
    }

    // Scans the simulated Mac directly, so that the library is filled.
    bool scanDirectly() { return VarnoTest::runEngine({QStringLiteral("scan")}).exitCode == 0; }

    bool setKnobs(const QByteArray &json)
    {
        return VarnoTest::runEngine(
                   {QStringLiteral("sim"), QStringLiteral("knobs"), QStringLiteral("set"), QString::fromUtf8(json)})
                   .exitCode
            == 0;
    }

    bool sim(const QStringList &arguments)
    {
        return VarnoTest::runEngine(QStringList{QStringLiteral("sim")} + arguments).exitCode == 0;
    }

    std::optional<AppRecord> app(const QString &bundleId) const
    {
        for (const AppRecord &record : model->apps()) {
            if (record.bundle_id == bundleId)
                return record;
        }
        return std::nullopt;
    }

    VarnoTest::TempHome home;
    FakeModelServices fakes;
    bool ready = false;
    std::unique_ptr<AppModel> model;
};

// What the simulated engine has been asked to do so far, one JSON line a call.
inline QByteArray engineJournal()
{
    return VarnoTest::runEngine({QStringLiteral("sim"), QStringLiteral("journal")}).standardOutput;
}

using VarnoTest::makeRecord;
