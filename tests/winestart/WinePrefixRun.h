#pragma once
// What the tests that run real Wine share: one Wine prefix for the test run, the Windows stand-in
// starter, and waiting for the record the stand-in writes.
//
// The prefix is the one the test run's fixture made (see prefix.sh); a test program run on its
// own makes one for itself and removes it at the end. It holds the stand-in as
// C:\Program Files\Holmgard\Velmar Tides\TidesStartup.exe with GAMEPATH pointing there, set by
// `wine reg add` only. Wine's output always goes to files, never to a pipe.
#include <string>

namespace velmar::test {

// The shared prefix (valid while the tests run).
const std::string& winePrefix();
// The game folder inside it, as the game's installer wrote it.
inline const char* const PrefixGamePath = "C:\\Program Files\\Holmgard\\Velmar Tides";
// The short form Wine gives its starter in every fresh prefix.
inline const char* const PrefixStarterShortPath = "C:\\PROG~FBU\\Holmgard\\VELM~GFJ\\TIDE~KUK.EXE";

// Copies the stand-in starter to `file`.
void installStandIn(const std::string& file);

// Waits until the stand-in has written its record to `file` (it renames the finished record into
// place), for at most `seconds`; returns the record, or "" when none came.
std::string waitForRecord(const std::string& file, int seconds = 120);

// The Windows name of a Unix file for a Wine program ("Z:" followed by the path).
inline std::string windowsName(const std::string& unixPath) {
    return "Z:" + unixPath;
}

// Runs a shell command with Wine's settings for tests, its output going to `outputFile`;
// returns its exit status.
int runWithWine(const std::string& command, const std::string& outputFile);

// A minimal but complete 32-bit Windows program (it returns 0 at once), as bytes.
std::string windows32BitProgram();

} // namespace velmar::test
