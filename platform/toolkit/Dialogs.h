#pragma once
// The program's modal dialogs behind one interface, so tests can answer them. Every dialog runs
// a nested event loop: timers, socket notifications and page loads keep being delivered while it
// is open.
#include <string>

class QString;
class QWidget;

namespace velmar {

// The application title: title of the message box and of the error box.
inline constexpr const char* ApplicationTitle = "VelmarLauncher";

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Title "VelmarLauncher", no icon, one OK button (default and cancel button).
    virtual void messageBox(const std::string& text) = 0;
    // Title "Confirm", question icon, OK (default) and Cancel (Esc, title-bar close). True: OK.
    virtual bool confirm(const std::string& text) = 0;
    // A folder chooser with `prompt`, starting at the desktop with no folder preselected; only a
    // folder the user chose is confirmed. The full path or "" when cancelled.
    virtual std::string browseFolder(const std::string& prompt) = 0;
    // A one-line prompt of at most 255 characters. True with the text as typed when accepted.
    virtual bool inputQuery(const std::string& title, const std::string& prompt,
                            std::string& value) = 0;
    // Title "VelmarLauncher", stop icon, one OK button; `text` as given (see ErrorBoxText).
    virtual void errorBox(const std::string& text) = 0;
};

// The real dialogs on Qt.
class QtDialogs : public Dialogs {
public:
    void messageBox(const std::string& text) override;
    bool confirm(const std::string& text) override;
    std::string browseFolder(const std::string& prompt) override;
    bool inputQuery(const std::string& title, const std::string& prompt,
                    std::string& value) override;
    void errorBox(const std::string& text) override;
};

// Where the folder browser starts: the user's desktop folder, or the home folder where there is
// none (never the current directory).
QString FolderBrowserStart();

// The dialogs the program uses; the real ones unless a test installed others.
Dialogs& dialogs();
// Installs `d` (nullptr: back to the real dialogs). The caller keeps ownership.
void setDialogs(Dialogs* d);

} // namespace velmar
