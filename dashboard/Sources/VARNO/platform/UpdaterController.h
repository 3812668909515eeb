#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

// The app's own updater, fed from the appcast named by "SUFeedURL" in the
// app's Info.plist. The self-updater service creates one controller when the
// app has a bundle identifier and a feed, and drives it:
// - FeedUpdaterController (the default) stands for an updater this platform
//   does not have: it cannot install from an appcast, so start() fails with
//   that sentence and checks stay disabled;
// - FakeUpdaterController is scripted by tests and screenshots.
class UpdaterController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)

public:
    using QObject::QObject;

    virtual bool canCheckForUpdates() const = 0;
    // Starts the updater; the error's description when it could not start.
    virtual std::optional<QString> start() = 0;
    virtual void checkForUpdatesInBackground() = 0;
    // A check the user asked for, with the updater's own windows.
    virtual void checkForUpdates() = 0;

Q_SIGNALS:
    void canCheckForUpdatesChanged(bool canCheck);
};

namespace Updater {

using Factory = std::function<std::unique_ptr<UpdaterController>(const QString &feedURL)>;

std::unique_ptr<UpdaterController> makeController(const QString &feedURL);
// Replaces how controllers are made; an empty function restores the default.
void setFactory(Factory factory);

} // namespace Updater

class FeedUpdaterController : public UpdaterController {
    Q_OBJECT

public:
    explicit FeedUpdaterController(QString feedURL, QObject *parent = nullptr);

    bool canCheckForUpdates() const override { return false; }
    std::optional<QString> start() override;
    void checkForUpdatesInBackground() override {}
    void checkForUpdates() override {}

private:
    QString m_feedURL;
};

class FakeUpdaterController : public UpdaterController {
    Q_OBJECT

public:
    using UpdaterController::UpdaterController;

    bool canCheckForUpdates() const override { return m_canCheck; }
    void setCanCheckForUpdates(bool canCheck);
    std::optional<QString> start() override;
    void checkForUpdatesInBackground() override { ++m_backgroundChecks; }
    void checkForUpdates() override { ++m_userChecks; }

    void setStartError(std::optional<QString> error) { m_startError = std::move(error); }
    int starts() const { return m_starts; }
    int backgroundChecks() const { return m_backgroundChecks; }
    int userChecks() const { return m_userChecks; }

private:
    bool m_canCheck = false;
    std::optional<QString> m_startError;
    int m_starts = 0;
    int m_backgroundChecks = 0;
    int m_userChecks = 0;
};
