#include "platform/process/WineStart.h"

#include "platform/files/RegularFile.h"
#include "platform/wine/WinePrefix.h"

#include <QSocketNotifier>
#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace velmar {

namespace {

constexpr const char* ResultMark = "velmar-wine-start: ";

std::string hexOf(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// PATH's absolute folders: an empty or relative element would name the folder a program of the
// command (a wrapper's `exec wine`, say) runs in, the game's folder.
std::vector<std::string> absolutePathFolders() {
    std::vector<std::string> folders;
    const char* path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t pos = 0;
    while (pos <= dirs.size()) {
        std::size_t end = dirs.find(':', pos);
        if (end == std::string::npos)
            end = dirs.size();
        if (end > pos && dirs[pos] == '/')
            folders.push_back(dirs.substr(pos, end - pos));
        pos = end + 1;
    }
    return folders;
}

// The environment of the child: ours, with the prefix named, PATH made of absolute folders only,
// the helper's input, and Wine's debugging output off unless the user asked for it.
std::vector<std::string> childEnvironment(const WineStartRequest& request) {
    std::vector<std::string> env;
    bool hasDebug = false;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "WINEPREFIX" || name == "VELMAR_START_PROGRAM" ||
            name == "VELMAR_START_ARGUMENT")
            continue;
        if (name == "PATH") {
            std::string path = "PATH=";
            for (const std::string& folder : absolutePathFolders())
                path += (path.size() > 5 ? ":" : "") + folder;
            env.push_back(path);
            continue;
        }
        hasDebug = hasDebug || name == "WINEDEBUG";
        env.push_back(entry);
    }
    env.push_back("WINEPREFIX=" + request.prefix);
    if (!hasDebug)
        env.push_back("WINEDEBUG=-all");
    env.push_back("VELMAR_START_PROGRAM=" + hexOf(request.program));
    if (request.argument)
        env.push_back("VELMAR_START_ARGUMENT=" + hexOf(*request.argument));
    return env;
}

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = pread(fd, buffer, sizeof buffer, offset);
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        offset += n;
        if (text.size() > (1u << 20))
            break; // Wine's own chatter can be long; the helper's line is near the start
    }
    return text;
}

std::string lastLine(const std::string& text) {
    std::size_t end = text.find_last_not_of("\r\n \t");
    if (end == std::string::npos)
        return {};
    const std::size_t begin = text.find_last_of('\n', end);
    std::string line = text.substr(begin == std::string::npos ? 0 : begin + 1,
                                   end + 1 - (begin == std::string::npos ? 0 : begin + 1));
    if (line.size() > 200)
        line = line.substr(0, 200) + "...";
    return line;
}

// What keeps Wine from running in the request's prefix, or "".
std::string prefixProblem(const WineStartRequest& request) {
    const std::string& prefix = request.prefix;
    if (prefix.empty() || prefix.front() != '/')
        return "The Wine prefix \"" + prefix + "\" is not an absolute path.";
    if (!wine::prefixExists(prefix)) {
        if (!request.makePrefix || !wine::prefixToBeMade(prefix))
            return winePrefixMissingText(prefix);
        // Wine makes the prefix's folder itself, or fills the empty one.
        struct stat info {};
        const std::string where = lstat(prefix.c_str(), &info) == 0
                                      ? prefix
                                      : std::filesystem::path(prefix).parent_path().string();
        if (access(where.c_str(), W_OK) == 0)
            return {};
        const std::string why = std::strerror(errno);
        return "Wine can not make the prefix " + prefix + " (" + where + ": " + why +
               "). Make that folder yours and writable, or start the launcher with WINEPREFIX "
               "set to a prefix of yours.";
    }
    for (const std::string& file : {prefix, wine::systemRegistryFile(prefix)}) {
        if (access(file.c_str(), W_OK) != 0) {
            const std::string why = std::strerror(errno);
            return "Wine can not write into the prefix " + prefix + " (" + file + ": " + why +
                   "), and it must, to run a program there. Make the prefix yours and writable, "
                   "or choose another one.";
        }
    }
    return {};
}

// The length of the starter's path in UTF-16 units as Windows names it: a drive-letter path as it
// is, a Unix path inside the prefix's drive_c as C:\..., any other Unix path as Z:\...
std::size_t windowsPathLength(const WineStartRequest& request) {
    std::string path = request.program;
    if (!wine::isDrivePath(path)) {
        const std::string driveC = request.prefix + "/drive_c/";
        path = path.rfind(driveC, 0) == 0 ? "C:\\" + path.substr(driveC.size()) : "Z:" + path;
    }
    return static_cast<std::size_t>(QString::fromStdString(path).size());
}

// Opens the log of a start, emptied; `path` is its name, or "" when it could not be made in the
// state folder and an unnamed file stands in.
int openLog(std::string& path) {
    path = wineStartLogPath();
    std::error_code ec;
    std::filesystem::create_directories(wine::stateFolder(), ec);
    int fd =
        open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(fd);
        fd = -1;
    }
    if (fd >= 0) {
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    path.clear();
    char name[] = "/tmp/velmar-wine-start-XXXXXX";
    fd = mkostemp(name, O_CLOEXEC);
    if (fd >= 0)
        unlink(name);
    return fd;
}

} // namespace

