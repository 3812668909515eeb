#pragma once

#include <QString>

// Quoting for commands that the app shows for the user to paste into
// Terminal.
namespace ShellQuoting {

// The text as one POSIX shell word: wrapped in single quotes, each embedded
// single quote written as '\'' (close, escaped quote, reopen). Nothing inside
// is expanded by the shell: not $, `, \, ", globs, semicolons or line breaks.
// The empty text gives ''.
QString singleQuoted(const QString &text);

} // namespace ShellQuoting
