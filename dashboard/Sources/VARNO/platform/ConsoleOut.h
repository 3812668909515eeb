#pragma once

#include <QString>

#include <functional>

// Lines the app writes to its standard output rather than to the log (the
// self-updater's start failure, the notification permission error).
namespace ConsoleOut {

// Writes the line and a line feed to standard output, or hands it to the
// capture function when one is set.
void writeLine(const QString &line);

// Captures the lines instead of printing them (tests); an empty function
// restores standard output.
void setCapture(std::function<void(const QString &)> capture);

} // namespace ConsoleOut
