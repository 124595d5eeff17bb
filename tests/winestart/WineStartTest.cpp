// The game started through real Wine: the real launcher (whole program, and the window in this
// process), the real helper, a real prefix, and a Windows stand-in starter that records the
// command line Windows gave it, its argv and its current directory.
#include "tests/app/WindowFixture.h"
#include "tests/winestart/WinePrefixRun.h"

#include "platform/process/WineStart.h"
#include "platform/toolkit/AppCursor.h"
#include "platform/wine/WinePrefix.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace velmar;
using namespace velmar::test;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

namespace {

const char* const Failed = "MESSAGE: Velmar Tides konnte nicht gestartet werden.|";

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

struct Outcome {
    int status = -1;
    std::string out;
};

// The whole launcher, as a player starts it, with its own settings and the shared prefix.
class WholeLauncher : public ::testing::Test {
protected:
    std::string record() const { return work.path() + "/record.txt"; }

    std::string log() const { return work.path() + "/state/VelmarLauncher/wine-start.log"; }

    // `prefix` "" runs the launcher as the menu entry does: no WINEPREFIX, and HOME is home().
    Outcome run(const std::string& command, const std::string& prefix = winePrefix(),
                const std::string& env = {}) const {
        const std::string out = work.path() + "/launcher-output.txt";
        const std::string line = "XDG_CONFIG_HOME=" + quote(config.path()) +
                                 " XDG_STATE_HOME=" + quote(work.path() + "/state") +
                                 " QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 " +
                                 (prefix.empty() ? "HOME=" + quote(home()) + " env -u WINEPREFIX "
                                                 : "WINEPREFIX=" + quote(prefix)) +
                                 " VELMAR_STANDIN_OUT=" + quote(windowsName(record())) + " " + env +
                                 " " + command + " > " + quote(out) + " 2>/dev/null < /dev/null";
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out)};
    }
    Outcome launcher(const std::string& mode, const std::string& prefix = winePrefix(),
                     const std::string& env = {}) const {
        return run(std::string(VELMAR_BIN_DIR) + "/velmar-launcher-driver " + mode, prefix, env);
    }
    std::string home() const { return work.path() + "/home"; }
    void seed(const std::string& args) {
        ASSERT_EQ(run(std::string(VELMAR_BIN_DIR) + "/velmar-reg " + args).status, 0) << args;
    }
    void launcherValue(const std::string& name, const std::string& typeAndData) {
        seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v " + name + " " + typeAndData + " /f");
    }
    // An installation the player added with "Hinzufügen...": a Unix folder.
    std::string addUnixInstallation(const std::string& name, const std::string& starterName,
                                    const std::string& content = {}) {
        const std::string folder = work.path() + "/" + name;
        fs::create_directories(folder);
        if (content.empty())
            installStandIn(folder + "/" + starterName);
        else
            writeFile(folder + "/" + starterName, content);
        seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher\\Installations' /v Mine /d " +
             quote(folder) + " /f");
        launcherValue("LastInstallation", "/d Mine");
        return folder;
    }

    TempDir config;
    TempDir work;
};

// The system.reg that wineboot made, with the game's key and its neighbours put in by Wine
// (prefix.sh): each key is found where Wine wrote it, or told absent, from a few blocks, and the
// reader of whole files agrees.
TEST(KeyInWinesSystemReg, FoundOrToldAbsentFromAFewBlocksWhereWineOrdersIt) {
    using enum wine::KeyPresence;
    const std::string file = winePrefix() + "/system.reg";
    const std::uint64_t size = fs::file_size(file);
    ASSERT_GT(size, 1u << 20);
    const std::pair<const char*, wine::KeyPresence> cases[] = {
        {"Software\\Holmgard\\VELMARTIDES", Present},
        {"SOFTWARE\\holmgard\\velmartides", Present},
        {"Software\\Holm\\Sub", Present},
        {"Software\\Holm 2", Present},
        {"Software\\Holm_Tools", Present},
        {"Software\\HolmA", Present},
        {"Software\\Holm", Absent},
        {"Software\\Holm_", Absent},
        {"Software\\Holmgard", Absent},
        {"Software\\Holmgard\\VELMARTIDE", Absent},
        {"Software\\Holmgard\\VELMARTIDES2", Absent},
        {"Software\\Wow6432Node\\Holmgard\\VELMARTIDES", Absent},
    };
    for (const auto& [key, presence] : cases) {
        std::uint64_t read = 0;
        EXPECT_EQ(wine::seekRegistryKey(file, key, &read), presence) << key;
        EXPECT_LE(read, size / 16) << key;
        EXPECT_EQ(wine::readRegistryKey(file, key).has_value(), presence == Present) << key;
    }
}

