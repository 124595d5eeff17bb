// The whole program as a user meets it: seeded through velmar-reg, started as its own process on
// the offscreen platform, and starting a stand-in TidesStartup.exe (a shell script that records
// its arguments, its current directory and its open files).
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmar::test;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
};

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class Launcher : public ::testing::Test {
protected:
    std::string env() const {
        return "XDG_CONFIG_HOME=" + quote(config.path()) + " QT_QPA_PLATFORM=offscreen " +
               "VELMAR_E2E_OUT=" + quote(record()) + " ";
    }
    Outcome run(const std::string& command) const {
        Outcome r;
        FILE* p = popen((env() + command + " 2>/dev/null").c_str(), "r");
        std::array<char, 4096> buf{};
        while (std::size_t n = fread(buf.data(), 1, buf.size(), p))
            r.out.append(buf.data(), n);
        const int st = pclose(p);
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        return r;
    }
    Outcome reg(const std::string& args) const {
        return run(std::string(VELMAR_BIN_DIR) + "/velmar-reg " + args);
    }
    Outcome launcher(const std::string& mode) const {
        return run(std::string(VELMAR_BIN_DIR) + "/velmar-launcher-driver " + mode);
    }
    void seed(const std::string& args) { ASSERT_EQ(reg(args).status, 0) << args; }
    std::string record() const { return games.path() + "/record.txt"; }
    std::string recorded() const { return readFile(record()); }
    // A folder holding the stand-in starter.
    std::string makeGame(const std::string& name) {
        const std::string folder = games.path() + "/" + name;
        std::filesystem::create_directories(folder);
        const std::string starter = folder + "/TidesStartup.exe";
        std::ofstream(starter)
            << "#!/bin/sh\n"
               "{ echo \"argc=$#\"; for a in \"$@\"; do echo \"arg=[$a]\"; done;\n"
               "  echo \"cwd=$(pwd)\"; ls -l /proc/$$/fd; } > \"$VELMAR_E2E_OUT\"\n";
        ::chmod(starter.c_str(), 0755);
        return folder;
    }
    void useGame(const std::string& folder) {
        seed("add 'HKLM\\Software\\Holmgard\\VELMARTIDES' /v GAMEPATH /d " + quote(folder) + " /f");
    }
    void hostPageOnLoopback() {
        seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v IpServerUrl /d "
             "http://127.0.0.1:9/whatismyip.php /f");
    }

    TempDir config;
    TempDir games;
};

} // namespace

TEST_F(Launcher, FirstStartShowsTheWholeWindowInItsInitialState) {
    useGame(makeGame("Velmar"));
    const Outcome r = launcher("report");
    EXPECT_EQ(r.status, 0);
    const std::string& o = r.out;
    EXPECT_NE(o.find("caption=Tobrel's Velmar Launch Tool - Version 1.1\n"), std::string::npos);
    EXPECT_NE(o.find("iconname=VelmarLauncher\n"), std::string::npos) << o; // the task bar's
    EXPECT_NE(o.find("app=VelmarLauncher\n"), std::string::npos);
    EXPECT_NE(o.find("size=391x407\n"), std::string::npos) << o;
    EXPECT_NE(o.find("fixed=yes\n"), std::string::npos);
    EXPECT_NE(o.find("focus=rgGameType/"), std::string::npos) << o;
    EXPECT_NE(o.find("widget.cbInstallation=enabled=1 visible=1 text=Standard\n"),
              std::string::npos);
    EXPECT_NE(o.find("widget.gbClientAddr=enabled=0 visible=1 text=Remote Server-Adresse\n"),
              std::string::npos);
    EXPECT_NE(o.find("widget.gbServerAddr=enabled=0 visible=1 text=Eigene Server-Adressen\n"),
              std::string::npos);
    EXPECT_NE(o.find("widget.rgClientServer=enabled=0"), std::string::npos);
    EXPECT_NE(o.find("widget.btAddrRefresh=enabled=0 visible=1 text=Aktualisieren\n"),
              std::string::npos);
    EXPECT_NE(o.find("widget.btLaunch=enabled=1 visible=1 text=Start\n"), std::string::npos);
    EXPECT_NE(o.find("widget.btCancel=enabled=1 visible=1 text=Schließen\n"), std::string::npos);
    EXPECT_NE(o.find("widget.btInstEdit=enabled=1 visible=1 text=Hinzufügen...\n"),
              std::string::npos);
    EXPECT_NE(o.find("widget.btDelete=enabled=1 visible=1 text=Löschen\n"), std::string::npos);
    EXPECT_NE(o.find("testform.visible=0\ntestform.caption=Velmar Tides Server Test\n"),
              std::string::npos);
    EXPECT_EQ(o.find("ERROR"), std::string::npos) << o;
    // Nothing was looked up, so the network machinery is not loaded; nor are image readers, as
    // no window system asked for the icon's pictures.
    EXPECT_NE(o.find("mapped.network=0\nmapped.html=0\nmapped.module=0\nmapped.imageplugins=0\n"),
              std::string::npos)
        << o;
    // The stored choices of a first start.
    EXPECT_NE(reg("query 'HKCU\\Software\\Tobrel\\VelmarLauncher'")
                  .out.find("ClientServer    REG_DWORD    0x0"),
              std::string::npos);
}

