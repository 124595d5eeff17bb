#include "platform/process/ProcessStarter.h"

#include "platform/files/RegularFile.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

extern char** environ;

namespace velmar {

namespace {

std::string SpawnErrorText(int error) {
    switch (error) {
    case EINVAL:
        return "Invalid argument";
    case ENOMEM:
        return "Not enough memory";
    case EAGAIN:
        return "Resource temporarily unavailable";
    default: // a folder, a file without execute permission, a program of another system, ...
        return "Exec format error";
    }
}

// Spawn attributes and file actions that are destroyed with the object.
class SpawnSetup {
public:
    SpawnSetup() {
        attrOk_ = posix_spawnattr_init(&attr_) == 0;
        actionsOk_ = posix_spawn_file_actions_init(&actions_) == 0;
    }
    ~SpawnSetup() {
        if (attrOk_)
            posix_spawnattr_destroy(&attr_);
        if (actionsOk_)
            posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // 0 or the error number of the step that failed.
    int prepare() {
        if (!attrOk_ || !actionsOk_)
            return ENOMEM;
        // The game starts with no blocked signals and every signal at its default action, whatever
        // this process (or a library in it) has blocked or ignored.
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        if (int error = posix_spawnattr_setsigmask(&attr_, &none))
            return error;
        if (int error = posix_spawnattr_setsigdefault(&attr_, &all))
            return error;
        if (int error =
                posix_spawnattr_setflags(&attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF))
            return error;
        // Only the standard streams are handed on: sockets, the settings database and any other
        // file this process holds stay behind, even one a library opened without close-on-exec.
        if (int error = posix_spawn_file_actions_addclosefrom_np(&actions_, 3))
            return error;
        return 0;
    }

    const posix_spawnattr_t* attr() const { return &attr_; }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    posix_spawnattr_t attr_{};
    posix_spawn_file_actions_t actions_{};
    bool attrOk_ = false;
    bool actionsOk_ = false;
};

} // namespace

StartResult StartProgram(const std::string& program, const std::optional<std::string>& argument) {
    StartResult result;
    struct stat info {};
    if (program.empty() || stat(program.c_str(), &info) != 0) {
        result.errorText = "No such file or directory";
        return result;
    }
    // A FIFO, a socket or a device is no program: say so, rather than what starting it says.
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        result.errorText = files::RegularFile(program).error();
        return result;
    }

    // The argument is one word of its own, passed as it stands: blanks and quotes stay inside
    // it and an empty argument is still a word.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    if (argument)
        argv.push_back(const_cast<char*>(argument->c_str()));
    argv.push_back(nullptr);

    SpawnSetup setup;
    int error = setup.prepare();
    pid_t pid = 0;
    if (error == 0) {
        // posix_spawn, not posix_spawnp: the path is used as given, never looked up along PATH.
        error =
            posix_spawn(&pid, program.c_str(), setup.actions(), setup.attr(), argv.data(), environ);
    }
    if (error != 0) {
        result.errorText = SpawnErrorText(error);
        return result;
    }
    result.started = true;
    result.pid = static_cast<long>(pid);
    return result;
}

bool SetCurrentFolder(const std::string& folder) {
    return chdir(folder.c_str()) == 0;
}

void ExitProcessNow(int code) {
    std::fflush(nullptr);
    _exit(code);
}

} // namespace velmar