// A player's HOME with prefixes that Wine made (copies of the test run's prefix, which holds the
// game), the launcher started without WINEPREFIX. The stand-in's marker tells where it ran.
class PrefixLayouts : public WholeLauncher, public ::testing::WithParamInterface<const char*> {
protected:
    ~PrefixLayouts() override {
        for (const std::string& prefix : made_)
            std::system(("WINEPREFIX=" + quote(prefix) + " wineserver -k 2>/dev/null").c_str());
    }
    std::string copyPrefix(const std::string& below) {
        const std::string prefix = home() + "/" + below;
        fs::create_directories(fs::path(prefix).parent_path());
        // Hard links: a prefix is large, and Wine replaces the files it changes (its registry
        // files by a rename) rather than writing into them, so the template stays as it was.
        EXPECT_EQ(std::system(("cp -al " + quote(winePrefix()) + " " + quote(prefix)).c_str()), 0);
        fs::remove(marker(prefix));
        made_.push_back(prefix);
        return prefix;
    }
    static std::string marker(const std::string& prefix) {
        return prefix + "/drive_c/velmar-marker.txt";
    }
    std::vector<std::string> made_;
};

TEST_P(PrefixLayouts, TheGameInALaunchersPrefixIsStandardAndRunsThereAfterARestart) {
    const std::string prefix = copyPrefix(GetParam());
    const Outcome listed = launcher("report", "");
    EXPECT_THAT(listed.out, HasSubstr("widget.cbInstallation=enabled=1 visible=1 text=Standard\n"));
    EXPECT_THAT(listed.out, HasSubstr("path.tooltip=Wine-Präfix: " + prefix + "\n"));
    const Outcome r = launcher("enter", ""); // a restart: the prefix was remembered
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record()), HasSubstr(PrefixStarterShortPath));
    EXPECT_TRUE(fs::exists(marker(prefix)));
}

INSTANTIATE_TEST_SUITE_P(Launchers, PrefixLayouts,
                         ::testing::Values("Games/velmar-tides", // Lutris
                                           ".local/share/bottles/bottles/Velmar",
                                           "Games/Heroic/Prefixes/Velmar Tides",
                                           ".steam/steam/steamapps/compatdata/1234560/pfx"));

TEST_F(PrefixLayouts, AFolderAddedFromInsideAPrefixRunsThereNotInDotWine) {
    const std::string prefix = copyPrefix("Games/other");
    fs::create_directories(home() + "/.wine/drive_c"); // winecfg's ~/.wine, without the game
    writeFile(home() + "/.wine/system.reg", "WINE REGISTRY Version 2\n");
    const std::string folder = prefix + "/drive_c/Program Files/Holmgard/Velmar Tides";
    const Outcome added = launcher("add", "", "VELMAR_DRIVER_FOLDER=" + quote(folder));
    EXPECT_THAT(added.out, HasSubstr("path.description=Wine-Präfix: " + prefix + "\n"));
    const Outcome r = launcher("enter", "");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record()), HasSubstr(PrefixStarterShortPath));
    EXPECT_TRUE(fs::exists(marker(prefix)));
    EXPECT_FALSE(fs::exists(marker(home() + "/.wine")));
}