std::string wineStartHelperPath() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return (self.parent_path() / ".." / "libexec" / "velmar-launcher" / "velmar-wine-start.exe")
        .lexically_normal()
        .string();
}

bool isWindowsProgram(const std::string& file) {
    char mark[2] = {};
    return files::RegularFile(file).read(mark, 2) == 2 && mark[0] == 'M' && mark[1] == 'Z';
}

std::string findCommand(const std::string& command) {
    auto runnable = [](const std::string& file) {
        struct stat info {};
        return stat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
               access(file.c_str(), X_OK) == 0;
    };
    if (command.empty())
        return {};
    if (command.find('/') != std::string::npos) {
        if (!runnable(command))
            return {};
        return command.front() == '/' ? command : std::filesystem::absolute(command).string();
    }
    for (const std::string& folder : absolutePathFolders()) {
        const std::string file = folder + "/" + command;
        if (runnable(file))
            return file;
    }
    return {};
}

std::optional<std::vector<std::string>> splitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                words.push_back(std::move(word));
            word.clear();
            inWord = false;
            continue;
        }
        inWord = true;
        if (c == '\'') {
            const std::size_t end = line.find('\'', i + 1);
            if (end == std::string::npos)
                return std::nullopt;
            word += line.substr(i + 1, end - i - 1);
            i = end;
        } else if (c == '"') {
            for (++i;; ++i) {
                if (i >= line.size())
                    return std::nullopt;
                if (line[i] == '"')
                    break;
                if (line[i] == '\\' && i + 1 < line.size() &&
                    std::string_view("\\\"$`\n").find(line[i + 1]) != std::string_view::npos)
                    ++i;
                word += line[i];
            }
        } else if (c == '\\') {
            if (i + 1 < line.size())
                word += line[++i];
        } else {
            word += c;
        }
    }
    if (inWord)
        words.push_back(std::move(word));
    return words;
}

std::string wineStartLogPath() {
    return wine::stateFolder() + "/wine-start.log";
}

std::string winePrefixMissingText(const std::string& prefix) {
    std::string text = "There is no Wine prefix at " + prefix +
                       " (its system.reg is missing), so the game's folder is not there. Install "
                       "the game with Wine first";
    const char* env = std::getenv("WINEPREFIX");
    if (!env || !*env)
        text += ", or start the launcher with WINEPREFIX set to the game's prefix";
    return text + ".";
}

std::string wineErrorText(unsigned long code, const std::string& systemText) {
    switch (code) {
    case 2: // ERROR_FILE_NOT_FOUND
    case 3: // ERROR_PATH_NOT_FOUND
        return "No such file or directory";
    case 216: // ERROR_EXE_MACHINE_TYPE_MISMATCH: the helper's answer for a 32-bit program
        return "TidesStartup.exe is a 32-bit Windows program, and this Wine runs only 64-bit "
               "programs. Install 32-bit Wine (Debian: dpkg --add-architecture i386 && apt-get "
               "update && apt-get install wine32:i386).";
    case 193: // ERROR_BAD_EXE_FORMAT
        return "TidesStartup.exe is not a Windows program that Wine can run (bad EXE format); "
               "the installation may be damaged.";
    default:
        break;
    }
    if (!systemText.empty())
        return systemText + " (Windows error " + std::to_string(code) + ")";
    return "Windows error " + std::to_string(code);
}

WineStarter::WineStarter() = default;

WineStarter::~WineStarter() {
    // The helper is not stopped: the game it may be starting belongs to the player.
    if (pidfd_ >= 0)
        close(pidfd_);
    if (output_ >= 0)
        close(output_);
}

