// The game started through real Wine: the real launcher (whole program, and the window in this
// process), the real helper, a real prefix, and a Windows stand-in starter that records the
// command line Windows gave it, its argv and its current directory.
#include "tests/app/WindowFixture.h"
#include "tests/winestart/WinePrefixRun.h"

#include "platform/process/WineStart.h"
#include "platform/toolkit/AppCursor.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
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

    Outcome run(const std::string& command, const std::string& prefix = winePrefix()) const {
        const std::string out = work.path() + "/launcher-output.txt";
        const std::string line =
            "XDG_CONFIG_HOME=" + quote(config.path()) +
            " QT_QPA_PLATFORM=offscreen LANG=C.UTF-8 WINEPREFIX=" + quote(prefix) +
            " VELMAR_STANDIN_OUT=" + quote(windowsName(record())) + " " + command + " > " +
            quote(out) + " 2>/dev/null < /dev/null";
        const int status = std::system(line.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(out)};
    }
    Outcome launcher(const std::string& mode, const std::string& prefix = winePrefix()) const {
        return run(std::string(VELMAR_BIN_DIR) + "/velmar-launcher-driver " + mode, prefix);
    }
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

TEST_F(WholeLauncher, TheLauncherKeysWineCommandIsUsed) {
    const std::string wrapper = work.path() + "/my-wine";
    const std::string log = work.path() + "/my-wine.log";
    writeFile(wrapper, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + quote(log) + "\nexec wine \"$@\"\n");
    ::chmod(wrapper.c_str(), 0755);
    launcherValue("WineCommand", "/d " + quote(wrapper));
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_THAT(waitForRecord(record()), HasSubstr(PrefixStarterShortPath));
    EXPECT_THAT(readFile(log), HasSubstr("/libexec/velmar-launcher/velmar-wine-start.exe\n"));
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

TEST_F(WholeLauncher, AMissingPrefixIsReportedAndNotCreated) {
    addUnixInstallation("G1", "TidesStartup.exe");
    TempDir empty;
    const std::string prefix = empty.path() + "/no-prefix";
    const Outcome r = launcher("enter", prefix);
    EXPECT_EQ(r.status, 0);
    EXPECT_THAT(r.out, HasSubstr(std::string(Failed) + "There is no Wine prefix at " + prefix +
                                 " (its system.reg is missing)."));
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
                                       "run (bad EXE format); the installation may be damaged."});
    EXPECT_EQ(appCursor(), AppCursor::Default);
    EXPECT_TRUE(w.settings().hasOpenKey());
    idle();
    EXPECT_TRUE(w.acStart->enabled());
    EXPECT_EQ(fs::current_path(), fs::path(folder));
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
