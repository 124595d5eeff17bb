// StartProgram with a real child: a small shell script standing in for the game's starter,
// which writes what it was given into a file named by the environment.
#include "platform/process/ProcessStarter.h"
#include "tests/support/TempConfig.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace velmar {
namespace {

namespace fs = std::filesystem;

// The signal state is read first and with the shell's builtins only: while the shell forks a
// command it blocks every signal for a moment, and a child reading /proc/$$/status then sees
// that passing mask instead of the one the starter gave us.
const char* const StarterScript = R"SH(#!/bin/sh
while IFS= read -r line; do
  case $line in SigBlk:*|SigIgn:*) printf '%s\n' "$line" ;; esac
done < /proc/$$/status > "$VELMAR_STARTER_OUT.signals"
ls -l /proc/$$/fd > "$VELMAR_STARTER_OUT.fds" 2>&1
{
  echo "argc=$#"
  for a in "$@"; do printf 'arg=[%s]\n' "$a"; done
  printf 'pwd=%s\n' "$(pwd)"
} > "$VELMAR_STARTER_OUT"
)SH";

std::string ReadFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const fs::path& file, const std::string& content, fs::perms perms) {
    std::ofstream(file, std::ios::binary) << content;
    fs::permissions(file, perms);
}

// The first bytes of a Windows program ("MZ" header).
std::string WindowsProgramStart() {
    static const char bytes[] = "MZ\x90\0\3\0\0\0\4\0\0\0\xff\xff";
    return std::string(bytes, sizeof bytes - 1);
}

class ProcessStarterTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldCwd_ = fs::current_path();
        output_ = fs::path(temp_.path()) / "starter-output.txt";
        setenv("VELMAR_STARTER_OUT", output_.c_str(), 1);
    }
    void TearDown() override {
        fs::current_path(oldCwd_);
        unsetenv("VELMAR_STARTER_OUT");
    }

    // A folder holding the starter script, made the current directory as the launcher does.
    std::string MakeInstallation(const std::string& name) {
        const fs::path folder = fs::path(temp_.path()) / name;
        fs::create_directories(folder);
        WriteFile(folder / "TidesStartup.exe", StarterScript, fs::perms::owner_all);
        EXPECT_TRUE(SetCurrentFolder(folder.string()));
        return (folder / "TidesStartup.exe").string();
    }

    // Starts the program, waits for it and returns what it wrote.
    std::string Run(const std::string& program, const std::optional<std::string>& argument) {
        const StartResult result = StartProgram(program, argument);
        EXPECT_TRUE(result.started) << result.errorText;
        EXPECT_EQ(result.errorText, "");
        EXPECT_GT(result.pid, 0);
        if (!result.started)
            return {};
        int status = 0;
        EXPECT_EQ(waitpid(static_cast<pid_t>(result.pid), &status, 0), result.pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        return ReadFile(output_);
    }

    test::TempDir temp_;
    fs::path output_;

private:
    fs::path oldCwd_;
};

TEST_F(ProcessStarterTest, WithoutArgument) {
    const std::string program = MakeInstallation("G1");
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(Run(program, std::nullopt), "argc=0\npwd=" + cwd + "\n");
}

TEST_F(ProcessStarterTest, ArgumentIsOneWordAsItStands) {
    const std::string program = MakeInstallation("G1");
    const std::string cwd = fs::current_path().string();
    EXPECT_EQ(Run(program, "/s"), "argc=1\narg=[/s]\npwd=" + cwd + "\n");
    EXPECT_EQ(Run(program, "/c\"  10.0.0.1 x\""),
              "argc=1\narg=[/c\"  10.0.0.1 x\"]\npwd=" + cwd + "\n");
    EXPECT_EQ(Run(program, "it's $HOME `x` *"),
              "argc=1\narg=[it's $HOME `x` *]\npwd=" + cwd + "\n");
}

TEST_F(ProcessStarterTest, EmptyArgumentIsStillAWord) {
    const std::string program = MakeInstallation("G1");
    EXPECT_EQ(Run(program, std::string()),
              "argc=1\narg=[]\npwd=" + fs::current_path().string() + "\n");
}

TEST_F(ProcessStarterTest, FolderWithBlanksAndLettersBeyondAscii) {
    const std::string program = MakeInstallation("Velmar Tides \xc3\x9c"
                                                 "bers\xc3\xa4tze");
    const std::string cwd = fs::current_path().string();
    EXPECT_NE(cwd.find("Velmar Tides \xc3\x9c"), std::string::npos);
    EXPECT_EQ(Run(program, "/s"), "argc=1\narg=[/s]\npwd=" + cwd + "\n");
}

TEST_F(ProcessStarterTest, RelativePathIsTakenFromTheCurrentFolder) {
    MakeInstallation("G2");
    EXPECT_EQ(Run("./TidesStartup.exe", std::nullopt),
              "argc=0\npwd=" + fs::current_path().string() + "\n");
}

