#include "shell/AppDelegate.h"

#include "base/Async.h"
#include "base/Logging.h"
#include "engine/CLIBootstrap.h"
#include "kit/WindowRegistry.h"
#include "model/AppModel.h"
#include "platform/ResourceLocator.h"
#include "platform/UserDefaults.h"
#include "services/LaunchAgentManager.h"
#include "services/NotificationManager.h"
#include "services/SparkleUpdater.h"
#include "shell/VarnoURL.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include <qcoro/qcorofuture.h>

namespace {

QCoro::Task<void> nothingToDo()
{
    co_return;
}

QString failureText(std::exception_ptr error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return CLIBootstrap::failureMessage(e);
    } catch (...) {
        return CLIBootstrap::failureMessage(std::runtime_error("unknown failure"));
    }
}

} // namespace

const QStringList AppDelegate::applicationIconNames = {QStringLiteral("AppIcon"), QStringLiteral("head_icon_200x200"),
                                                       QStringLiteral("head_icon_100x100")};

AppModel *AppDelegate::sharedModel()
{
    // One-time and thread-safe; the model lives as long as the application.
    static AppModel *const model = new AppModel(QCoreApplication::instance());
    return model;
}

AppDelegate::AppDelegate(AppModel *model, LaunchEnvironment environment, QObject *parent)
    : QObject(parent)
    , m_sparkleUpdater(new SparkleUpdater(this))
    , m_environment(std::move(environment))
{
    m_model = model ? model : sharedModel();

    LaunchEnvironment &env = m_environment;
    const QPointer<AppModel> target = m_model;
    const QPointer<SparkleUpdater> updater = m_sparkleUpdater;
    if (!env.image)
        env.image = [](const QString &name) { return ResourceLocator::image(name); };
    if (!env.setApplicationIcon)
        env.setApplicationIcon = [](const QImage &icon) {
            QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(icon)));
        };
    if (!env.installLaunchAgent)
        env.installLaunchAgent = [] { LaunchAgentManager::install(); };
    if (!env.launchAtLoginPreference)
        env.launchAtLoginPreference = [] {
            return UserDefaults::open()->value(LoginItemManager::launchAtLoginKey, false).toBool();
        };
    if (!env.loginItemStatus)
        env.loginItemStatus = [] { return SMAppService::mainApp().status(); };
    if (!env.setLoginItem)
        env.setLoginItem = [](bool enabled) { LoginItemManager::set(enabled); };
    if (!env.startUpdater)
        env.startUpdater = [updater] {
            if (updater)
                updater->startUpdater();
        };
    if (!env.canCheckForUpdates)
        env.canCheckForUpdates = [updater] { return updater && updater->canCheckForUpdates(); };
    if (!env.checkForUpdates)
        env.checkForUpdates = [updater] {
            if (updater)
                updater->checkForUpdates();
        };
    if (!env.bootstrapEngine)
        env.bootstrapEngine = [] { return CLIBootstrap::bootstrap(); };
    if (!env.logBootstrapFailure)
        env.logBootstrapFailure = [](std::exception_ptr error) { CLIBootstrap::logBootstrapFailure(error); };
    if (!env.load)
        env.load = [target] { return target ? target->load() : nothingToDo(); };
    if (!env.scan)
        env.scan = [target] { return target ? target->scan() : nothingToDo(); };
    if (!env.checkForBackgroundScanResults)
        env.checkForBackgroundScanResults = [target] {
            return target ? target->checkForBackgroundScanResults() : nothingToDo();
        };
    if (!env.requestNotificationPermission)
        env.requestNotificationPermission = [] { NotificationManager().requestPermission(); };
    if (!env.activate)
        env.activate = [] { WindowRegistry::activate(); };
}

AppDelegate::~AppDelegate() = default;

AppModel *AppDelegate::model() const
{
    return m_model.data();
}

void AppDelegate::applicationDidFinishLaunching()
{
    // 1. The application icon: the first of the names that yields an image.
    for (const QString &name : applicationIconNames) {
        if (const auto icon = m_environment.image(name); icon && !icon->isNull()) {
            m_environment.setApplicationIcon(*icon);
            break;
        }
    }

    // 2. The background-scan agent runs the installed engine on its own, so
    //    it is (re)installed only once the bootstrap has verified that
    //    engine: see the launch task.

    // 3. Re-register the login item the user asked for when it is not enabled.
    //    The preference off touches nothing.
    if (m_environment.launchAtLoginPreference() && m_environment.loginItemStatus() != SMAppService::Status::enabled) {
        m_environment.setLoginItem(true);
    }

    // 4. The self-updater starts now unless onboarding is showing; then it
    //    starts when onboarding ends.
    if (m_model && !m_model->showOnboarding())
        m_environment.startUpdater();

    // 5. The launch task runs on; nothing waits for it here.
    Async::detach(runLaunchTask());
}

