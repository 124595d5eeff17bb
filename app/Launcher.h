#pragma once
#include <functional>

namespace velmar {

// The whole program: builds the application and both windows, runs the event loop until the
// main window is closed, reports an error that escapes start-up in the error box, and returns
// the exit status (always 0). `afterShow`, when set, runs once the event loop has started (the
// whole-program tests drive the window through it). Of the command line only the program's
// name is used.
int RunLauncher(int argc, char** argv, const std::function<void()>& afterShow = {});

} // namespace velmar