TEST_F(PrefixLayouts, AFirstTimePlayerGetsThePrefixMadeAndTheGameStarted) {
    addUnixInstallation("Velmar", "TidesStartup.exe");
    made_.push_back(home() + "/.wine");
    fs::create_directories(home());
    const Outcome r = launcher("enter", "");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record(), 300), HasSubstr("argc=1\n"));
    EXPECT_TRUE(fs::exists(marker(home() + "/.wine")));
}

TEST_F(WholeLauncher, AGameInstalledInThePrefixIsTheStandardEntry) {
    const Outcome r = launcher("report");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("widget.cbInstallation=enabled=1 visible=1 text=Standard\n"));
    EXPECT_THAT(r.out, HasSubstr("widget.edPath=enabled=1 visible=1 text=" +
                                 std::string(PrefixGamePath) + "\n"));
    EXPECT_THAT(r.out, HasSubstr("widget.btLaunch=enabled=1"));
}

TEST_F(WholeLauncher, SingleplayerRunsTheStarterWithItsShortPathInItsFolder) {
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("STILL RUNNING")));
    const std::string got = waitForRecord(record());
    EXPECT_EQ(got, "cmdline=[" + std::string(PrefixStarterShortPath) + "]\nargc=1\ncwd=[" +
                       PrefixGamePath + "]\nhelper-input-visible=0\n");
}

TEST_F(WholeLauncher, ClientGetsTheAddressAsTypedBlanksAndAll) {
    launcherValue("GameType", "/t REG_DWORD /d 1");
    launcherValue("ClientServer", "/t REG_DWORD /d 0");
    launcherValue("ClientServerAddr", "/d \"  10.0.0.1 x\"");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string got = waitForRecord(record());
    // Windows' own splitting of that line: the quotes group, they are not part of the word.
    EXPECT_EQ(got, "cmdline=[" + std::string(PrefixStarterShortPath) +
                       " /c\"  10.0.0.1 x\"]\nargc=2\narg=[/c  10.0.0.1 x]\ncwd=[" +
                       PrefixGamePath + "]\nhelper-input-visible=0\n");
}

TEST_F(WholeLauncher, ServerGetsSlashS) {
    launcherValue("GameType", "/t REG_DWORD /d 1");
    launcherValue("ClientServer", "/t REG_DWORD /d 1");
    launcherValue("IpServerUrl", "/d http://127.0.0.1:9/whatismyip.php");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(
        waitForRecord(record()),
        HasSubstr("cmdline=[" + std::string(PrefixStarterShortPath) + " /s]\nargc=2\narg=[/s]\n"));
}

TEST_F(WholeLauncher, NoRoleEndsTheLineInOneBlank) {
    launcherValue("GameType", "/t REG_DWORD /d 1");
    launcherValue("ClientServer", "/t REG_DWORD /d 0xffffffff");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record()),
                HasSubstr("cmdline=[" + std::string(PrefixStarterShortPath) + " ]\nargc=1\n"));
}

TEST_F(WholeLauncher, AUnixFolderWithAnUpperCaseStarterRunsThroughWineToo) {
    const std::string folder = addUnixInstallation("Velmar Tides \xc3\x84", "TIDESSTARTUP.EXE");
    launcherValue("GameType", "/t REG_DWORD /d 1");
    launcherValue("ClientServer", "/t REG_DWORD /d 1");
    launcherValue("IpServerUrl", "/d http://127.0.0.1:9/whatismyip.php");
    // What Wine itself calls the starter's short path.
    const std::string shortName = work.path() + "/winepath.txt";
    std::string windowsPath = windowsName(folder + "/TIDESSTARTUP.EXE");
    std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
    ASSERT_EQ(runWithWine("winepath -s " + quote(windowsPath), shortName), 0);
    std::string expected = readFile(shortName);
    expected.erase(expected.find_last_not_of("\r\n") + 1);
    expected = expected.substr(expected.rfind('\n') + 1);
    ASSERT_EQ(expected.rfind("Z:\\", 0), 0u) << expected;

    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string got = waitForRecord(record());
    EXPECT_THAT(got, HasSubstr("cmdline=[" + expected + " /s]\nargc=2\narg=[/s]\n"));
    // The current directory is the folder (its last letter in the game's ANSI code page).
    std::string cwd = folder;
    std::replace(cwd.begin(), cwd.end(), '/', '\\');
    cwd = "Z:" + cwd.substr(0, cwd.size() - 2) + "\xc4";
    EXPECT_THAT(got, HasSubstr("cwd=[" + cwd + "]\n"));
}

