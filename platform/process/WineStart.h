#pragma once
// Starting the game's Windows starter through Wine, the way Windows would start it. `wine` runs
// our helper velmar-wine-start.exe, which computes the 8.3 short form of the program path and
// calls CreateProcessW with "<short path>[ <argument>]" exactly (`wine PROGRAM ARG` would quote
// the program word and escape the argument's double quotes). The start runs in the background:
// the event loop keeps running until the helper reports, which takes a fraction of a second
// with a running Wine server and several seconds when Wine's server has to start first.
#include "platform/process/ProcessStarter.h"

#include <QObject>
#include <QTimer>

#include <chrono>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;

namespace velmar {

struct WineStartRequest {
    // The command line that runs Wine: words split as a shell splits them, without a shell (no
    // variables, no globbing, no substitution); the helper's path is appended as one more word.
    // Its first word is a program name (looked up along PATH) or a path.
    std::string wineCommand = "wine";
    std::string helper;      // Unix path of velmar-wine-start.exe
    std::string prefix;      // the Wine prefix (an absolute path)
    bool makePrefix = false; // a prefix that is missing or empty is made by Wine, as `wine` does
    std::string program;     // the starter: a Windows path (C:\...) or its Unix path
    std::optional<std::string> argument;
    std::string folder; // Unix folder that becomes the game's current directory
};

// The words of a command line as a POSIX shell splits them: blanks separate words, '...' keeps
// everything, "..." keeps everything but \\ \" \$ \` (and a backslash before them), a
// backslash outside quotes keeps the next character. Nothing is expanded. Nothing for an
// unclosed quote.
std::optional<std::vector<std::string>> splitCommandLine(const std::string& line);

// The longest argument, in bytes, that reaches the game whole through the helper.
inline constexpr std::size_t MaxWineArgumentBytes = 16000;
// The longest path of the starter, in UTF-16 units, that Windows programs can start (MAX_PATH
// less the terminating zero).
inline constexpr std::size_t MaxWindowsPath = 259;

// Where the launcher keeps the helper: <folder of this executable>/../libexec/velmar-launcher/.
std::string wineStartHelperPath();

// True when the file begins with "MZ", the mark of a Windows (or DOS) program.
bool isWindowsProgram(const std::string& file);

// The program a command names, as an absolute path: a name with a '/' as it stands (a relative one
// taken from the current folder), else the first executable file of that name in a folder of
// PATH. Empty and relative PATH elements are skipped: they name whatever folder the search runs
// in. Empty when there is none.
std::string findCommand(const std::string& command);

// Where Wine's output of the last start through Wine is kept:
// <state folder>/wine-start.log (see wine::stateFolder()).
std::string wineStartLogPath();

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

    // How long Wine may take before the start is given up (the helper is ended, and `done`
    // reports that): generous, since a first start makes the prefix, which takes half a minute.
    void setTimeLimit(std::chrono::milliseconds limit) { timeLimit_ = limit; }
    static constexpr std::chrono::minutes DefaultTimeLimit{3};

private:
    void helperEnded();
    void timeUp();

    std::chrono::milliseconds timeLimit_ = DefaultTimeLimit;
    QTimer limit_;
    bool timedOut_ = false;
    std::string logFile_; // "" when the output went to an unnamed file
    long pid_ = 0;
    int pidfd_ = -1;
    int output_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    Done done_;
};

// The error text for a prefix that does not exist where the game's folder needs one (a folder
// written with a drive letter): a new prefix would not hold the game.
std::string winePrefixMissingText(const std::string& prefix);

// The error text for a failure the helper reported with a Windows error code and the system's
// text for it ("" when it gave none).
std::string wineErrorText(unsigned long code, const std::string& systemText);

} // namespace velmar
