// A Wine prefix read without Wine: registry files and drive letters on files the tests write, and
// the game key as the launcher's registry sees it when the game is installed in the prefix.
#include "platform/registry/RegistryBackend.h"
#include "platform/wine/WinePrefix.h"
#include "settings/Registry.h"
#include "settings/Settings.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

using namespace velmar;
using namespace velmar::test;
namespace fs = std::filesystem;

namespace {

std::string text(const RegValue& v) {
    return std::string(v.data.begin(), v.data.end());
}

const RegValue* find(const std::vector<RegValue>& values, const std::string& name) {
    for (const RegValue& v : values)
        if (v.name == name)
            return &v;
    return nullptr;
}

// A system.reg as Wine 8 writes it, around the game's key.
const char* const SystemReg = "WINE REGISTRY Version 2\n"
                              ";; All keys relative to REGISTRY\\\\Machine\n"
                              "\n"
                              "#arch=win64\n"
                              "\n"
                              "[Software\\\\Holmgard\\\\VELMARTIDES2] 1796766240\n"
                              "#time=1dd8769b57393e0\n"
                              "\"GAMEPATH\"=\"C:\\\\Wrong\"\n"
                              "\n"
                              "[Software\\\\Holmgard\\\\VELMARTIDES] 1796766242\n"
                              "#time=1dd8769b57393f0\n"
                              "@=\"default \\\"quoted\\\"\"\n"
                              "\"GAMEPATH\"=\"C:\\\\Program Files\\\\Holmgard\\\\Velmar Tides\"\n"
                              "\"Escapes\"=\"\\x00e4b \\xe4g \\x20acx\\ttab\"\n"
                              "\"Count\"=dword:00000005\n"
                              "\"Home\"=str(2):\"%USERPROFILE%\\\\Velmar\"\n"
                              "\"Bytes\"=hex:01,02,ff,\\\n"
                              "  10\n"
                              "\"Wide\"=hex(2):41,00,e4,00,00,00\n"
                              "\"Name \\\"with\\\" \\\\ and \\x00fc\"=\"x\"\n"
                              "\n"
                              "[Software\\\\Khronos\\\\Vulkan] 1796766100\n"
                              "\"After\"=\"not ours\"\n"
                              "\n";

TEST(WineRegistryFile, ReadsTheValuesOfOneKeyWithTheirTypesAndEscapes) {
    const auto values = wine::parseRegistryKey(SystemReg, "software\\holmgard\\velmartides");
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(values->size(), 8u);
    EXPECT_EQ((*values)[0].name, ""); // @ is the unnamed default value
    EXPECT_EQ(text((*values)[0]), std::string("default \"quoted\"\0", 17));
    const RegValue* path = find(*values, "GAMEPATH");
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->type, RegSz);
    EXPECT_EQ(text(*path), std::string("C:\\Program Files\\Holmgard\\Velmar Tides\0", 39));
    // \x takes up to four hex digits of one UTF-16 unit; Wine pads to four only when a hex
    // digit follows.
    EXPECT_EQ(text(*find(*values, "Escapes")), std::string("\xc3\xa4"
                                                           "b \xc3\xa4g \xe2\x82\xac"
                                                           "x\ttab\0",
                                                           17));
    EXPECT_EQ(find(*values, "Count")->type, RegDword);
    EXPECT_EQ(find(*values, "Count")->data, (std::vector<std::uint8_t>{5, 0, 0, 0}));
    EXPECT_EQ(find(*values, "Home")->type, RegExpandSz);
    EXPECT_EQ(text(*find(*values, "Home")), std::string("%USERPROFILE%\\Velmar\0", 21));
    EXPECT_EQ(find(*values, "Bytes")->type, RegBinary);
    EXPECT_EQ(find(*values, "Bytes")->data, (std::vector<std::uint8_t>{1, 2, 0xff, 0x10}));
    // Strings in hex form are UTF-16 on disk and UTF-8 in the launcher.
    EXPECT_EQ(find(*values, "Wide")->type, RegExpandSz);
    EXPECT_EQ(text(*find(*values, "Wide")), std::string("A\xc3\xa4\0", 4));
    EXPECT_NE(find(*values, "Name \"with\" \\ and \xc3\xbc"), nullptr);
    // The key ends at its blank line: nothing of the next key, nothing of the similar one.
    EXPECT_EQ(find(*values, "After"), nullptr);
}

