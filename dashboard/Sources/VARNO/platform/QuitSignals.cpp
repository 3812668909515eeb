#include "platform/QuitSignals.h"

#include "base/Logging.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace QuitSignals {

namespace {

int wakeFds[2] = {-1, -1};
pid_t appPid = 0;

// Runs in the signal handler: async-signal-safe calls only. A child forked
// by QProcess keeps the handler until its exec; a signal it gets in that
// moment is its own, not a request to end the app.
void onSignal(int)
{
    if (::getpid() != appPid)
        return;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

void install()
{
    if (wakeFds[0] >= 0 || !QCoreApplication::instance())
        return;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcVarno, "can't watch for requests to end the app (%s)", strerror(errno));
        wakeFds[0] = wakeFds[1] = -1;
        return;
    }
    appPid = ::getpid();
    auto *notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[64];
        while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {}
        qCInfo(lcVarno, "asked to end: quitting");
        QCoreApplication::quit();
    });

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        // A signal the app was started to ignore (nohup) stays ignored.
        struct sigaction previous = {};
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

} // namespace QuitSignals
