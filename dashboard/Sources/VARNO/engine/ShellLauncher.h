#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The `varno` command for Terminal: a small launcher in ~/.local/bin that finds
// a Python 3.11+ and runs the installed engine, plus a line in the user's shell
// start-up file that puts ~/.local/bin on the search path.
namespace ShellLauncher {

// The launcher script (15 lines, no final line feed).
QByteArray launcherContent();

// The block appended to a start-up file: a line feed, a comment line and the
// export line.
QByteArray pathBlock();

// The second line of the launcher, by which we recognise our own file.
QString launcherMarker();

// The start-up files (relative to the home folder) for a login shell: bash
// gets .bashrc and the file a login bash reads, zsh .zshrc, anything else
// .profile. No SHELL counts as /bin/zsh.
//
// A login bash reads only the first of .bash_profile, .bash_login and
// .profile that exists, so a new .bash_profile would hide the user's
// .profile: bash's line goes to .bash_profile or .bash_login only when it
// exists (`existing` says which of them do), otherwise to .profile.
QStringList startupFiles(const std::optional<QString> &shell, const QStringList &existing = {});

// Whether a start-up file's text already puts ~/.local/bin on the search path
// (a line, not commented out, holding both "PATH=" and ".local/bin").
bool hasPathLine(const QString &content);

// Writes ~/.local/bin/varno (0755) and appends the search-path block to the
// start-up files of $SHELL that lack it. Never fails; problems are logged.
// A `varno` in ~/.local/bin that is not ours is left alone, and so is a
// start-up file that exists but cannot be read or appended to.
void install();

} // namespace ShellLauncher
