#include "engine/ShellLauncher.h"

#include "base/Logging.h"
#include "platform/VarnoPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace ShellLauncher {

QString launcherMarker()
{
    return QStringLiteral("# VARNO launcher \u2014 installed by VARNO.app");
}

QByteArray launcherContent()
{
    const QStringList lines = {
        QStringLiteral("#!/bin/sh"),
        launcherMarker(),
        QStringLiteral("PY=\"\""),
        QStringLiteral("for c in python3.14 python3.13 python3.12 python3.11 python3; do"),
        QStringLiteral("    cand=\"$(command -v \"$c\" 2>/dev/null)\" || continue"),
        QStringLiteral("    if \"$cand\" -c 'import sys; raise SystemExit(0 if sys.version_info >= (3, 11) else 1)' "
                       "2>/dev/null; then"),
        QStringLiteral("        PY=\"$cand\""),
        QStringLiteral("        break"),
        QStringLiteral("    fi"),
        QStringLiteral("done"),
        QStringLiteral("if [ -z \"$PY\" ]; then"),
        QStringLiteral("    echo \"varno: no Python 3.11+ found.\" >&2"),
        QStringLiteral("    exit 1"),
        QStringLiteral("fi"),
        QStringLiteral("exec \"$PY\" \"$HOME/.varno/varno.py\" \"$@\""),
    };
    return lines.join(QLatin1Char('\n')).toUtf8();
}

QByteArray pathBlock()
{
    return QStringLiteral("\n# VARNO \u2014 your software, tended.\nexport PATH=\"$HOME/.local/bin:$PATH\"\n").toUtf8();
}

namespace {

// The files a login bash reads before .profile; the first that exists wins.
QStringList bashLoginFiles()
{
    return {QStringLiteral(".bash_profile"), QStringLiteral(".bash_login")};
}

} // namespace

QStringList startupFiles(const std::optional<QString> &shell, const QStringList &existing)
{
    const QString name = shell.value_or(QStringLiteral("/bin/zsh"));
    if (name.endsWith(QLatin1String("bash"))) {
        for (const QString &login : bashLoginFiles()) {
            if (existing.contains(login))
                return {QStringLiteral(".bashrc"), login};
        }
        return {QStringLiteral(".bashrc"), QStringLiteral(".profile")};
    }
    if (name.endsWith(QLatin1String("zsh")))
        return {QStringLiteral(".zshrc")};
    return {QStringLiteral(".profile")};
}

bool hasPathLine(const QString &content)
{
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    const QStringList lines = content.split(lineBreak, Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        qsizetype begin = 0;
        qsizetype end = line.size();
        while (begin < end && (line.at(begin) == QLatin1Char(' ') || line.at(begin) == QLatin1Char('\t')))
            ++begin;
        while (end > begin && (line.at(end - 1) == QLatin1Char(' ') || line.at(end - 1) == QLatin1Char('\t')))
            --end;
        const QStringView trimmed = QStringView(line).mid(begin, end - begin);
        if (trimmed.startsWith(QLatin1Char('#')))
            continue;
        if (trimmed.contains(QLatin1String("PATH=")) && trimmed.contains(QLatin1String(".local/bin")))
            return true;
    }
    return false;
}

namespace {

bool writeAtomically(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Whether whatever sits at the launcher's path may be replaced: nothing there,
// or a launcher that we wrote ourselves.
bool mayReplaceLauncher(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    QFile existing(path);
    if (!existing.open(QIODevice::ReadOnly))
        return false;
    return QString::fromUtf8(existing.readAll()).contains(launcherMarker());
}

void addPathBlock(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        if (!writeAtomically(path, pathBlock()))
            qCWarning(lcVarno, "couldn't create %s for the varno command's search path", qPrintable(path));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcVarno, "left %s alone: it can't be read", qPrintable(path));
        return;
    }
    const QString content = QString::fromUtf8(file.readAll());
    file.close();
    if (hasPathLine(content))
        return;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        qCWarning(lcVarno, "left %s alone: it can't be written", qPrintable(path));
        return;
    }
    const QByteArray block = pathBlock();
    if (file.write(block) != block.size())
        qCWarning(lcVarno, "couldn't add the varno command's search path to %s", qPrintable(path));
    file.close();
}

} // namespace

void install()
{
    const QString binDir = VarnoPaths::localBinDir();
    QDir().mkpath(binDir);
    const QString launcherPath = binDir + QStringLiteral("/varno");

    if (mayReplaceLauncher(launcherPath)) {
        if (!writeAtomically(launcherPath, launcherContent())) {
            qCWarning(lcVarno, "couldn't write the varno launcher at %s", qPrintable(launcherPath));
            return;
        }
        QFile::setPermissions(launcherPath,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                  | QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
                                  | QFileDevice::ExeOther);
    } else {
        qCInfo(lcVarno, "kept the existing %s: it was not installed by VARNO", qPrintable(launcherPath));
    }

    const std::optional<QString> shell = qEnvironmentVariableIsSet("SHELL")
        ? std::optional<QString>(qEnvironmentVariable("SHELL"))
        : std::nullopt;
    QStringList existing;
    for (const QString &login : bashLoginFiles()) {
        if (QFileInfo::exists(VarnoPaths::inHome(login)))
            existing.append(login);
    }
    for (const QString &name : startupFiles(shell, existing))
        addPathBlock(VarnoPaths::inHome(name));
}

} // namespace ShellLauncher