TEST_F(WholeLauncher, TheLauncherKeysWineCommandIsACommandLine) {
    const std::string wrapper = work.path() + "/my wine";
    const std::string log = work.path() + "/my-wine.log";
    writeFile(wrapper, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + quote(log) + "\nexec \"$@\"\n");
    ::chmod(wrapper.c_str(), 0755);
    launcherValue("WineCommand", "/d " + quote("'" + wrapper + "' env \"A=\\$1 b\" wine"));
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record()), HasSubstr(PrefixStarterShortPath));
    EXPECT_THAT(readFile(log),
                ::testing::MatchesRegex("env\nA=\\$1 b\nwine\n/.*/libexec/velmar-launcher/"
                                        "velmar-wine-start.exe\n"));
}

TEST_F(WholeLauncher, GamemoderunWineWorksAsWineCommand) {
    launcherValue("WineCommand", "/d 'gamemoderun wine'");
    // GameMode talks to its daemon over the session bus, which a desktop session has.
    const Outcome r =
        run("dbus-run-session -- " + std::string(VELMAR_BIN_DIR) + "/velmar-launcher-driver enter",
            winePrefix(), "PATH=/usr/games:\"$PATH\"");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record()), HasSubstr(PrefixStarterShortPath));
}

TEST_F(WholeLauncher, AWineInTheGameFolderIsNotRunAndARelativeWineprefixWorks) {
    const std::string folder = addUnixInstallation("G", "TidesStartup.exe");
    writeFile(folder + "/wine", "#!/bin/sh\ntouch " + quote(folder + "/fake-ran") + "\n");
    ::chmod((folder + "/wine").c_str(), 0755);
    const fs::path prefix(winePrefix());
    const Outcome r = run("env -C " + quote(prefix.parent_path()) + " PATH=:/usr/bin:/bin " +
                              VELMAR_BIN_DIR + "/velmar-launcher-driver enter",
                          prefix.filename());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record()), HasSubstr("argc=1\n"));
    EXPECT_FALSE(fs::exists(folder + "/fake-ran"));
}

TEST_F(WholeLauncher, MissingWineIsReportedAndTheLauncherStays) {
    launcherValue("WineCommand", "/d /nonexistent/wine");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out,
                HasSubstr(std::string(Failed) + "Wine was not found (\"/nonexistent/wine\")."));
    EXPECT_THAT(r.out, HasSubstr("STILL RUNNING"));
    // The key was reopened: the window stored its state on closing as usual.
    EXPECT_THAT(r.out, ::testing::Not(HasSubstr("ERROR")));
}

TEST_F(WholeLauncher, AMissingPrefixOfADriveLetterFolderIsReportedAndNotCreated) {
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher\\Installations' /v Mine /d "
         "'C:\\Games\\Velmar' /f");
    launcherValue("LastInstallation", "/d Mine");
    TempDir empty;
    const std::string prefix = empty.path() + "/no-prefix";
    const Outcome r = launcher("enter", prefix);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(std::string(Failed) + "There is no Wine prefix at " + prefix +
                                 " (its system.reg is missing), so the game's folder is not "
                                 "there. Install the game with Wine first.\n"));
    EXPECT_THAT(r.out, HasSubstr("STILL RUNNING"));
    EXPECT_FALSE(fs::exists(prefix));
}