QCoro::Task<void> AppDelegate::runLaunchTask()
{
    QPointer<AppDelegate> self(this);
    QPointer<AppModel> model = m_model;
    if (model)
        model->setIsPreparing(true);

    const std::optional<QString> failure = co_await bootstrapFailureText();
    if (!self)
        co_return;
    if (model)
        model->setIsPreparing(false);

    if (failure) {
        // Nothing is loaded or scanned after a failed bootstrap, and the
        // background agent is not installed.
        if (model)
            model->setError(*failure);
        markLaunchLoadAnswered();
    } else {
        // The background-scan agent, on a worker thread: registering it asks
        // the user's service manager, which may take its time-outs to answer.
        // A failure is dropped without a word.
        const std::function<void()> install = m_environment.installLaunchAgent;
        const std::function<bool()> guarded = [install] {
            try {
                install();
                return true;
            } catch (...) {
                return false;
            }
        };
        Async::Work<bool> installed = Async::offThread(nullptr, Async::toolPool(), guarded);
        co_await installed;
        if (!self)
            co_return;
    }
    if (!failure && model) {
        const auto load = m_environment.load;
        const auto scan = m_environment.scan;
        bool loaded = false;
        try {
            co_await load();
            loaded = true;
        } catch (const std::exception &e) {
            qCWarning(lcVarno, "launch: %s", e.what());
        } catch (...) {
            qCWarning(lcVarno, "launch: the library could not be read");
        }
        if (!self)
            co_return;
        markLaunchLoadAnswered();
        try {
            if (loaded && model && model->apps().isEmpty() && !model->hasEverScanned())
                co_await scan();
        } catch (const std::exception &e) {
            qCWarning(lcVarno, "launch: %s", e.what());
        } catch (...) {
            qCWarning(lcVarno, "launch: the first scan failed");
        }
    } else {
        markLaunchLoadAnswered();
    }
    if (!self)
        co_return;

    // On both paths, last.
    m_environment.requestNotificationPermission();
    Q_EMIT launchTaskFinished();
}

void AppDelegate::markLaunchLoadAnswered()
{
    if (m_launchLoadAnswered)
        return;
    m_launchLoadAnswered = true;
    Q_EMIT launchLoadFinished();
}

QCoro::Task<std::optional<QString>> AppDelegate::bootstrapFailureText()
{
    // The failure is logged even when the delegate is gone by then.
    const auto bootstrap = m_environment.bootstrapEngine;
    const auto logFailure = m_environment.logBootstrapFailure;
    std::exception_ptr error;
    try {
        co_await bootstrap();
    } catch (...) {
        error = std::current_exception();
    }
    if (!error)
        co_return std::nullopt;
    logFailure(error);
    co_return failureText(error);
}

bool AppDelegate::isUpdateCheckURL(const QString &url)
{
    return VarnoURL::isUpdateCheckURL(url);
}

void AppDelegate::openURLs(const QStringList &urls)
{
    for (const QString &url : urls) {
        if (!isUpdateCheckURL(url))
            continue;
        if (!m_environment.canCheckForUpdates())
            continue;
        m_environment.activate();
        m_environment.checkForUpdates();
    }
}

QObject *AppDelegate::attachWorkshopWindow(QObject *window)
{
    const QPointer<AppDelegate> self(this);
    auto *check = new ActivationCheck(
        [self] {
            // Before the launch load has answered there is nothing to
            // compare with (every outdated app would count as new), and the
            // launch load itself is reading the library.
            if (self && self->m_launchLoadAnswered)
                Async::detach(self->m_environment.checkForBackgroundScanResults());
        },
        window);
    if (m_model) {
        connect(m_model, &AppModel::showOnboardingChanged, check, [self] {
            if (self && self->m_model && !self->m_model->showOnboarding())
                self->m_environment.startUpdater();
        });
    }
    if (auto *app = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(app, &QGuiApplication::applicationStateChanged, check, [check](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive)
                check->applicationDidBecomeActive();
        });
    }
    return check;
}

ActivationCheck::ActivationCheck(std::function<void()> check, QObject *parent)
    : QObject(parent)
    , m_check(std::move(check))
{
    m_debounce.setSingleShot(true);
    m_debounce.setInterval(AppDelegate::activationDebounceMs);
    connect(&m_debounce, &QTimer::timeout, this, [this] {
        if (m_check)
            m_check();
    });
}

void ActivationCheck::applicationDidBecomeActive()
{
    m_debounce.start();
}
