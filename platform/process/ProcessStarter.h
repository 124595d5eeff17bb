#pragma once
#include <optional>
#include <string>

namespace velmar {

// The platform's path separator, put between a folder and a file name.
#ifdef _WIN32
constexpr char PathSeparator = '\\';
#else
constexpr char PathSeparator = '/';
#endif

struct StartResult {
    bool started = false;
    std::string errorText; // when not started: "No such file or directory", "Invalid argument",
                           // "Not enough memory", "Resource temporarily unavailable" or
                           // "Exec format error"
    long pid = 0;          // the started process (the launcher never waits for it)
};

// Starts `program` (not searched along PATH) with `argument` as its one argument word, or with
// no argument when it is nullopt. The child inherits the environment, the current directory and
// the standard input, output and error; no other open file of this process reaches it.
StartResult StartProgram(const std::string& program, const std::optional<std::string>& argument);

// Makes `folder` the current directory; false when that fails.
bool SetCurrentFolder(const std::string& folder);

// Ends this process at once with `code`, without closing windows.
[[noreturn]] void ExitProcessNow(int code);

} // namespace velmar