TEST_F(WholeLauncher, AMissingStarterInThePrefixIsReported) {
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher\\Installations' /v Gone /d "
         "'C:\\Program Files\\Holmgard\\Not Installed' /f");
    launcherValue("LastInstallation", "/d Gone");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(std::string(Failed) + "No such file or directory\n"));
    EXPECT_THAT(r.out, HasSubstr("STILL RUNNING"));
}

TEST_F(WholeLauncher, AFailureIsToldWhenTheWindowWasClosedDuringTheStart) {
    addUnixInstallation("Broken", "TidesStartup.exe", std::string("MZ\x90\0\3\0 damaged", 14));
    const Outcome r = launcher("closestart");
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr("CLOSED pending=1 visible=0\n" + std::string(Failed) +
                                 "TidesStartup.exe is not a Windows program"));
    EXPECT_THAT(r.out, HasSubstr("|Wine's output of this start: " + log() + "\n"));
    EXPECT_THAT(readFile(log()), HasSubstr("velmar-wine-start: 193 "));
}

TEST_F(WholeLauncher, A32BitGameNeeds32BitWine) {
    addUnixInstallation("G32", "TidesStartup.exe", windows32BitProgram());
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    if (fs::exists(winePrefix() + "/drive_c/windows/syswow64/ntdll.dll")) {
        // This Wine runs 32-bit programs: the start succeeds and the launcher ends.
        EXPECT_THAT(r.out, ::testing::Not(HasSubstr("STILL RUNNING")));
    } else {
        EXPECT_THAT(r.out, HasSubstr(std::string(Failed) +
                                     "TidesStartup.exe is a 32-bit Windows program, and this "
                                     "Wine runs only 64-bit programs. Install 32-bit Wine"));
        EXPECT_THAT(r.out, HasSubstr("wine32:i386"));
        EXPECT_THAT(r.out, HasSubstr("STILL RUNNING"));
    }
}

// The window in this process: Start through Wine runs in the background.
class WindowWithWine : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        cwd_ = fs::current_path();
        setenv("XDG_STATE_HOME", (games.path() + "/state").c_str(), 1);
    }
    void TearDown() override {
        WindowTest::TearDown();
        fs::current_path(cwd_);
    }
    TempDir games;
    fs::path cwd_;
};

TEST_F(WindowWithWine, TheWindowStaysResponsiveWhileWineWorksAndThenSaysWhatFailed) {
    // A damaged starter: it begins like a Windows program, so Wine gets it and refuses it.
    const std::string folder = games.path() + "/Broken";
    fs::create_directories(folder);
    writeFile(folder + "/TidesStartup.exe", std::string("MZ\x90\0\3\0\0\0 damaged", 17));
    installationsKey().writeString("Broken", folder);
    TMainForm& w = open();
    idle();
    ASSERT_TRUE(w.acStart->enabled());

    ASSERT_TRUE(w.acStart->execute());
    ASSERT_TRUE(w.startPending());
    EXPECT_EQ(appCursor(), AppCursor::HourGlass);
    idle();
    EXPECT_FALSE(w.acStart->enabled());
    EXPECT_FALSE(w.btLaunch->isEnabled());
    EXPECT_FALSE(w.acStart->execute()); // no second start
    EXPECT_TRUE(dialogs.messages.empty());
    // A click on "Multiplayer" meanwhile changes and stores nothing.
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent click(type, QPointF(8, 8), QPointF(8, 8), Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(w.rgGameType->button(1), &click);
    }
    EXPECT_EQ(w.rgGameType->itemIndex(), 0);
    EXPECT_TRUE(dialogs.errors.empty());

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(0);
    ASSERT_TRUE(processUntil([&] { return !w.startPending(); }, 120000));
    timer.stop();
    EXPECT_GT(ticks, 0); // events kept flowing while Wine worked

    EXPECT_EQ(dialogs.messages,
              std::vector<std::string>{"Velmar Tides konnte nicht gestartet werden.\n"
                                       "TidesStartup.exe is not a Windows program that Wine can "
                                       "run (bad EXE format); the installation may be damaged."
                                       "\nWine's output of this start: " +
                                       games.path() + "/state/VelmarLauncher/wine-start.log"});
    EXPECT_EQ(appCursor(), AppCursor::Default);
    EXPECT_TRUE(w.settings().hasOpenKey());
    idle();
    EXPECT_TRUE(w.acStart->enabled());
    EXPECT_EQ(fs::current_path(), fs::path(folder));
}

