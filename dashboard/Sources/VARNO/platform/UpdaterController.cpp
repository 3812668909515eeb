#include "platform/UpdaterController.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex factoryMutex;
Updater::Factory currentFactory;

} // namespace

namespace Updater {

std::unique_ptr<UpdaterController> makeController(const QString &feedURL)
{
    Factory factory;
    {
        QMutexLocker lock(&factoryMutex);
        factory = currentFactory;
    }
    if (factory)
        return factory(feedURL);
    return std::make_unique<FeedUpdaterController>(feedURL);
}

void setFactory(Factory factory)
{
    QMutexLocker lock(&factoryMutex);
    currentFactory = std::move(factory);
}

} // namespace Updater

FeedUpdaterController::FeedUpdaterController(QString feedURL, QObject *parent)
    : UpdaterController(parent)
    , m_feedURL(std::move(feedURL))
{
}

std::optional<QString> FeedUpdaterController::start()
{
    return QStringLiteral("updates from the feed %1 can't be installed on this platform; "
                          "install new versions with the system's package tools")
        .arg(m_feedURL);
}

void FakeUpdaterController::setCanCheckForUpdates(bool canCheck)
{
    if (m_canCheck == canCheck)
        return;
    m_canCheck = canCheck;
    Q_EMIT canCheckForUpdatesChanged(canCheck);
}

std::optional<QString> FakeUpdaterController::start()
{
    ++m_starts;
    return m_startError;
}
