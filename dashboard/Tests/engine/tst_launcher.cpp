#include "EngineFixture.h"
#include "TestRegistry.h"
#include "TestSupport.h"

#include "engine/ShellLauncher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using EngineFixture::modeOf;
using EngineFixture::ShellEnv;

namespace {

// A Unix socket bound at the path; the descriptor, or -1.
int bindUnixSocket(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.size() >= qsizetype(sizeof(address.sun_path)))
        return -1;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

const QByteArray block = "\n# VARNO \xE2\x80\x94 your software, tended.\nexport PATH=\"$HOME/.local/bin:$PATH\"\n";

} // namespace

class TestShellLauncher : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void launcherAndBlockAreExact()
    {
        const QByteArray launcher = ShellLauncher::launcherContent();
        QCOMPARE(launcher.size(), 452);
        QCOMPARE(launcher.count('\n'), 14);
        QVERIFY(!launcher.endsWith('\n'));
        QVERIFY(launcher.startsWith("#!/bin/sh\n# VARNO launcher \xE2\x80\x94 installed by VARNO.app\nPY=\"\"\n"));
        QVERIFY(launcher.endsWith("fi\nexec \"$PY\" \"$HOME/.varno/varno.py\" \"$@\""));
        QVERIFY(launcher.contains("    if \"$cand\" -c 'import sys; raise SystemExit(0 if sys.version_info >= (3, 11) "
                                  "else 1)' 2>/dev/null; then\n"));
        QCOMPARE(ShellLauncher::pathBlock(), block);
        QCOMPARE(ShellLauncher::pathBlock().size(), 73);
    }

    void launcherRunsTheInstalledEngine()
    {
        // The launcher works as a script: with a Python 3.11+ on the path it
        // hands the user's arguments to ~/.varno/varno.py, without the
        // engine contract flag.
        VarnoTest::TempHome home;
        VarnoTest::FakeTools tools;
        // python3.14 is too old by its own account; python3.13 is taken.
        tools.write(QStringLiteral("python3.14"), "#!/bin/sh\ncase \"$1\" in -c) exit 1;; esac\necho wrong\n");
        tools.write(QStringLiteral("python3.13"),
                    "#!/bin/sh\n"
                    "case \"$1\" in -c) exit 0;; esac\n"
                    "printf '%s|' \"$@\"\n");
        const QString launcher = tools.filePath(QStringLiteral("varno"));
        QVERIFY(VarnoTest::writeFile(launcher, ShellLauncher::launcherContent()));
        QFile::setPermissions(launcher, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), tools.path() + QStringLiteral(":/usr/bin:/bin"));
        process.setProcessEnvironment(env);
        process.start(launcher, {QStringLiteral("fix"), QStringLiteral("org.sim.kettle app")});
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardOutput()),
                 home.filePath(QStringLiteral(".varno/varno.py")) + QStringLiteral("|fix|org.sim.kettle app|"));
    }

    void startupFilesFollowTheShell_data()
    {
        QTest::addColumn<QString>("shell");
        QTest::addColumn<bool>("set");
        QTest::addColumn<QStringList>("existing"); // which of .bash_profile and .bash_login exist
        QTest::addColumn<QStringList>("files");
        const QString rc = QStringLiteral(".bashrc");
        const QString bashProfile = QStringLiteral(".bash_profile");
        const QString bashLogin = QStringLiteral(".bash_login");
        QTest::newRow("bash without a login file of its own")
            << QStringLiteral("/bin/bash") << true << QStringList() << QStringList{rc, QStringLiteral(".profile")};
        QTest::newRow("bash with .bash_profile")
            << QStringLiteral("/bin/bash") << true << QStringList{bashProfile} << QStringList{rc, bashProfile};
        QTest::newRow("bash with .bash_login")
            << QStringLiteral("/usr/local/bin/bash") << true << QStringList{bashLogin} << QStringList{rc, bashLogin};
        QTest::newRow("bash with both: .bash_profile is read")
            << QStringLiteral("/bin/bash") << true << QStringList{bashLogin, bashProfile}
            << QStringList{rc, bashProfile};
        QTest::newRow("zsh") << QStringLiteral("/usr/local/bin/zsh") << true << QStringList{bashProfile}
                             << QStringList{QStringLiteral(".zshrc")};
        QTest::newRow("fish") << QStringLiteral("/usr/local/bin/fish") << true << QStringList{bashProfile}
                              << QStringList{QStringLiteral(".profile")};
        QTest::newRow("unset") << QString() << false << QStringList() << QStringList{QStringLiteral(".zshrc")};
        QTest::newRow("empty") << QString() << true << QStringList() << QStringList{QStringLiteral(".profile")};
    }

    void startupFilesFollowTheShell()
    {
        QFETCH(QString, shell);
        QFETCH(bool, set);
        QFETCH(QStringList, existing);
        QFETCH(QStringList, files);
        QCOMPARE(ShellLauncher::startupFiles(set ? std::optional(shell) : std::nullopt, existing), files);
    }

    void recognisesAnExistingPathLine_data()
    {
        QTest::addColumn<QString>("content");
        QTest::addColumn<bool>("present");
        QTest::newRow("export line") << QStringLiteral("alias ll='ls -l'\nexport PATH=$HOME/.local/bin:$PATH\n") << true;
        QTest::newRow("indented with tabs") << QStringLiteral("\t  PATH=~/.local/bin:$PATH  \r\n") << true;
        QTest::newRow("commented out") << QStringLiteral("# export PATH=$HOME/.local/bin:$PATH\n") << false;
        QTest::newRow("indented comment") << QStringLiteral("   #PATH=.local/bin\n") << false;
        QTest::newRow("other folder") << QStringLiteral("export PATH=$HOME/bin:$PATH\n") << false;
        QTest::newRow("mentions without assignment") << QStringLiteral("echo .local/bin $PATH\n") << false;
        QTest::newRow("empty") << QString() << false;
    }

    void recognisesAnExistingPathLine()
    {
        QFETCH(QString, content);
        QFETCH(bool, present);
        QCOMPARE(ShellLauncher::hasPathLine(content), present);
    }

    void installsLauncherAndStartupLines_data()
    {
        QTest::addColumn<QByteArray>("shell"); // empty: unset
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QList<QByteArray>>("before"); // per name; "-" = no file
        QTest::addColumn<QList<QByteArray>>("after");

        // A new ~/.bash_profile would hide ~/.profile from a login bash.
        const QStringList bashFiles{QStringLiteral(".bashrc"), QStringLiteral(".bash_profile"),
                                    QStringLiteral(".bash_login"), QStringLiteral(".profile")};
        QTest::newRow("bash, no files") << QByteArray("/bin/bash") << bashFiles << QList<QByteArray>{"-", "-", "-", "-"}
                                        << QList<QByteArray>{block, "-", "-", block};
        QTest::newRow("bash, .profile of the user")
            << QByteArray("/bin/bash") << bashFiles << QList<QByteArray>{"-", "-", "-", "umask 077\n"}
            << QList<QByteArray>{block, "-", "-", "umask 077\n" + block};
        QTest::newRow("bash, .bash_profile of the user")
            << QByteArray("/bin/bash") << bashFiles << QList<QByteArray>{"-", ". ~/.profile\n", "-", "umask 077\n"}
            << QList<QByteArray>{block, ". ~/.profile\n" + block, "-", "umask 077\n"};
        QTest::newRow("bash, .bash_login of the user")
            << QByteArray("/bin/bash") << bashFiles << QList<QByteArray>{"-", "-", "set -o vi\n", "-"}
            << QList<QByteArray>{block, "-", "set -o vi\n" + block, "-"};
        QTest::newRow("fish goes to .profile")
            << QByteArray("/usr/local/bin/fish") << QStringList{QStringLiteral(".profile"), QStringLiteral(".zshrc")}
            << QList<QByteArray>{"-", "-"} << QList<QByteArray>{block, "-"};
        QTest::newRow("unset SHELL is zsh") << QByteArray() << QStringList{QStringLiteral(".zshrc")}
                                            << QList<QByteArray>{"-"} << QList<QByteArray>{block};
        QTest::newRow("zsh line already there") << QByteArray("/bin/zsh") << QStringList{QStringLiteral(".zshrc")}
                                                << QList<QByteArray>{"export PATH=$HOME/.local/bin:$PATH\n"}
                                                << QList<QByteArray>{"export PATH=$HOME/.local/bin:$PATH\n"};
        QTest::newRow("zsh line only commented") << QByteArray("/bin/zsh") << QStringList{QStringLiteral(".zshrc")}
                                                 << QList<QByteArray>{"# export PATH=$HOME/.local/bin:$PATH\n"}
                                                 << QList<QByteArray>{"# export PATH=$HOME/.local/bin:$PATH\n" + block};
        QTest::newRow("no final line feed")
            << QByteArray("/bin/zsh") << QStringList{QStringLiteral(".zshrc")} << QList<QByteArray>{"alias g=git"}
            << QList<QByteArray>{"alias g=git" + block};
        QTest::newRow("bash, one file has it")
            << QByteArray("/bin/bash") << bashFiles
            << QList<QByteArray>{"PATH=\"$HOME/.local/bin:$PATH\"\n", "-", "-", "-"}
            << QList<QByteArray>{"PATH=\"$HOME/.local/bin:$PATH\"\n", "-", "-", block};
    }

    void installsLauncherAndStartupLines()
    {
        QFETCH(QByteArray, shell);
        QFETCH(QStringList, names);
        QFETCH(QList<QByteArray>, before);
        QFETCH(QList<QByteArray>, after);
        VarnoTest::TempHome home;
        ShellEnv env(shell.isEmpty() ? std::nullopt : std::optional(shell));
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (before.at(i) != "-")
                QVERIFY(VarnoTest::writeFile(home.filePath(names.at(i)), before.at(i)));
        }

        ShellLauncher::install();

        const QString launcher = home.filePath(QStringLiteral(".local/bin/varno"));
        QCOMPARE(VarnoTest::readFile(launcher), ShellLauncher::launcherContent());
        QCOMPARE(modeOf(launcher), 0755);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const QString path = home.filePath(names.at(i));
            if (after.at(i) == "-")
                QVERIFY2(!QFile::exists(path), qPrintable(names.at(i)));
            else
                QCOMPARE(VarnoTest::readFile(path), after.at(i));
        }

        // A second install changes no start-up file.
        ShellLauncher::install();
        for (qsizetype i = 0; i < names.size(); ++i) {
            if (after.at(i) != "-")
                QCOMPARE(VarnoTest::readFile(home.filePath(names.at(i))), after.at(i));
        }
    }

    void replacesOnlyItsOwnLauncher_data()
    {
        QTest::addColumn<QByteArray>("existing");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("an older launcher of ours")
            << QByteArray("#!/bin/sh\n# VARNO launcher \xE2\x80\x94 installed by VARNO.app\nexec python3 old\n") << true;
        QTest::newRow("the user's own script") << QByteArray("#!/bin/sh\nexec ~/src/varno/run \"$@\"\n") << false;
    }

    void replacesOnlyItsOwnLauncher()
    {
        QFETCH(QByteArray, existing);
        QFETCH(bool, replaced);
        VarnoTest::TempHome home;
        ShellEnv env(QByteArray("/bin/zsh"));
        const QString launcher = home.filePath(QStringLiteral(".local/bin/varno"));
        QVERIFY(VarnoTest::writeFile(launcher, existing));
        ShellLauncher::install();
        QCOMPARE(VarnoTest::readFile(launcher), replaced ? ShellLauncher::launcherContent() : existing);
        // The search path is set up either way.
        QCOMPARE(VarnoTest::readFile(home.filePath(QStringLiteral(".zshrc"))), block);
    }

    void leavesAStartupFileItCannotOpenAlone()
    {
        // Something at ~/.zshrc that exists but opens neither for reading nor
        // for writing (a socket here, an unreadable file for a user): it must
        // not be replaced by a file holding only the block.
        VarnoTest::TempHome home;
        ShellEnv env(QByteArray("/bin/zsh"));
        const QString rc = home.filePath(QStringLiteral(".zshrc"));
        const int fd = bindUnixSocket(rc);
        QVERIFY(fd >= 0);
        const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
        QVERIFY(QFileInfo::exists(rc));
        ShellLauncher::install();
        QVERIFY(!QFileInfo(rc).isFile());
        QVERIFY(QFile::exists(home.filePath(QStringLiteral(".local/bin/varno"))));
    }

    void launcherWriteFailureTouchesNoStartupFile()
    {
        VarnoTest::TempHome home;
        ShellEnv env(QByteArray("/bin/bash"));
        // ~/.local/bin is a file: the launcher cannot be written.
        QVERIFY(VarnoTest::writeFile(home.filePath(QStringLiteral(".local/bin")), "not a folder"));
        ShellLauncher::install();
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral(".bashrc"))));
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral(".bash_profile"))));
        QVERIFY(!QFile::exists(home.filePath(QStringLiteral(".profile"))));
    }
};

VARNO_TEST_CLASS(TestShellLauncher)
#include "tst_launcher.moc"