TEST_F(Launcher, StoredHostRoleLoadsTheNetworkModuleAtStartUp) {
    useGame(makeGame("G1"));
    hostPageOnLoopback();
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v GameType /t REG_DWORD /d 1 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServer /t REG_DWORD /d 1 /f");
    const Outcome r = launcher("report");
    EXPECT_EQ(r.status, 0);
    // The public-address lookup starts while the window is made: the module and Qt Network
    // come with it, litehtml too (the module needs it for the page text).
    EXPECT_NE(r.out.find("mapped.network=1\nmapped.html=1\nmapped.module=1\n"), std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("ERROR"), std::string::npos) << r.out;
}

TEST_F(Launcher, EnterStartsASingleplayerGameAndTheLauncherEnds) {
    const std::string folder = makeGame("Velmar Tides Ä");
    useGame(folder);
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("STILL RUNNING"), std::string::npos) << r.out;
    const std::string got = recorded();
    EXPECT_NE(got.find("argc=0\n"), std::string::npos) << got;
    EXPECT_NE(got.find("cwd=" + folder + "\n"), std::string::npos) << got;
    // Nothing the launcher opened reaches the game.
    EXPECT_EQ(got.find("registry.db"), std::string::npos) << got;
    EXPECT_EQ(got.find("socket:"), std::string::npos) << got;
}

TEST_F(Launcher, ClientGetsTheAddressAsTypedInQuotes) {
    useGame(makeGame("G1"));
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v GameType /t REG_DWORD /d 1 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServer /t REG_DWORD /d 0 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServerAddr /d \"  10.0.0.1 x\" /f");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    const std::string got = recorded();
    EXPECT_NE(got.find("argc=1\narg=[/c\"  10.0.0.1 x\"]\n"), std::string::npos) << got << r.out;
}

TEST_F(Launcher, ServerGetsSlashS) {
    useGame(makeGame("G1"));
    hostPageOnLoopback();
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v GameType /t REG_DWORD /d 1 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServer /t REG_DWORD /d 1 /f");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("MESSAGE: Kann Web-Server nicht kontaktieren"), std::string::npos)
        << r.out;
    EXPECT_NE(recorded().find("argc=1\narg=[/s]\n"), std::string::npos) << recorded() << r.out;
}

// A page server that takes the connection and never answers: the lookup ends by its time limit,
// and only then may Start run. (On a loaded machine a reply that is merely late looks the same.)
TEST_F(Launcher, ServerStartsOnceALookupThatNeverAnswersHasTimedOut) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0); // the kernel completes the handshake; nobody reads
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    useGame(makeGame("G1"));
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v IpServerUrl /d http://127.0.0.1:" +
         std::to_string(ntohs(a.sin_port)) + "/whatismyip.php /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v IpTimeout /t REG_DWORD /d 1500 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v GameType /t REG_DWORD /d 1 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServer /t REG_DWORD /d 1 /f");
    const Outcome r = launcher("enter");
    ::close(listener);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("MESSAGE: Web-Server antwortet nicht!"), std::string::npos) << r.out;
    EXPECT_NE(recorded().find("argc=1\narg=[/s]\n"), std::string::npos) << recorded() << r.out;
}

TEST_F(Launcher, NoRoleGivesOneEmptyArgument) {
    useGame(makeGame("G1"));
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v GameType /t REG_DWORD /d 1 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServer /t REG_DWORD /d 0xffffffff "
         "/f");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(recorded().find("argc=1\narg=[]\n"), std::string::npos) << recorded() << r.out;
}

TEST_F(Launcher, FolderEndingInASeparatorIsUsedAsStored) {
    const std::string folder = makeGame("G 2") + "/";
    useGame(folder);
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(recorded().find("argc=0\n"), std::string::npos);
}

TEST_F(Launcher, MissingStarterIsReportedAndTheLauncherStays) {
    useGame(games.path() + "/nothing here");
    const Outcome r = launcher("enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(
        r.out.find(
            "MESSAGE: Velmar Tides konnte nicht gestartet werden.|No such file or directory\n"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("STILL RUNNING"), std::string::npos);
}

TEST_F(Launcher, ClosingTheWindowDuringAServerTestEndsTheProgram) {
    useGame(makeGame("G1"));
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v GameType /t REG_DWORD /d 1 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServer /t REG_DWORD /d 0 /f");
    seed("add 'HKCU\\Software\\Tobrel\\VelmarLauncher' /v ClientServerAddr /d 127.0.0.1 /f");
    const Outcome r =
        run("timeout 20 " + std::string(VELMAR_BIN_DIR) + "/velmar-launcher-driver test");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("TEST RUNNING 1"), std::string::npos) << r.out;
    // The program ended with the window, not six seconds later with the test's message.
    EXPECT_EQ(r.out.find("antwortet nicht"), std::string::npos) << r.out;
}

TEST_F(Launcher, UnreadableHiveIsReportedAndLeftAlone) {
    const std::string dir = config.path() + "/VelmarLauncher";
    std::filesystem::create_directories(dir);
    const std::string garbage(5000, 'x');
    writeFile(dir + "/registry.db", garbage);
    const Outcome r = launcher("report");
    EXPECT_EQ(r.status, 0);
    // The error box names the file and what is wrong with it.
    EXPECT_NE(r.out.find("ERROR: Failed to read the settings: the registry file " + dir +
                         "/registry.db is not a database."),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("caption="), std::string::npos); // no window came up
    EXPECT_EQ(readFile(dir + "/registry.db"), garbage);
}