TEST(WineRegistryFile, KeysWithoutSectionsAndFilesOfOtherKindsGiveNothing) {
    EXPECT_FALSE(wine::parseRegistryKey(SystemReg, "Software\\Holmgard").has_value());
    EXPECT_FALSE(wine::parseRegistryKey(SystemReg, "Software\\Holmgard\\VELMAR").has_value());
    const std::string regedit = std::string("REGEDIT4\n\n") + (SystemReg + 24);
    EXPECT_FALSE(wine::parseRegistryKey(regedit, "Software\\Holmgard\\VELMARTIDES").has_value());
    EXPECT_FALSE(wine::parseRegistryKey("", "Software").has_value());
    EXPECT_FALSE(wine::readRegistryKey("/nonexistent/system.reg", "Software").has_value());
    // A file cut off inside the key still gives what is complete, and nothing made up.
    const std::string cut(SystemReg, std::string(SystemReg).find("\"Escapes\"") + 12);
    const auto values = wine::parseRegistryKey(cut, "Software\\Holmgard\\VELMARTIDES");
    ASSERT_TRUE(values.has_value());
    EXPECT_EQ(values->size(), 2u);
}

// Files the search over key lines can not decide are the reader's: not Wine's first line, keys
// out of Wine's order (VELMARTIDES2 before VELMARTIDES), a name whose order is not known here.
TEST(WineRegistryFile, TheSearchLeavesFilesNotInWinesOrderToTheReader) {
    TempDir dir;
    const std::string file = dir.path() + "/system.reg";
    const char* const key = "Software\\Holmgard\\VELMARTIDES";
    writeFile(file, SystemReg);
    EXPECT_EQ(wine::seekRegistryKey(file, key), wine::KeyPresence::Unknown);
    const std::string inOrder =
        "WINE REGISTRY Version 2\n\n[Software\\\\Holmgard] 1\n\n"
        "[Software\\\\Holmgard\\\\VELMARTIDES\\x0130] 1\n\n[Software\\\\Khronos] 1\n";
    writeFile(file, inOrder);
    EXPECT_EQ(wine::seekRegistryKey(file, "Software\\Holmgard\\VELMARTIDES_"),
              wine::KeyPresence::Unknown);
    EXPECT_EQ(wine::seekRegistryKey(file, key), wine::KeyPresence::Absent);
    writeFile(file, "REGEDIT4" + inOrder.substr(23));
    EXPECT_EQ(wine::seekRegistryKey(file, "Software\\Khronos"), wine::KeyPresence::Unknown);
    EXPECT_EQ(wine::seekRegistryKey(dir.path(), key), wine::KeyPresence::Unknown);
}

TEST(WineRegistryFile, CrLfLinesAndBrokenSurrogatePairs) {
    // Lines may end in CRLF. A unit of a broken surrogate pair reads as U+FFFD, those in
    // U+DC80..U+DCFF too (velmar-reg's .reg files keep those as the bytes they stand for; a
    // Wine prefix's file never carries such bytes).
    const std::string reg = "WINE REGISTRY Version 2\r\n\r\n[Software\\\\Lone] 1\r\n"
                            "\"Low\"=\"a\\xdc80b\"\r\n"
                            "\"High\"=hex(1):3d,d8,41,00\r\n"
                            "\"Pair\"=\"\\xd83d\\xde00\"\r\n"
                            "\r\n"
                            "\"After\"=\"x\"\r\n";
    const auto values = wine::parseRegistryKey(reg, "Software\\Lone");
    ASSERT_TRUE(values.has_value());
    ASSERT_EQ(values->size(), 3u);
    EXPECT_EQ(text(*find(*values, "Low")), std::string("a\xef\xbf\xbd"
                                                       "b\0",
                                                       6));
    EXPECT_EQ(text(*find(*values, "High")), std::string("\xef\xbf\xbd"
                                                        "A\0",
                                                        5));
    EXPECT_EQ(text(*find(*values, "Pair")), std::string("\xf0\x9f\x98\x80\0", 5));
}

