#pragma once

#include <QList>
#include <QMutex>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// Opening things for the user: web pages and folders, revealing a file in the
// file browser, reopening an application, System Settings links, and bringing
// this app itself forward.
// - DesktopWorkspace (the default) uses the desktop: QDesktopServices for
//   addresses and folders, the file manager's D-Bus service to reveal a file
//   (its folder is opened where there is none), and starts an application
//   bundle's executable as its Info.plist names it (never a bare file).
//   System Settings links ("x-apple.systempreferences:…") have no counterpart
//   here: they go to the handler set with setSystemSettingsHandler(), else
//   they are logged and reported as not opened. Bringing the app forward
//   raises and activates its first visible window.
// - RecordingWorkspace keeps what it was asked, for tests and screenshots.
class WorkspaceBackend {
public:
    virtual ~WorkspaceBackend() = default;
    // Whether the address could be handed to something that opens it.
    virtual bool open(const QUrl &url) = 0;
    virtual void activateFileViewerSelecting(const QList<QUrl> &fileUrls) = 0;
    // Starts the application at the file URL; nothing is awaited or reported.
    virtual void openApplication(const QUrl &applicationUrl) = 0;
    // Brings this app forward, ahead of other applications, and makes its
    // first window key and front when it has one. Call on the GUI thread.
    virtual void activateApplication() = 0;
};

namespace Workspace {

std::shared_ptr<WorkspaceBackend> shared();
// Replaces the workspace; nullptr restores the desktop's.
void setShared(std::shared_ptr<WorkspaceBackend> workspace);

// What the desktop workspace does with a System Settings link; the handler
// returns whether it did something. An empty function restores the default.
void setSystemSettingsHandler(std::function<bool(const QUrl &)> handler);

bool isSystemSettingsUrl(const QUrl &url);

} // namespace Workspace

class DesktopWorkspace : public WorkspaceBackend {
public:
    bool open(const QUrl &url) override;
    void activateFileViewerSelecting(const QList<QUrl> &fileUrls) override;
    void openApplication(const QUrl &applicationUrl) override;
    void activateApplication() override;

    // The program that opening an application bundle starts: its Info.plist's
    // CFBundleExecutable in Contents/MacOS, when it resolves to a file inside
    // the bundle. Nothing for anything else, a plain executable file included.
    static std::optional<QString> launchableExecutable(const QString &applicationPath);
};

class RecordingWorkspace : public WorkspaceBackend {
public:
    bool open(const QUrl &url) override;
    void activateFileViewerSelecting(const QList<QUrl> &fileUrls) override;
    void openApplication(const QUrl &applicationUrl) override;
    void activateApplication() override;

    void setOpenResult(bool result);
    QList<QUrl> openedUrls() const;
    QList<QList<QUrl>> revealed() const;
    QList<QUrl> openedApplications() const;
    int activations() const;

private:
    mutable QMutex m_mutex;
    bool m_openResult = true;
    QList<QUrl> m_opened;
    QList<QList<QUrl>> m_revealed;
    QList<QUrl> m_applications;
    int m_activations = 0;
};
