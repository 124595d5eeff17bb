#pragma once
// The application object: catches every error that escapes an event handler, shows it in the
// top-level error box and lets the event loop go on. No exception ever crosses Qt's loop.
#include <QApplication>

#include <exception>
#include <stdexcept>
#include <string>

namespace velmar {

// The id of the installed desktop entry (de.tobrel.VelmarLauncher.desktop) and the name of the
// installed icon. Desktops match the window to its entry by it (the Wayland app id; on X11 by
// StartupWMClass, which matches the window class Qt derives from the application name).
inline constexpr const char* DesktopEntryName = "de.tobrel.VelmarLauncher";

// The silent kind of error: it ends a handler but is never shown.
class AbortError : public std::runtime_error {
public:
    AbortError() : std::runtime_error("") {}
};

// The text of the error box: the message, with a "." appended when the message is not empty and
// its last character has a code above that of the full stop.
std::string ErrorBoxText(const std::string& message);

// Shows `error` in the top-level error box (nothing for an AbortError).
void ReportError(const std::exception& error);
// Runs `f`, reporting whatever it raises; true when it raised nothing.
template <class F> bool Guarded(F&& f) {
    try {
        f();
        return true;
    } catch (const std::exception& e) {
        ReportError(e);
    } catch (...) {
        ReportError(std::runtime_error("Unknown error"));
    }
    return false;
}

class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace velmar
