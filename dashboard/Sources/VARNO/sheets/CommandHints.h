#pragma once

#include <QString>

#include <optional>

// Commands the sheets offer for the user to read or copy into Terminal. A
// value from the engine or the library goes into them as one shell word: bare
// when it is a plain token, single-quoted otherwise, so that pasting the line
// runs nothing but the command shown. A value that begins with "-" would be
// read as an option, so no command is offered for it.
namespace CommandHints {

// Non-empty, first character an ASCII letter or digit, the rest ASCII letters,
// digits, ".", "_", "-", "+" and "@" (the characters of cask tokens and App
// Store ids).
bool isPlainToken(const QString &value);

// The value as one shell word (see above); nothing when it is empty or begins
// with "-".
std::optional<QString> shellWord(const QString &value);

// "brew install --cask <token>"; nothing when the token can't be one word.
std::optional<QString> brewInstallCask(const QString &token);

} // namespace CommandHints