TEST_F(WindowWithWine, WhatWindowsCanNotTakeWholeIsRefusedBeforeWineRuns) {
    std::string folder = games.path();
    while (folder.size() < 260)
        folder += "/a-long-folder-name";
    fs::create_directories(folder);
    writeFile(folder + "/TidesStartup.exe", "MZ");
    installationsKey().writeString("Deep", folder);
    launcherKey().writeInteger(ValGameType, 1);
    launcherKey().writeInteger(ValClientServer, 0);
    TMainForm& w = open();
    w.edClientServerAddr->setText(QString(16380, 'x') + " 10.0.0.1");
    idle();
    ASSERT_TRUE(w.acStart->execute());
    EXPECT_FALSE(w.startPending());
    EXPECT_THAT(dialogs.messages.at(0), HasSubstr("Wine passes at most 16000 characters whole"));
    w.edClientServerAddr->setText("10.0.0.1");
    ASSERT_TRUE(w.acStart->execute());
    EXPECT_THAT(dialogs.messages.at(1),
                HasSubstr("The path of TidesStartup.exe is " + std::to_string(folder.size() + 19) +
                          " characters long as Windows names it"));
}

TEST(WineStarterAlone, AHangingWineCommandIsGivenUpAndAPrefixThatCanNotBeMadeIsRefused) {
    TempDir folder;
    const std::string hang = folder.path() + "/hang";
    writeFile(hang, "#!/bin/sh\nexec sleep 600\n");
    ::chmod(hang.c_str(), 0755);
    WineStartRequest request;
    request.wineCommand = hang;
    request.helper = wineStartHelperPath();
    request.prefix = winePrefix();
    request.program = PrefixGamePath + std::string("\\TidesStartup.exe");
    request.folder = folder.path();
    WineStarter starter;
    starter.setTimeLimit(std::chrono::milliseconds(300));
    std::optional<StartResult> outcome;
    ASSERT_EQ(starter.start(request, [&](const StartResult& r) { outcome = r; }).errorText, "");
    while (!outcome)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    EXPECT_THAT(outcome->errorText, HasSubstr("Wine did not start the game within 0.005 minutes"));
    EXPECT_FALSE(starter.running());

    request.wineCommand = "wine";
    request.prefix = folder.path() + "/missing/prefix";
    request.makePrefix = true;
    EXPECT_THAT(starter.start(request, nullptr).errorText,
                HasSubstr("Wine can not make the prefix " + request.prefix + " (" + folder.path() +
                          "/missing: No such file or directory)."));
}

TEST(WineStarterAlone, AMissingHelperIsReportedBeforeWineRuns) {
    TempDir folder;
    WineStartRequest request;
    request.helper = folder.path() + "/libexec/velmar-launcher/velmar-wine-start.exe";
    request.prefix = winePrefix();
    request.program = PrefixGamePath + std::string("\\TidesStartup.exe");
    request.folder = folder.path();
    WineStarter starter;
    bool called = false;
    const StartResult result = starter.start(request, [&](const StartResult&) { called = true; });
    EXPECT_FALSE(result.started);
    EXPECT_EQ(result.errorText, "The launcher's Wine start helper is missing (" + request.helper +
                                    "). Reinstall the launcher.");
    EXPECT_FALSE(starter.running());
    EXPECT_FALSE(called);
}

} // namespace
