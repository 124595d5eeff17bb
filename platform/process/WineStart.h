#pragma once
// Starting the game's Windows starter through Wine, the way Windows would start it. `wine` runs
// our helper velmar-wine-start.exe, which computes the 8.3 short form of the program path and
// calls CreateProcessW with "<short path>[ <argument>]" exactly (`wine PROGRAM ARG` would quote
// the program word and escape the argument's double quotes). The start runs in the background:
// the event loop keeps running until the helper reports, which takes a fraction of a second
// with a running Wine server and several seconds when Wine's server has to start first.
#include "platform/process/ProcessStarter.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QSocketNotifier;

namespace velmar {

struct WineStartRequest {
    std::string wineCommand = "wine"; // a program name (looked up along PATH) or a path
    std::string helper;               // Unix path of velmar-wine-start.exe
    std::string prefix;               // the Wine prefix; it must exist (system.reg)
    std::string program;              // the starter: a Windows path (C:\...) or its Unix path
    std::optional<std::string> argument;
    std::string folder; // Unix folder that becomes the game's current directory
};

// Where the launcher keeps the helper: <folder of this executable>/../libexec/velmar-launcher/.
std::string wineStartHelperPath();

// True when the file begins with "MZ", the mark of a Windows (or DOS) program.
bool isWindowsProgram(const std::string& file);

// The program a command names: a name with a '/' as it stands, else the first executable file of
// that name along PATH. Empty when there is none.
std::string findCommand(const std::string& command);

class WineStarter : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void(const StartResult&)>;

    WineStarter();
    ~WineStarter() override;

    // Starts the helper. When that is not possible at all (Wine, prefix or helper missing), the
    // result says why at once and `done` is never called. Otherwise the result is not started
    // and has no error text: `done` runs later, once, from the event loop, with the outcome.
    StartResult start(const WineStartRequest& request, Done done);
    bool running() const { return pid_ > 0; }

private:
    void helperEnded();

    long pid_ = 0;
    int pidfd_ = -1;
    int output_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    Done done_;
};

// The error text for a prefix that does not exist (Wine would make one, silently and at length,
// and then fail).
std::string winePrefixMissingText(const std::string& prefix);

// The error text for a failure the helper reported with a Windows error code and the system's
// text for it ("" when it gave none).
std::string wineErrorText(unsigned long code, const std::string& systemText);

} // namespace velmar
