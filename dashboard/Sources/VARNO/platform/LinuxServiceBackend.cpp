#include "platform/LinuxServiceBackend.h"

#include "base/Logging.h"
#include "platform/MainBundle.h"
#include "platform/PropertyList.h"
#include "platform/ToolRunner.h"
#include "platform/VarnoPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace {

const QString kSystemctl = QStringLiteral("/usr/bin/systemctl");
constexpr auto kSystemctlTimeout = std::chrono::seconds(5);

QString configHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    return xdg.isEmpty() ? VarnoPaths::inHome(QStringLiteral(".config")) : xdg;
}

QString wantsLinkPath(const QString &label)
{
    return LinuxServiceBackend::systemdUserDir() + QStringLiteral("/timers.target.wants/") + label
        + QStringLiteral(".timer");
}

QString unitPath(const QString &label, const QString &suffix)
{
    return LinuxServiceBackend::systemdUserDir() + QLatin1Char('/') + label + suffix;
}

void writeFileOrThrow(const QString &path, const QString &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        throw ServiceManagementError(QStringLiteral("Couldn't write %1: %2").arg(path, file.errorString()));
}

// Asks the user's systemd to act on the unit files; a manager that can't be
// reached only means the change takes effect at the next login.
void systemctl(const QStringList &arguments)
{
    ToolRequest request;
    request.program = kSystemctl;
    request.arguments = QStringList{QStringLiteral("--user")} + arguments;
    request.timeout = kSystemctlTimeout;
    request.outputCap = 64 * 1024;
    const ToolResult result = ToolRunner::runBlocking(request);
    if (!result.succeeded()) {
        const QString why = !result.started() ? result.errorString
            : result.timedOut()               ? QStringLiteral("no answer in time")
                                              : result.standardErrorText().trimmed();
        qCInfo(lcVarno).noquote() << "systemctl --user" << arguments.join(QLatin1Char(' ')) << "did not succeed:" << why;
    }
}

// What the user's manager says of a timer, or nothing when no manager
// answers (none runs, systemctl is missing, or it overran its time-out).
struct TimerState {
    QString loadState;
    QString unitFileState;
    QString activeState;
};

std::optional<TimerState> askTimerState(const QString &label)
{
    ToolRequest request;
    request.program = kSystemctl;
    request.arguments = QStringList{QStringLiteral("--user"), QStringLiteral("show"),
                                    QStringLiteral("--property=LoadState,UnitFileState,ActiveState"),
                                    label + QStringLiteral(".timer")};
    request.timeout = kSystemctlTimeout;
    request.outputCap = 64 * 1024;
    const ToolResult result = ToolRunner::runBlocking(request);
    if (!result.succeeded())
        return std::nullopt;
    TimerState state;
    const QStringList lines = result.standardOutputText().split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        const QString key = line.left(equals);
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("LoadState"))
            state.loadState = value;
        else if (key == QLatin1String("UnitFileState"))
            state.unitFileState = value;
        else if (key == QLatin1String("ActiveState"))
            state.activeState = value;
    }
    if (state.loadState.isEmpty() || state.activeState.isEmpty())
        return std::nullopt;
    return state;
}

struct AgentDefinition {
    QStringList programArguments;
    qint64 interval = 3600;
};

std::optional<QString> agentPlistPath(const QString &plistName)
{
    QString name = plistName;
    if (name.endsWith(QLatin1String(".plist")))
        name.chop(6);
    return MainBundle::urlForResource(name, QStringLiteral("plist"));
}

AgentDefinition readAgent(const QString &plistName)
{
    const auto path = agentPlistPath(plistName);
    if (!path)
        throw ServiceManagementError(
            QStringLiteral("The app's resources hold no agent property list named %1.").arg(plistName));
    const auto parsed = PropertyList::parseFile(*path);
    if (!parsed.ok() || parsed.value.typeId() != QMetaType::QVariantMap)
        throw ServiceManagementError(
            QStringLiteral("The agent property list %1 can't be read: %2").arg(plistName, parsed.error));
    const QVariantMap dict = parsed.value.toMap();
    AgentDefinition agent;
    const QVariantList arguments = dict.value(QStringLiteral("ProgramArguments")).toList();
    for (const QVariant &argument : arguments) {
        if (argument.typeId() != QMetaType::QString)
            throw ServiceManagementError(
                QStringLiteral("The agent property list %1 has a ProgramArguments entry that is not text.").arg(plistName));
        agent.programArguments.append(argument.toString());
    }
    if (agent.programArguments.isEmpty())
        throw ServiceManagementError(QStringLiteral("The agent property list %1 names no program to run.").arg(plistName));
    const QVariant interval = dict.value(QStringLiteral("StartInterval"));
    if (interval.isValid() && interval.toLongLong() > 0)
        agent.interval = interval.toLongLong();
    return agent;
}

} // namespace

