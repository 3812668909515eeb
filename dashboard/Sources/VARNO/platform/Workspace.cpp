#include "platform/Workspace.h"

#include "base/Logging.h"
#include "platform/PropertyList.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMutexLocker>
#include <QProcess>
#include <QWindow>

namespace {

QMutex workspaceMutex;
std::shared_ptr<WorkspaceBackend> sharedWorkspace;
std::function<bool(const QUrl &)> systemSettingsHandler;

void openFolderOf(const QUrl &fileUrl)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(fileUrl.toLocalFile()).absolutePath()));
}

} // namespace

namespace Workspace {

std::shared_ptr<WorkspaceBackend> shared()
{
    QMutexLocker lock(&workspaceMutex);
    if (!sharedWorkspace)
        sharedWorkspace = std::make_shared<DesktopWorkspace>();
    return sharedWorkspace;
}

void setShared(std::shared_ptr<WorkspaceBackend> workspace)
{
    QMutexLocker lock(&workspaceMutex);
    sharedWorkspace = std::move(workspace);
}

void setSystemSettingsHandler(std::function<bool(const QUrl &)> handler)
{
    QMutexLocker lock(&workspaceMutex);
    systemSettingsHandler = std::move(handler);
}

bool isSystemSettingsUrl(const QUrl &url)
{
    return url.scheme() == QLatin1String("x-apple.systempreferences");
}

} // namespace Workspace

// ---------------------------------------------------------------------------
// DesktopWorkspace

bool DesktopWorkspace::open(const QUrl &url)
{
    if (!url.isValid() || url.scheme().isEmpty())
        return false;
    if (Workspace::isSystemSettingsUrl(url)) {
        std::function<bool(const QUrl &)> handler;
        {
            QMutexLocker lock(&workspaceMutex);
            handler = systemSettingsHandler;
        }
        if (handler)
            return handler(url);
        qCInfo(lcVarno).noquote() << "System Settings are not available on this system:" << url.toString();
        return false;
    }
    return QDesktopServices::openUrl(url);
}

void DesktopWorkspace::activateFileViewerSelecting(const QList<QUrl> &fileUrls)
{
    if (fileUrls.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(fileUrls.first());
        return;
    }
    QStringList uris;
    for (const QUrl &url : fileUrls)
        uris.append(url.toString(QUrl::FullyEncoded));
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("/org/freedesktop/FileManager1"),
                                                       QStringLiteral("org.freedesktop.FileManager1"),
                                                       QStringLiteral("ShowItems"));
    call << uris << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
    const QUrl first = fileUrls.first();
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, first] {
        // No file manager service: open the folder that holds the file.
        if (watcher->isError())
            openFolderOf(first);
        watcher->deleteLater();
    });
}

std::optional<QString> DesktopWorkspace::launchableExecutable(const QString &applicationPath)
{
    // Only a bundle is opened, never a file as it stands: a path that names
    // an executable file directly would run whatever that file holds.
    const QFileInfo info(applicationPath);
    if (!info.isDir())
        return std::nullopt;
    const QString bundle = info.canonicalFilePath();
    if (bundle.isEmpty())
        return std::nullopt;
    const auto parsed = PropertyList::parseFile(bundle + QStringLiteral("/Contents/Info.plist"));
    if (!parsed.ok())
        return std::nullopt;
    const QString name = parsed.value.toMap().value(QStringLiteral("CFBundleExecutable")).toString();
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    const QFileInfo executable(bundle + QStringLiteral("/Contents/MacOS/") + name);
    if (!executable.isFile() || !executable.isExecutable())
        return std::nullopt;
    // A link that leads out of the bundle is a file elsewhere, not the
    // bundle's executable.
    const QString resolved = executable.canonicalFilePath();
    if (resolved.isEmpty() || !resolved.startsWith(bundle + QLatin1Char('/')))
        return std::nullopt;
    return executable.absoluteFilePath();
}

void DesktopWorkspace::openApplication(const QUrl &applicationUrl)
{
    const QString path = applicationUrl.toLocalFile();
    const auto executable = launchableExecutable(path);
    if (!executable) {
        qCInfo(lcVarno).noquote() << "can't open the application at" << path << "(no executable named by its Info.plist)";
        return;
    }
    QProcess::startDetached(*executable, {}, QFileInfo(path).absolutePath());
}

void DesktopWorkspace::activateApplication()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    // The first of the app's own visible windows, in the order they were made;
    // popups and tool tips are no windows of the app's in this sense.
    const QWindowList windows = QGuiApplication::topLevelWindows();
    for (QWindow *window : windows) {
        if (!window->isVisible())
            continue;
        const Qt::WindowType type = window->type();
        if (type != Qt::Window && type != Qt::Dialog)
            continue;
        window->raise();
        window->requestActivate();
        return;
    }
}

// ---------------------------------------------------------------------------
// RecordingWorkspace

bool RecordingWorkspace::open(const QUrl &url)
{
    QMutexLocker lock(&m_mutex);
    m_opened.append(url);
    return m_openResult;
}

void RecordingWorkspace::activateFileViewerSelecting(const QList<QUrl> &fileUrls)
{
    QMutexLocker lock(&m_mutex);
    m_revealed.append(fileUrls);
}

void RecordingWorkspace::openApplication(const QUrl &applicationUrl)
{
    QMutexLocker lock(&m_mutex);
    m_applications.append(applicationUrl);
}

void RecordingWorkspace::activateApplication()
{
    QMutexLocker lock(&m_mutex);
    ++m_activations;
}

int RecordingWorkspace::activations() const
{
    QMutexLocker lock(&m_mutex);
    return m_activations;
}

void RecordingWorkspace::setOpenResult(bool result)
{
    QMutexLocker lock(&m_mutex);
    m_openResult = result;
}

QList<QUrl> RecordingWorkspace::openedUrls() const
{
    QMutexLocker lock(&m_mutex);
    return m_opened;
}

QList<QList<QUrl>> RecordingWorkspace::revealed() const
{
    QMutexLocker lock(&m_mutex);
    return m_revealed;
}

QList<QUrl> RecordingWorkspace::openedApplications() const
{
    QMutexLocker lock(&m_mutex);
    return m_applications;
}
