// Starting the game when the start fails: the launcher stays and says why. (Successful starts
// end the process, so they are tested on the real program in tests/e2e.)
#include "tests/app/WindowFixture.h"

#include <QComboBox>
#include <QLineEdit>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmar;
using namespace velmar::test;

class GameStart : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        char buf[4096];
        cwd_ = getcwd(buf, sizeof buf) ? buf : "/";
    }
    void TearDown() override {
        WindowTest::TearDown();
        EXPECT_EQ(chdir(cwd_.c_str()), 0);
    }
    std::string cwd_;
    TempDir games;
};

TEST_F(GameStart, MissingStarterIsReportedAndTheClientAddressIsStoredAnyway) {
    const std::string folder = games.path() + "/Velmar Tides Ä";
    std::filesystem::create_directory(folder);
    installationsKey().writeString("Standard", folder);
    launcherKey().writeInteger(ValGameType, 1);
    launcherKey().writeInteger(ValClientServer, 0);
    launcherKey().writeString(ValClientServerAddr, "10.0.0.1 K\xe4se"); // Windows-1252
    TMainForm& w = open();
    ASSERT_TRUE(w.acStart->execute()); // shown as well as it can be, kept byte for byte
    EXPECT_EQ(launcherKey().readString(ValClientServerAddr), "10.0.0.1 K\xe4se");
    dialogs.messages.clear();
    w.edClientServerAddr->setText("  10.0.0.1 x");
    idle();
    ASSERT_TRUE(w.acStart->execute());
    EXPECT_EQ(dialogs.messages,
              std::vector<std::string>{"Velmar Tides konnte nicht gestartet werden.\n"
                                       "No such file or directory"});
    EXPECT_TRUE(w.settings().hasOpenKey()); // reopened after the failure
    EXPECT_EQ(launcherKey().readString(ValClientServerAddr), "  10.0.0.1 x");
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(folder));
    w.rgGameType->setItemIndex(0); // the window is still usable and stores choices
    EXPECT_EQ(launcherKey().readInteger(ValGameType), 0);
}

TEST_F(GameStart, StarterThatCannotRunSaysWhy) {
    std::filesystem::create_directory(games.path() + "/TidesStartup.exe"); // a folder
    installationsKey().writeString("Dir", games.path());
    const std::string other = games.path() + "/win";
    std::filesystem::create_directory(other);
    {
        std::ofstream exe(other + "/TidesStartup.exe", std::ios::binary);
        exe << "MZ\x90\x00\x03\x00\x00\x00PE windows program";
    }
    ::chmod((other + "/TidesStartup.exe").c_str(), 0755);
    installationsKey().writeString("Win", other);
    // A FIFO that nobody writes to: looking at it must not wait for a writer.
    const std::string pipe = games.path() + "/pipe";
    std::filesystem::create_directory(pipe);
    ASSERT_EQ(::mkfifo((pipe + "/TidesStartup.exe").c_str(), 0755), 0);
    installationsKey().writeString("Pipe", pipe);
    TMainForm& w = open();
    ASSERT_TRUE(w.acStart->execute());
    w.cbInstallation->setCurrentIndex(1);
    w.cbInstallationChange();
    ASSERT_TRUE(w.acStart->execute());
    w.cbInstallation->setCurrentIndex(2);
    w.cbInstallationChange();
    ASSERT_TRUE(w.acStart->execute());
    // The folder can not run; the Windows program goes to Wine, which would make the prefix
    // first, but can not make it there.
    ASSERT_EQ(dialogs.messages.size(), 3u);
    EXPECT_EQ(dialogs.messages[2], "Velmar Tides konnte nicht gestartet werden.\n" + pipe +
                                       "/TidesStartup.exe is a named pipe (FIFO), not a regular "
                                       "file");
    EXPECT_EQ(dialogs.messages[0],
              "Velmar Tides konnte nicht gestartet werden.\nExec format error");
    EXPECT_EQ(dialogs.messages[1],
              "Velmar Tides konnte nicht gestartet werden.\nWine can not make the prefix "
              "/nonexistent/velmar-tests-have-no-wine-prefix (/nonexistent: No such file or "
              "directory). Make that folder yours and writable, or start the launcher with "
              "WINEPREFIX set to a prefix of yours.");
    EXPECT_FALSE(w.startPending());
    EXPECT_TRUE(w.settings().hasOpenKey());
}

TEST_F(GameStart, ServerStartDoesNotTouchTheStoredAddress) {
    installationsKey().writeString("Standard", games.path());
    launcherKey().writeInteger(ValGameType, 1);
    launcherKey().writeInteger(ValClientServer, 1);
    launcherKey().writeString(ValClientServerAddr, "1.2.3.4");
    TMainForm& w = open();
    w.edClientServerAddr->setText("9.9.9.9");
    w.webTimer->setEnabled(false);
    ASSERT_TRUE(w.acStart->execute());
    EXPECT_EQ(launcherKey().readString(ValClientServerAddr), "1.2.3.4");
}

TEST_F(GameStart, AWindowsFolderWithoutItsWinePrefixSaysThePrefixIsMissing) {
    // The tests' WINEPREFIX names a folder that does not exist.
    installationsKey().writeString("Standard", "C:\\Program Files\\Holmgard\\Velmar Tides");
    TMainForm& w = open();
    ASSERT_TRUE(w.acStart->execute());
    EXPECT_EQ(dialogs.messages,
              std::vector<std::string>{
                  "Velmar Tides konnte nicht gestartet werden.\nThere is no Wine prefix at "
                  "/nonexistent/velmar-tests-have-no-wine-prefix (its system.reg is missing), so "
                  "the game's folder is not there. Install the game with Wine first."});
    EXPECT_FALSE(w.startPending());
    EXPECT_TRUE(w.settings().hasOpenKey());
    EXPECT_FALSE(std::filesystem::exists("/nonexistent/velmar-tests-have-no-wine-prefix"));
}

TEST_F(GameStart, AnEntryWithoutAFolderIsNotLookedForAtTheRoot) {
    // A folder named like the starter at the root would fail otherwise ("Exec format error").
    if (std::filesystem::exists("/TidesStartup.exe") || mkdir("/TidesStartup.exe", 0700) != 0)
        GTEST_SKIP() << "no way to put a stand-in at the root of this file system";
    installationsKey().writeString("Leer", "");
    TMainForm& w = open();
    EXPECT_TRUE(w.acStart->execute());
    rmdir("/TidesStartup.exe");
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Velmar Tides konnte nicht gestartet "
                                                         "werden.\nNo such file or directory"});
}
