#pragma once

// The requests to end the app that come as signals (SIGTERM when the session
// ends or someone runs kill, SIGINT, SIGHUP) quit it the way its Quit command
// does, so that the quit path still ends every child that runs. By default
// they would end the app at once, and its engine children, each in a process
// group of its own, would run on without it.
namespace QuitSignals {

// Installs the handlers (not for a signal the app was started to ignore, as
// under nohup); a signal then calls QCoreApplication::quit() on the GUI
// thread. Call once, on the GUI thread, once the application exists.
void install();

} // namespace QuitSignals