class PrefixFolders : public ::testing::Test {
protected:
    void SetUp() override {
        prefix = dir.path() + "/prefix";
        fs::create_directories(prefix + "/dosdevices");
        fs::create_directories(prefix + "/drive_c/Program Files/Holmgard/Velmar Tides \xc3\x84");
        fs::create_symlink("../drive_c", prefix + "/dosdevices/c:");
        fs::create_symlink("/", prefix + "/dosdevices/z:");
        game = fs::canonical(prefix + "/drive_c").string() +
               "/Program Files/Holmgard/Velmar Tides \xc3\x84";
    }
    TempDir dir;
    std::string prefix;
    std::string game;
};

TEST_F(PrefixFolders, DriveLettersFollowTheDosDevicesAndNamesIgnoreLetterCase) {
    EXPECT_EQ(wine::unixPath(prefix, "C:\\Program Files\\Holmgard\\Velmar Tides \xc3\x84"), game);
    EXPECT_EQ(wine::unixPath(prefix, "c:\\PROGRAM FILES\\holmgard\\velmar tides \xc3\xa4"), game);
    EXPECT_EQ(wine::unixPath(prefix, "C:/Program Files/Holmgard/Velmar Tides \xc3\x84/"), game);
    EXPECT_EQ(wine::unixPath(prefix, "C:\\Program Files\\..\\Program Files\\Holmgard"),
              fs::path(game).parent_path().string());
    EXPECT_EQ(wine::unixPath(prefix, "Z:\\"), "/");
    // As on Windows, ".." stops at the drive's root.
    EXPECT_EQ(wine::unixPath(prefix, "C:\\..\\..\\x"), fs::canonical(prefix + "/drive_c") / "x");
    EXPECT_EQ(wine::unixPath(prefix, "Z:\\..\\tmp"), "/tmp");
    EXPECT_EQ(wine::unixPath(prefix, "z:" + dir.path()), dir.path());
    // What is not on disk is kept as written, so the start reports it missing.
    EXPECT_EQ(wine::unixPath(prefix, "C:\\Program Files\\Nope\\Deeper"),
              fs::path(game).parent_path().parent_path().string() + "/Nope/Deeper");
    EXPECT_EQ(wine::unixPath(prefix, "Q:\\Game"), prefix + "/dosdevices/q:/Game");
    // Unix paths and anything else stay as they are.
    EXPECT_EQ(wine::unixPath(prefix, "/home/player/Velmar Tides"), "/home/player/Velmar Tides");
    EXPECT_EQ(wine::unixPath(prefix, ""), "");
    EXPECT_EQ(wine::unixPath(prefix, "1:\\x"), "1:\\x");
}

TEST_F(PrefixFolders, AStarterIsFoundWhateverItsLetterCase) {
    writeFile(game + "/TIDESSTARTUP.EXE", "MZ");
    EXPECT_EQ(wine::findEntry(game, "TidesStartup.exe"), "TIDESSTARTUP.EXE");
    writeFile(game + "/TidesStartup.exe", "MZ");
    EXPECT_EQ(wine::findEntry(game, "TidesStartup.exe"), "TidesStartup.exe"); // exact name first
    EXPECT_FALSE(wine::findEntry(game, "Other.exe").has_value());
    EXPECT_FALSE(wine::findEntry(game + "/missing", "TidesStartup.exe").has_value());
}

