#include "services/SparkleUpdater.h"

#include "base/Logging.h"
#include "platform/ConsoleOut.h"
#include "platform/MainBundle.h"

#include <QTimer>

SparkleUpdater::SparkleUpdater(QObject *parent)
    : QObject(parent)
{
    const auto bundleIdentifier = MainBundle::infoString(QStringLiteral("CFBundleIdentifier"));
    if (!bundleIdentifier || bundleIdentifier->isEmpty())
        return;
    const QVariantMap info = MainBundle::infoDictionary();
    if (!info.contains(QStringLiteral("SUFeedURL")))
        return;
    m_updaterController = Updater::makeController(info.value(QStringLiteral("SUFeedURL")).toString());
    if (!m_updaterController)
        return;
    connect(m_updaterController.get(), &UpdaterController::canCheckForUpdatesChanged, this,
            &SparkleUpdater::setCanCheckForUpdates);
    // The controller's current answer counts at once, not only its changes.
    setCanCheckForUpdates(m_updaterController->canCheckForUpdates());
}

SparkleUpdater::~SparkleUpdater() = default;

namespace {

QPointer<SparkleUpdater> &sharedUpdater()
{
    static QPointer<SparkleUpdater> registered;
    return registered;
}

} // namespace

SparkleUpdater *SparkleUpdater::shared()
{
    return sharedUpdater().data();
}

void SparkleUpdater::setShared(SparkleUpdater *updater)
{
    sharedUpdater() = updater;
}

QString SparkleUpdater::noFeedMessage()
{
    return QStringLiteral("No update feed is configured for this build of VARNO.");
}

void SparkleUpdater::setCanCheckForUpdates(bool canCheck)
{
    if (m_canCheckForUpdates == canCheck)
        return;
    m_canCheckForUpdates = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}

void SparkleUpdater::startUpdater()
{
    if (!m_updaterController || m_started)
        return;
    // Once per process: a failed start is not retried either.
    m_started = true;
    if (const auto error = m_updaterController->start()) {
        ConsoleOut::writeLine(QStringLiteral("Sparkle updater failed to start: ") + *error);
        return;
    }
    // Bound to this object: when the updater is gone by then, nothing runs.
    QTimer::singleShot(m_backgroundCheckDelay, this, &SparkleUpdater::runBackgroundCheck);
}

void SparkleUpdater::runBackgroundCheck()
{
    if (!m_updaterController)
        return;
    if (m_updaterController->canCheckForUpdates()) {
        qCInfo(lcVarno, "startUpdater: background checkForUpdatesInBackground");
        m_updaterController->checkForUpdatesInBackground();
    } else {
        qCInfo(lcVarno, "startUpdater: background check skipped (canCheck=no)");
    }
}

void SparkleUpdater::checkForUpdates()
{
    Q_EMIT activationRequested();
    if (!m_updaterController) {
        qCInfo(lcVarno, "checkForUpdates: updaterController nil (Sparkle not initialized)");
        Q_EMIT updateCheckUnavailable(noFeedMessage());
        return;
    }
    qCInfo(lcVarno, "checkForUpdates: starting (canCheck=%s)", m_updaterController->canCheckForUpdates() ? "yes" : "no");
    m_updaterController->checkForUpdates();
}