QString LinuxServiceBackend::quoteForDesktopEntry(const QString &path)
{
    // Quoted as the desktop entry format wants: inside the quotes `"`, `` ` ``,
    // `$` and `\` get a backslash, and then every backslash is doubled once
    // more because the value itself is an escaped string.
    QString quoted;
    for (const QChar c : path) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    // A percent sign starts a field code; a literal one is doubled.
    quoted.replace(QLatin1String("%"), QLatin1String("%%"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString LinuxServiceBackend::systemdUserDir()
{
    return configHome() + QStringLiteral("/systemd/user");
}

QString LinuxServiceBackend::autostartDir()
{
    return configHome() + QStringLiteral("/autostart");
}

QString LinuxServiceBackend::labelFor(const QString &plistName)
{
    QString label = plistName;
    if (label.endsWith(QLatin1String(".plist")))
        label.chop(6);
    return label;
}

QString LinuxServiceBackend::autostartFilePath()
{
    QString id = MainBundle::infoString(QStringLiteral("CFBundleIdentifier")).value_or(QString());
    if (id.isEmpty())
        id = QStringLiteral("org.varno.workshop");
    return autostartDir() + QLatin1Char('/') + id + QStringLiteral(".desktop");
}

QString LinuxServiceBackend::quoteForSystemd(const QString &argument)
{
    QString quoted;
    quoted.reserve(argument.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\') + QString(c);
        else if (c == QLatin1Char('%'))
            quoted += QStringLiteral("%%");
        else if (c == QLatin1Char('$'))
            quoted += QStringLiteral("$$");
        else if (c == QLatin1Char('\n'))
            quoted += QStringLiteral("\\n");
        else
            quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

qint64 LinuxServiceBackend::scanTimeoutFor(qint64 intervalSeconds)
{
    // A hung scan is ended before the next one is due, so it never blocks
    // the ones after it.
    return std::clamp<qint64>(intervalSeconds * 3 / 4, 60, 45 * 60);
}

LinuxServiceBackend::AgentUnits LinuxServiceBackend::unitsFor(const QString &label, const QStringList &programArguments,
                                                              qint64 intervalSeconds)
{
    QStringList quoted;
    for (const QString &argument : programArguments)
        quoted.append(quoteForSystemd(argument));
    AgentUnits units;
    units.service = QStringLiteral("[Unit]\n"
                                   "Description=VARNO background scan (%1)\n"
                                   "\n"
                                   "[Service]\n"
                                   "Type=oneshot\n"
                                   "TimeoutStartSec=%3\n"
                                   "Nice=10\n"
                                   "IOSchedulingClass=idle\n"
                                   "ExecStart=%2\n")
                        .arg(label, quoted.join(QLatin1Char(' ')), QString::number(scanTimeoutFor(intervalSeconds)));
    units.timer = QStringLiteral("[Unit]\n"
                                 "Description=VARNO background scan every %1 s (%2)\n"
                                 "\n"
                                 "[Timer]\n"
                                 "OnActiveSec=%1s\n"
                                 "OnUnitActiveSec=%1s\n"
                                 "Unit=%2.service\n"
                                 "\n"
                                 "[Install]\n"
                                 "WantedBy=timers.target\n")
                      .arg(QString::number(intervalSeconds), label);
    return units;
}

std::optional<QString> LinuxServiceBackend::programOfDesktopEntry(const QString &text)
{
    bool inMainGroup = false;
    QString value;
    bool found = false;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (inMainGroup && line.startsWith(QLatin1String("Exec="))) {
            value = line.mid(5);
            found = true;
            break;
        }
    }
    if (!found)
        return std::nullopt;

    // The value is an escaped string first ...
    QString unescaped;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (c != QLatin1Char('\\') || i + 1 == value.size()) {
            unescaped += c;
            continue;
        }
        const QChar next = value.at(++i);
        if (next == QLatin1Char('s'))
            unescaped += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            unescaped += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            unescaped += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            unescaped += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            unescaped += QLatin1Char('\\');
        else
            unescaped += QLatin1Char('\\') + QString(next);
    }
    // ... then a command line whose first argument is the program, either
    // quoted (with `"`, `` ` ``, `$` and `\` escaped by a backslash) or bare.
    const QString command = unescaped.trimmed();
    QString program;
    if (command.startsWith(QLatin1Char('"'))) {
        qsizetype i = 1;
        for (; i < command.size(); ++i) {
            const QChar c = command.at(i);
            if (c == QLatin1Char('\\') && i + 1 < command.size()) {
                program += command.at(++i);
                continue;
            }
            if (c == QLatin1Char('"'))
                break;
            program += c;
        }
        if (i >= command.size())
            return std::nullopt; // no closing quote
    } else {
        program = command.section(QLatin1Char(' '), 0, 0);
    }
    program.replace(QLatin1String("%%"), QLatin1String("%"));
    if (program.isEmpty())
        return std::nullopt;
    return program;
}

SMAppService::Status LinuxServiceBackend::status(const ServiceIdentity &service)
{
    if (service.kind == ServiceIdentity::Kind::MainApp) {
        // On only while the entry starts this very executable: an entry left
        // behind by a binary that has moved starts nothing.
        QFile file(autostartFilePath());
        if (!file.open(QIODevice::ReadOnly))
            return SMAppService::Status::notRegistered;
        const auto program = programOfDesktopEntry(QString::fromUtf8(file.readAll()));
        const QString running = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
        if (program && !running.isEmpty() && QFileInfo(*program).canonicalFilePath() == running)
            return SMAppService::Status::enabled;
        return SMAppService::Status::notRegistered;
    }
    const QString label = labelFor(service.plistName);
    const bool filesInPlace = QFileInfo::exists(unitPath(label, QStringLiteral(".timer")))
        && QFileInfo::exists(unitPath(label, QStringLiteral(".service"))) && QFileInfo(wantsLinkPath(label)).isSymLink();
    if (filesInPlace) {
        // The user's manager decides. Where none answers the files are in
        // place, but nothing says they will ever be run.
        const std::optional<TimerState> state = askTimerState(label);
        if (!state)
            return SMAppService::Status::unconfirmed;
        if (state->loadState == QLatin1String("loaded") && state->unitFileState == QLatin1String("enabled")
            && state->activeState == QLatin1String("active"))
            return SMAppService::Status::enabled;
    }
    if (!agentPlistPath(service.plistName))
        return SMAppService::Status::notFound;
    return SMAppService::Status::notRegistered;
}

void LinuxServiceBackend::registerService(const ServiceIdentity &service)
{
    if (service.kind == ServiceIdentity::Kind::MainApp) {
        const QString executable = QCoreApplication::applicationFilePath();
        if (executable.isEmpty())
            throw ServiceManagementError(QStringLiteral("The app's executable can't be located."));
        writeFileOrThrow(autostartFilePath(),
                         QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=VARNO Workshop\n"
                                        "Exec=%1\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(quoteForDesktopEntry(executable)));
        return;
    }

    const QString label = labelFor(service.plistName);
    const AgentDefinition agent = readAgent(service.plistName);
    const AgentUnits units = unitsFor(label, agent.programArguments, agent.interval);
    writeFileOrThrow(unitPath(label, QStringLiteral(".service")), units.service);
    writeFileOrThrow(unitPath(label, QStringLiteral(".timer")), units.timer);
    const QString link = wantsLinkPath(label);
    QDir().mkpath(QFileInfo(link).absolutePath());
    QFile::remove(link);
    if (!QFile::link(QStringLiteral("../") + label + QStringLiteral(".timer"), link))
        throw ServiceManagementError(QStringLiteral("Couldn't enable the timer at %1.").arg(link));
    systemctl({QStringLiteral("daemon-reload")});
    systemctl({QStringLiteral("start"), label + QStringLiteral(".timer")});
}

void LinuxServiceBackend::unregisterService(const ServiceIdentity &service)
{
    if (service.kind == ServiceIdentity::Kind::MainApp) {
        const QString path = autostartFilePath();
        if (QFileInfo::exists(path) && !QFile::remove(path))
            throw ServiceManagementError(QStringLiteral("Couldn't remove %1.").arg(path));
        return;
    }
    const QString label = labelFor(service.plistName);
    const bool wasRegistered = QFileInfo::exists(unitPath(label, QStringLiteral(".timer")));
    if (wasRegistered)
        systemctl({QStringLiteral("stop"), label + QStringLiteral(".timer")});
    QFile::remove(wantsLinkPath(label));
    const bool removedTimer = QFile::remove(unitPath(label, QStringLiteral(".timer")));
    const bool removedService = QFile::remove(unitPath(label, QStringLiteral(".service")));
    const bool removed = removedTimer || removedService;
    if (wasRegistered)
        systemctl({QStringLiteral("daemon-reload")});
    if (!removed && !wasRegistered)
        throw ServiceManagementError(QStringLiteral("The background-scan agent is not registered."));
}