// The prefixes of Linux game launchers under a HOME of their own, in the order they are searched.
TEST(KnownPrefixes, EachLaunchersLayoutInItsOrderAndTheFirstGamePathWins) {
    TempDir home;
    const std::string h = home.path();
    auto prefix = [&](const std::string& path, const std::string& keys = {}) {
        fs::create_directories(h + "/" + path + "/drive_c");
        writeFile(h + "/" + path + "/system.reg", "WINE REGISTRY Version 2\n\n" + keys);
        return h + "/" + path;
    };
    const std::string game = "[Software\\\\Wow6432Node\\\\Holmgard\\\\VELMARTIDES] 1\n"
                             "\"GAMEPATH\"=\"C:\\\\Games\\\\Velmar\"\n\n";
    const std::string steam = prefix(".local/share/Steam/steamapps/compatdata/20/pfx", game);
    const std::string library = prefix("Library/steamapps/compatdata/10/pfx");
    writeFile(h + "/.local/share/Steam/steamapps/libraryfolders.vdf",
              "\"libraryfolders\"\n{\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + h +
                  "/Library\"\n\t}\n}\n");
    fs::create_directories(h + "/.steam");
    fs::create_directory_symlink(h + "/.local/share/Steam", h + "/.steam/steam"); // listed once
    const std::string heroic = prefix("Elsewhere/HeroicGame");
    fs::create_directories(h + "/.config/heroic/GamesConfig");
    writeFile(h + "/.config/heroic/GamesConfig/x.json",
              "{\"x\": {\"winePrefix\": \"" + h + "/Elsewhere/HeroicGame\"}}");
    const std::string heroicDefault = prefix("Games/Heroic/Prefixes/Velmar");
    const std::string bottle = prefix(".var/app/com.usebottles.bottles/data/bottles/bottles/B");
    const std::string lutris = prefix("Games/velmar");
    // Made by hand: the game's key after a key that Wine would write after it.
    const std::string named =
        prefix("Other/Lutris Game", "[Software\\\\Zeta] 1\n\"A\"=\"1\"\n\n" + game);
    fs::create_directories(h + "/.local/share/lutris/games");
    writeFile(h + "/.local/share/lutris/games/velmar.yml",
              "game:\n  exe: x.exe\n  prefix: '" + named + "'\nwine: {}\n");
    const std::string wine = prefix(".wine");
    fs::create_directories(h + "/Games/not-a-prefix/drive_c");

    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    setenv("HOME", h.c_str(), 1);
    unsetenv("WINEPREFIX");
    const auto found = wine::knownPrefixes();
    const auto game1 = wine::findInstalledGame();
    setenv("HOME", savedHome.c_str(), 1);
    EXPECT_EQ(found,
              (std::vector<std::string>{wine, named, lutris, bottle, heroic, heroicDefault,
                                        h + "/.steam/steam/steamapps/compatdata/20/pfx", library}));
    ASSERT_TRUE(game1.has_value());
    EXPECT_EQ(game1->prefix, named);
    EXPECT_EQ(game1->folder, "C:\\Games\\Velmar");
}

// The launcher's registry with the game installed in a prefix named by WINEPREFIX.
class GameKeyFromPrefix : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("WINEPREFIX");
        oldPrefix_ = old ? old : "";
        setenv("WINEPREFIX", prefix.path().c_str(), 1);
        resetDefaultRegistryBackend();
    }
    void TearDown() override {
        setenv("WINEPREFIX", oldPrefix_.c_str(), 1);
        resetDefaultRegistryBackend();
    }
    void writeSystemReg(const std::string& keys) {
        writeFile(prefix.path() + "/system.reg",
                  "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n" +
                      keys);
    }
    static std::string key(const std::string& path, const std::string& values) {
        return "[" + path + "] 1796766242\n#time=1dd8769b57393f0\n" + values + "\n";
    }
    static Registry gameKey() {
        Registry reg;
        reg.setRootKey(Hive::LocalMachine);
        EXPECT_TRUE(reg.openKey(GameKeyPath, false));
        return reg;
    }

    TempConfig config;
    TempDir prefix;

private:
    std::string oldPrefix_;
};