StartResult WineStarter::start(const WineStartRequest& request, Done done) {
    StartResult result;
    if (running()) {
        result.errorText = "Resource temporarily unavailable";
        return result;
    }
    auto words = splitCommandLine(request.wineCommand);
    if (!words) {
        result.errorText = "The Wine command line \"" + request.wineCommand +
                           "\" (the launcher's registry value WineCommand) has a quote that is "
                           "not closed.";
        return result;
    }
    if (!words->empty())
        words->front() = findCommand(words->front());
    if (words->empty() || words->front().empty()) {
        result.errorText = "Wine was not found (\"" + request.wineCommand +
                           "\"). Install Wine (Debian: apt-get install wine wine64), or name "
                           "your Wine in the launcher's registry value WineCommand.";
        return result;
    }
    if (!(result.errorText = prefixProblem(request)).empty())
        return result;
    if (request.argument && request.argument->size() > MaxWineArgumentBytes) {
        result.errorText = "The command line for the game is too long: Wine passes at most " +
                           std::to_string(MaxWineArgumentBytes) +
                           " characters whole, and this server address makes it " +
                           std::to_string(request.argument->size()) + ".";
        return result;
    }
    if (const std::size_t length = windowsPathLength(request); length > MaxWindowsPath) {
        result.errorText = "The path of TidesStartup.exe is " + std::to_string(length) +
                           " characters long as Windows names it; Windows programs can be "
                           "started from paths of at most " +
                           std::to_string(MaxWindowsPath) +
                           ". Move the game into a folder with a shorter path.";
        return result;
    }
    struct stat info {};
    if (request.helper.empty() || stat(request.helper.c_str(), &info) != 0) {
        result.errorText = "The launcher's Wine start helper is missing (" + request.helper +
                           "). Reinstall the launcher.";
        return result;
    }

    // Wine's output goes to a file, never a pipe: Wine's server lives on after the helper and
    // would keep a pipe open. The file is the log of this start, kept until the next one.
    const int output = openLog(logFile_);
    if (output < 0) {
        result.errorText = std::strerror(errno);
        return result;
    }

    std::vector<std::string> env = childEnvironment(request);
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string helper = request.helper;
    const std::string program = words->front();
    std::vector<char*> argv;
    for (std::string& word : *words)
        argv.push_back(word.data());
    argv.push_back(helper.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    int error = posix_spawnattr_setsigmask(&attr, &none);
    if (!error)
        error = posix_spawnattr_setsigdefault(&attr, &all);
    if (!error)
        error = posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (!error)
        error = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!error)
        error = posix_spawn_file_actions_adddup2(&actions, output, 1);
    if (!error)
        error = posix_spawn_file_actions_adddup2(&actions, output, 2);
    if (!error)
        error = posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (!error)
        error = posix_spawn_file_actions_addchdir_np(&actions, request.folder.c_str());
    pid_t pid = 0;
    if (!error)
        error = posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (error) {
        close(output);
        result.errorText = error == ENOENT ? "No such file or directory" : std::strerror(error);
        return result;
    }

    pid_ = pid;
    output_ = output;
    done_ = std::move(done);
    timedOut_ = false;
    limit_.setSingleShot(true);
    limit_.callOnTimeout(this, &WineStarter::timeUp, Qt::UniqueConnection);
    limit_.start(timeLimit_);
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (pidfd_ < 0) {
        // A kernel older than 5.3 can not tell us; then the helper's end is waited for on the
        // next pass of the event loop.
        QMetaObject::invokeMethod(
            this, [this] { helperEnded(); }, Qt::QueuedConnection);
        return result;
    }
    fcntl(pidfd_, F_SETFD, FD_CLOEXEC);
    notifier_ = new QSocketNotifier(pidfd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { helperEnded(); });
    return result;
}

void WineStarter::timeUp() {
    // Only the process started here is ended; what it may have started goes on.
    if (pid_ > 0 && kill(static_cast<pid_t>(pid_), SIGKILL) == 0)
        timedOut_ = true;
}

void WineStarter::helperEnded() {
    limit_.stop();
    int status = 0;
    pid_t got;
    do {
        got = waitpid(static_cast<pid_t>(pid_), &status, 0);
    } while (got < 0 && errno == EINTR);
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_->deleteLater();
        notifier_ = nullptr;
    }
    if (pidfd_ >= 0)
        close(pidfd_);
    pidfd_ = -1;
    pid_ = 0;

    const std::string text = readAll(output_);
    close(output_);
    output_ = -1;

    StartResult result;
    const std::size_t mark = text.rfind(ResultMark);
    if (timedOut_) {
        const auto minutes =
            std::chrono::duration_cast<std::chrono::duration<double, std::ratio<60>>>(timeLimit_);
        char amount[32];
        std::snprintf(amount, sizeof amount, "%g", minutes.count());
        result.errorText = "Wine did not start the game within " + std::string(amount) +
                           " minutes, and the start was given up. A first start in a new prefix "
                           "takes about half a minute; a longer wait means that Wine or the "
                           "WineCommand hangs.";
    } else if (mark != std::string::npos) {
        const std::size_t begin = mark + std::strlen(ResultMark);
        const std::size_t end = text.find('\n', begin);
        const std::string line = text.substr(begin, end == std::string::npos ? end : end - begin);
        char* rest = nullptr;
        const unsigned long code = std::strtoul(line.c_str(), &rest, 10);
        std::string systemText = rest ? rest : "";
        const std::size_t first = systemText.find_first_not_of(' ');
        systemText = first == std::string::npos ? std::string() : systemText.substr(first);
        if (code == 0 && rest != line.c_str())
            result.started = true;
        else
            result.errorText = wineErrorText(code, systemText);
    } else {
        std::string why = lastLine(text);
        result.errorText = "Wine could not run the start helper (" +
                           (WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                              : std::string("ended by a signal")) +
                           ")" + (why.empty() ? std::string(".") : ": " + why);
    }
    if (!result.started && !logFile_.empty())
        result.errorText += "\nWine's output of this start: " + logFile_;
    Done done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
}

} // namespace velmar