TEST_F(ProcessStarterTest, ChildGetsOnlyTheStandardStreamsAndNoBlockedSignals) {
    const std::string program = MakeInstallation("G1");
    // A file opened without close-on-exec, as a careless library might.
    const fs::path marker = fs::path(temp_.path()) / "launcher-private.db";
    const int leaky = open(marker.c_str(), O_CREAT | O_RDWR, 0600);
    ASSERT_GE(leaky, 3);
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGUSR1);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &old), 0);
    struct sigaction ignore {
    }, oldAction{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(sigaction(SIGUSR2, &ignore, &oldAction), 0);

    Run(program, std::nullopt);

    sigaction(SIGUSR2, &oldAction, nullptr);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(leaky);

    const std::string fds = ReadFile(output_.string() + ".fds");
    EXPECT_THAT(fds, ::testing::HasSubstr(" 0 -> "));
    EXPECT_THAT(fds, ::testing::HasSubstr(" 2 -> "));
    EXPECT_THAT(fds, ::testing::Not(::testing::HasSubstr("launcher-private.db"))) << fds;
    const std::string signals = ReadFile(output_.string() + ".signals");
    EXPECT_THAT(signals, ::testing::HasSubstr("SigBlk:\t0000000000000000")) << signals;
    // Ignored here, at its default action in the child (signals 32 and up belong to the C library
    // are its business).
    const std::size_t ignored = signals.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << signals;
    const unsigned long long ignoredMask =
        std::stoull(signals.substr(ignored + 8, 16), nullptr, 16);
    EXPECT_EQ(ignoredMask & 0x7fffffffULL, 0u) << signals;
}

TEST_F(ProcessStarterTest, EnvironmentIsInherited) {
    const std::string program = MakeInstallation("G1");
    // The script finds its output file only through the inherited environment.
    setenv("VELMAR_STARTER_OUT", (output_.string() + ".other").c_str(), 1);
    const StartResult result = StartProgram(program, std::nullopt);
    ASSERT_TRUE(result.started);
    int status = 0;
    waitpid(static_cast<pid_t>(result.pid), &status, 0);
    EXPECT_THAT(ReadFile(output_.string() + ".other"), ::testing::StartsWith("argc=0\n"));
}

TEST_F(ProcessStarterTest, MissingProgram) {
    const fs::path folder = fs::path(temp_.path()) / "empty";
    fs::create_directories(folder);
    for (const std::string& program :
         {(folder / "TidesStartup.exe").string(), std::string("/TidesStartup.exe-not-here"),
          std::string(), std::string("sh")}) { // "sh" is found along PATH only
        const StartResult result = StartProgram(program, "/s");
        EXPECT_FALSE(result.started) << program;
        EXPECT_EQ(result.errorText, "No such file or directory") << program;
    }
}

TEST_F(ProcessStarterTest, ProgramsThatCanNotRunHere) {
    const fs::path folder = fs::path(temp_.path()) / "broken";
    fs::create_directories(folder / "a-directory.exe");
    WriteFile(folder / "not-executable.exe", StarterScript,
              fs::perms::owner_read | fs::perms::owner_write);
    // The start of a Windows program: this system can not run it.
    WriteFile(folder / "TidesStartup.exe", WindowsProgramStart(), fs::perms::owner_all);
    for (const char* name : {"a-directory.exe", "not-executable.exe", "TidesStartup.exe"}) {
        const StartResult result = StartProgram((folder / name).string(), std::nullopt);
        EXPECT_FALSE(result.started) << name;
        EXPECT_EQ(result.errorText, "Exec format error") << name;
        EXPECT_EQ(result.pid, 0) << name;
    }
}

TEST_F(ProcessStarterTest, SetCurrentFolder) {
    const fs::path folder = fs::path(temp_.path()) / "Ordner mit Leerzeichen";
    fs::create_directories(folder);
    EXPECT_TRUE(SetCurrentFolder(folder.string()));
    EXPECT_EQ(fs::current_path(), folder);
    EXPECT_FALSE(SetCurrentFolder((folder / "missing").string()));
    EXPECT_FALSE(SetCurrentFolder(""));
    EXPECT_EQ(fs::current_path(), folder);
}

TEST(ProcessExitDeathTest, ExitProcessNowFlushesAndSkipsExitHandlers) {
    EXPECT_EXIT(
        {
            static char buffer[256];
            std::setvbuf(stderr, buffer, _IOFBF, sizeof buffer);
            std::atexit([] { std::fputs("exit handler ran", stderr); });
            std::fputs("buffered text", stderr);
            ExitProcessNow(7);
        },
        ::testing::ExitedWithCode(7),
        ::testing::AllOf(::testing::HasSubstr("buffered text"),
                         ::testing::Not(::testing::HasSubstr("exit handler ran"))));
}

} // namespace
} // namespace velmar