TEST_F(GameKeyFromPrefix, GamePathComesFromThePrefixWhenTheStoreHasNone) {
    Registry reg;
    reg.setRootKey(Hive::LocalMachine);
    EXPECT_FALSE(reg.openKey(GameKeyPath, false)); // no prefix yet: no game key anywhere

    writeSystemReg(key("Software\\\\Holmgard\\\\VELMARTIDES",
                       "\"GAMEPATH\"=\"C:\\\\Program Files\\\\Holmgard\\\\Velmar Tides\"\n"));
    EXPECT_EQ(gameKey().readString(ValGamePath), "C:\\Program Files\\Holmgard\\Velmar Tides");

    // A 32-bit installer's key is used when the 64-bit one is missing...
    writeSystemReg(key("Software\\\\Wow6432Node\\\\Holmgard\\\\VELMARTIDES",
                       "\"GAMEPATH\"=\"C:\\\\Program Files (x86)\\\\Holmgard\\\\Velmar Tides\"\n"));
    EXPECT_EQ(gameKey().readString(ValGamePath), "C:\\Program Files (x86)\\Holmgard\\Velmar Tides");
    // ...and not when both are there.
    writeSystemReg(
        key("Software\\\\Wow6432Node\\\\Holmgard\\\\VELMARTIDES", "\"GAMEPATH\"=\"C:\\\\Wow\"\n") +
        key("Software\\\\Holmgard\\\\VELMARTIDES", "\"GAMEPATH\"=\"C:\\\\Native\"\n"));
    EXPECT_EQ(gameKey().readString(ValGamePath), "C:\\Native");
    std::vector<std::string> names = gameKey().getValueNames();
    EXPECT_EQ(names, std::vector<std::string>{"GAMEPATH"});
}

TEST_F(GameKeyFromPrefix, TheStoreWinsAndWritesNeverReachThePrefix) {
    writeSystemReg(key("Software\\\\Holmgard\\\\VELMARTIDES",
                       "\"GAMEPATH\"=\"C:\\\\FromPrefix\"\n\"Other\"=\"prefix\"\n"));
    const std::string before = readFile(prefix.path() + "/system.reg");
    Registry reg;
    reg.setRootKey(Hive::LocalMachine);
    ASSERT_TRUE(reg.openKey(GameKeyPath, true));
    reg.writeString("Other", "store");
    EXPECT_EQ(reg.readString(ValGamePath), "C:\\FromPrefix"); // store has no GAMEPATH yet
    EXPECT_EQ(reg.readString("Other"), "store");
    reg.writeString(ValGamePath, "/home/player/Velmar");
    EXPECT_EQ(reg.readString(ValGamePath), "/home/player/Velmar");
    EXPECT_EQ(reg.getValueNames(), (std::vector<std::string>{"Other", "GAMEPATH"}));
    EXPECT_TRUE(reg.deleteValue(ValGamePath));
    EXPECT_EQ(reg.readString(ValGamePath), "C:\\FromPrefix");
    EXPECT_FALSE(reg.deleteValue(ValGamePath)); // the prefix's value is not the store's to delete
    EXPECT_EQ(readFile(prefix.path() + "/system.reg"), before);
    EXPECT_EQ(fs::directory_iterator(prefix.path())->path().filename(), "system.reg");
}

TEST_F(GameKeyFromPrefix, AWronglyTypedGamePathIsARegistryError) {
    writeSystemReg(key("Software\\\\Holmgard\\\\VELMARTIDES", "\"GAMEPATH\"=dword:00000001\n"));
    Registry reg = gameKey();
    EXPECT_THROW(reg.readString(ValGamePath), RegistryError);
}

TEST_F(GameKeyFromPrefix, AChangedPrefixIsReadAgain) {
    writeSystemReg(key("Software\\\\Holmgard\\\\VELMARTIDES", "\"GAMEPATH\"=\"C:\\\\One\"\n"));
    Registry reg = gameKey();
    EXPECT_EQ(reg.readString(ValGamePath), "C:\\One");
    writeSystemReg(
        key("Software\\\\Holmgard\\\\VELMARTIDES", "\"GAMEPATH\"=\"C:\\\\Two, longer\"\n"));
    EXPECT_EQ(reg.readString(ValGamePath), "C:\\Two, longer");
    // An unreadable or vanished prefix is simply no source.
    fs::remove(prefix.path() + "/system.reg");
    EXPECT_EQ(reg.readString(ValGamePath), "");
    fs::create_directory(prefix.path() + "/system.reg");
    EXPECT_EQ(reg.readString(ValGamePath), "");
    Registry fresh;
    fresh.setRootKey(Hive::LocalMachine);
    EXPECT_FALSE(fresh.openKey(GameKeyPath, false));
}

TEST_F(GameKeyFromPrefix, OddFilesNeitherHangNorFillMemoryAndSayWhatIsWrong) {
    const std::string file = prefix.path() + "/system.reg";
    // A FIFO nobody writes to (opening it for reading would wait for a writer) and a link to an
    // endless device fail the read, with the reason.
    writeSystemReg(key("Software\\\\Holmgard\\\\VELMARTIDES", "\"GAMEPATH\"=\"C:\\\\Game\"\n"));
    Registry open = gameKey();
    fs::remove(file);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    // A read that fails is an error, never a missing value or an empty key.
    EXPECT_THROW(open.readString(ValGamePath), RegistryReadError);
    EXPECT_THROW(open.getValueNames(), RegistryReadError);
    Registry reg;
    reg.setRootKey(Hive::LocalMachine);
    EXPECT_FALSE(reg.openKey(GameKeyPath, false));
    EXPECT_NE(reg.openError().find("named pipe"), std::string::npos);
    const std::string out = config.dir() + "/query.txt";
    const std::string query = "XDG_CONFIG_HOME='" + config.dir() + "' WINEPREFIX='" +
                              prefix.path() + "' " VELMAR_BIN_DIR "/velmar-reg query " +
                              "'HKLM\\Software\\Holmgard\\VELMARTIDES' > '" + out + "' 2>&1";
    EXPECT_NE(std::system(query.c_str()), 0);
    EXPECT_NE(readFile(out).find("is a named pipe (FIFO), not a regular file"), std::string::npos)
        << readFile(out);
    EXPECT_NE(defaultRegistryBackend().lastError().find(file + " is a named pipe (FIFO)"),
              std::string::npos)
        << defaultRegistryBackend().lastError();
    fs::remove(file);
    fs::create_symlink("/dev/zero", file);
    EXPECT_FALSE(reg.openKey(GameKeyPath, false));
    EXPECT_NE(defaultRegistryBackend().lastError().find("is a device"), std::string::npos);
    std::string error;
    EXPECT_FALSE(wine::readRegistryKey(file, "Software", error).has_value());
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    // Lines longer than what is kept are read past: before the key, and inside it, where the
    // value is left out.
    fs::remove(file);
    const std::string huge(3u << 20, 'x');
    writeSystemReg(";" + huge + "\n" +
                   key("Software\\\\Holmgard\\\\VELMARTIDES",
                       "\"Long\"=\"" + huge + "\"\n\"GAMEPATH\"=\"C:\\\\Game\"\r\n"));
    EXPECT_EQ(gameKey().readString(ValGamePath), "C:\\Game");
    EXPECT_EQ(gameKey().getValueNames(), std::vector<std::string>{"GAMEPATH"});
    EXPECT_EQ(defaultRegistryBackend().lastError(), "");
}

TEST_F(GameKeyFromPrefix, VelmarRegShowsTheSameValue) {
    writeSystemReg(key("Software\\\\Holmgard\\\\VELMARTIDES",
                       "\"GAMEPATH\"=\"C:\\\\Program Files\\\\Holmgard\\\\Velmar \\x00c4\"\n"));
    const std::string out = config.dir() + "/query.txt";
    const std::string command =
        std::string("XDG_CONFIG_HOME='") + config.dir() + "' WINEPREFIX='" + prefix.path() +
        "' " VELMAR_BIN_DIR "/velmar-reg query 'HKLM\\Software\\Holmgard\\VELMARTIDES' > '" + out +
        "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << readFile(out);
    EXPECT_NE(
        readFile(out).find("GAMEPATH    REG_SZ    C:\\Program Files\\Holmgard\\Velmar \xc3\x84"),
        std::string::npos)
        << readFile(out);
}

} // namespace
