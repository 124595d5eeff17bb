// The registry wrapper over the real SQLite hive store in a temporary XDG_CONFIG_HOME.
#include "settings/Registry.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <climits>

using namespace velmar;

namespace {

const std::string LauncherKey = "Software\\Tobrel\\VelmarLauncher";

class RegistryTest : public ::testing::Test {
protected:
    test::TempConfig config;
    RegistryBackend& store = defaultRegistryBackend();

    void putRaw(const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data) {
        ASSERT_TRUE(store.createKey(Hive::CurrentUser, LauncherKey));
        ASSERT_TRUE(store.writeValue(Hive::CurrentUser, LauncherKey, {name, type, data}))
            << store.lastError();
    }
    Registry openLauncher() {
        Registry reg;
        EXPECT_TRUE(reg.openKey(LauncherKey, true));
        return reg;
    }
};

template <typename F> std::string errorOf(F&& f) {
    try {
        f();
    } catch (const RegistryError& e) {
        return e.what();
    }
    return "(no RegistryError)";
}

TEST_F(RegistryTest, StringReadsFollowTheAccessRules) {
    putRaw("Empty", RegSz, {});
    putRaw("Expand", RegExpandSz, {'%', 'P', '%', 0});
    putRaw("Cut", RegSz, {'a', 'b', 0, 'c', 'd', 0});
    putRaw("NoZero", RegSz, {'x', 'y'});
    putRaw("Dword", RegDword, {1, 0, 0, 0});
    putRaw("Bin", RegBinary, {1, 2});
    putRaw("EmptyBin", RegBinary, {});
    Registry reg = openLauncher();

    EXPECT_EQ(reg.readString("Missing"), "");
    EXPECT_EQ(reg.readString("Empty"), "");
    EXPECT_EQ(reg.readString("EmptyBin"), ""); // size zero: no type check
    EXPECT_EQ(reg.readString("Expand"), "%P%");
    EXPECT_EQ(reg.readString("Cut"), "ab");
    EXPECT_EQ(reg.readString("NoZero"), "xy");
    EXPECT_EQ(errorOf([&] { reg.readString("Dword"); }), "Invalid data type for 'Dword'");
    EXPECT_EQ(errorOf([&] { reg.readString("Bin"); }), "Invalid data type for 'Bin'");
}

TEST_F(RegistryTest, IntegerReadsFollowTheAccessRules) {
    putRaw("Text", RegSz, {'1', 0});
    putRaw("Short", RegDword, {1, 0});
    Registry reg = openLauncher();
    EXPECT_EQ(errorOf([&] { reg.readInteger("GameType"); }), "Failed to get data for 'GameType'");
    EXPECT_EQ(errorOf([&] { reg.readInteger("Text"); }), "Invalid data type for 'Text'");
    EXPECT_EQ(errorOf([&] { reg.readInteger("Short"); }), "Invalid data type for 'Short'");

    for (std::int32_t v : {0, 1, -1, 7000, INT_MIN, INT_MAX}) {
        reg.writeInteger("IpTimeout", v);
        EXPECT_EQ(reg.readInteger("IpTimeout"), v);
    }
    auto raw = store.readValue(Hive::CurrentUser, LauncherKey, "IpTimeout");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->type, RegDword);
    EXPECT_EQ(raw->data, (std::vector<std::uint8_t>{0xff, 0xff, 0xff, 0x7f}));
}

TEST_F(RegistryTest, StringsAreWrittenWithTheirTerminatingZero) {
    Registry reg = openLauncher();
    reg.writeString("ClientServerAddr", "10.0.0.1");
    reg.writeExpandString("Path", "%HOME%");
    reg.writeString("Blank", "");
    auto sz = store.readValue(Hive::CurrentUser, LauncherKey, "ClientServerAddr");
    ASSERT_TRUE(sz);
    EXPECT_EQ(sz->type, RegSz);
    EXPECT_EQ(sz->data, (std::vector<std::uint8_t>{'1', '0', '.', '0', '.', '0', '.', '1', 0}));
    EXPECT_EQ(store.readValue(Hive::CurrentUser, LauncherKey, "Path")->type, RegExpandSz);
    EXPECT_EQ(store.readValue(Hive::CurrentUser, LauncherKey, "Blank")->data.size(), 1u);
    EXPECT_EQ(reg.readString("Path"), "%HOME%");
    EXPECT_TRUE(reg.valueExists("Blank"));
    EXPECT_EQ(reg.readString("Blank"), "");
}

TEST_F(RegistryTest, WithoutAnOpenKeyWritesFailAndReadsFindNothing) {
    Registry reg;
    EXPECT_FALSE(reg.hasOpenKey());
    EXPECT_EQ(errorOf([&] { reg.writeString("LastInstallation", "x"); }),
              "Failed to set data for 'LastInstallation'");
    EXPECT_EQ(errorOf([&] { reg.writeInteger("GameType", 1); }),
              "Failed to set data for 'GameType'");
    EXPECT_EQ(errorOf([&] { reg.readInteger("GameType"); }), "Failed to get data for 'GameType'");
    EXPECT_EQ(reg.readString("LastInstallation"), "");
    EXPECT_FALSE(reg.valueExists("GameType"));
    EXPECT_FALSE(reg.deleteValue("GameType"));
    EXPECT_TRUE(reg.getValueNames().empty());
    // Nothing reached the store's root either.
    EXPECT_TRUE(store.values(Hive::CurrentUser, "").empty());
}

TEST_F(RegistryTest, AWriteToAKeyDeletedMeanwhileIsAnError) {
    Registry reg = openLauncher();
    ASSERT_TRUE(store.deleteKey(Hive::CurrentUser, "Software\\Tobrel"));
    EXPECT_EQ(
        errorOf([&] { reg.writeString("A", "b"); }),
        "Failed to set data for 'A': the key Software\\Tobrel\\VelmarLauncher does not exist");
    EXPECT_FALSE(store.keyExists(Hive::CurrentUser, LauncherKey));
}

TEST_F(RegistryTest, OpeningKeys) {
    Registry reg;
    EXPECT_EQ(reg.rootKey(), Hive::CurrentUser);
    EXPECT_FALSE(reg.openKey(LauncherKey, false)); // missing and not created
    EXPECT_FALSE(reg.hasOpenKey());
    EXPECT_FALSE(store.keyExists(Hive::CurrentUser, LauncherKey));

    ASSERT_TRUE(reg.openKey("Software\\Tobrel", true));
    ASSERT_TRUE(reg.openKey("VelmarLauncher", true)); // relative to the open key
    EXPECT_EQ(reg.currentPath(), LauncherKey);
    reg.writeInteger("GameType", 1);

    // A failed open leaves the old key open.
    EXPECT_FALSE(reg.openKey("\\Software\\Nowhere", false));
    EXPECT_TRUE(reg.hasOpenKey());
    EXPECT_EQ(reg.currentPath(), LauncherKey);
    EXPECT_EQ(reg.readInteger("GameType"), 1);

    // A leading backslash starts at the root.
    ASSERT_TRUE(reg.openKey("\\Software\\Other", true));
    EXPECT_EQ(reg.currentPath(), "Software\\Other");
    EXPECT_TRUE(store.keyExists(Hive::CurrentUser, "Software\\Other"));
    EXPECT_FALSE(store.keyExists(Hive::CurrentUser, LauncherKey + "\\Software\\Other"));

    reg.closeKey();
    EXPECT_FALSE(reg.hasOpenKey());
    ASSERT_TRUE(reg.openKey(LauncherKey + "\\Installations", true)); // from the root again
    EXPECT_TRUE(store.keyExists(Hive::CurrentUser, LauncherKey + "\\Installations"));
}

TEST_F(RegistryTest, TheHivesAreSeparate) {
    Registry reg;
    reg.setRootKey(Hive::LocalMachine);
    ASSERT_TRUE(reg.openKey("Software\\Holmgard\\VELMARTIDES", true));
    reg.writeString("GAMEPATH", "/games/velmar");
    reg.setRootKey(Hive::CurrentUser); // changing the root closes the key
    EXPECT_FALSE(reg.hasOpenKey());
    EXPECT_FALSE(reg.openKey("Software\\Holmgard\\VELMARTIDES", false));
    reg.setRootKey(Hive::LocalMachine);
    ASSERT_TRUE(reg.openKey("software\\holmgard\\velmartides", false));
    EXPECT_EQ(reg.readString("gamepath"), "/games/velmar");
}

TEST_F(RegistryTest, DeleteValueReportsABoolean) {
    Registry reg = openLauncher();
    reg.writeString("Standard", "/x");
    EXPECT_TRUE(reg.deleteValue("STANDARD"));
    EXPECT_FALSE(reg.valueExists("Standard"));
    EXPECT_FALSE(reg.deleteValue("Standard"));
}

TEST_F(RegistryTest, NamesIgnoreLetterCaseAndKeepTheirFirstSpelling) {
    Registry reg;
    ASSERT_TRUE(reg.openKey("Software\\Äpfel\\Schlüssel", true));
    reg.writeString("Größe", "1");
    reg.writeString("GRÖSSE", "2"); // "ß" has no simple upper-case form: a name of its own
    reg.writeString("ÄRGER", "first");
    reg.writeString("ärger", "second");

    Registry other;
    ASSERT_TRUE(other.openKey("SOFTWARE\\äPFEL\\SCHLÜSSEL", false));
    EXPECT_EQ(other.readString("GRÖßE"), "1");
    EXPECT_EQ(other.readString("grösse"), "2");
    EXPECT_EQ(other.readString("Ärger"), "second");
    EXPECT_EQ(other.getValueNames(), (std::vector<std::string>{"Größe", "GRÖSSE", "ÄRGER"}));
    EXPECT_EQ(store.subkeys(Hive::CurrentUser, "software"), (std::vector<std::string>{"Äpfel"}));
}

TEST_F(RegistryTest, ValuesAreListedInCreationOrderAndKeepTheirPlace) {
    Registry reg = openLauncher();
    reg.writeInteger("GameType", 0);
    reg.writeString("ClientServerAddr", "a");
    reg.writeInteger("ClientServer", 0);
    reg.writeString("LastInstallation", "b");
    reg.writeInteger("gametype", 1); // overwrite, other spelling
    ASSERT_TRUE(reg.deleteValue("ClientServerAddr"));
    reg.writeString("ClientServerAddr", "c"); // deleted and new: goes last
    EXPECT_EQ(reg.getValueNames(),
              (std::vector<std::string>{"GameType", "ClientServer", "LastInstallation",
                                        "ClientServerAddr"}));
    EXPECT_EQ(reg.readInteger("GameType"), 1);
}

TEST_F(RegistryTest, AOneMebibyteStringRoundTrips) {
    std::string big(1 << 20, 'x');
    for (std::size_t i = 0; i < big.size(); i += 997)
        big[i] = static_cast<char>('a' + i % 26);
    Registry reg = openLauncher();
    reg.writeString("Big", big);
    resetDefaultRegistryBackend();
    Registry fresh;
    ASSERT_TRUE(fresh.openKey(LauncherKey, false));
    EXPECT_EQ(fresh.readString("Big"), big);
}

TEST_F(RegistryTest, TheUnnamedDefaultValue) {
    Registry reg = openLauncher();
    reg.writeString("", "default text");
    reg.writeString("Named", "named");
    EXPECT_EQ(reg.readString(""), "default text");
    auto raw = store.readValue(Hive::CurrentUser, LauncherKey, "");
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->name, "");
    EXPECT_EQ(reg.getValueNames(), (std::vector<std::string>{"", "Named"}));
    EXPECT_TRUE(reg.deleteValue(""));
    EXPECT_EQ(reg.readString("Named"), "named");
}

TEST_F(RegistryTest, DataOutlivesTheStore) {
    {
        Registry reg = openLauncher();
        reg.writeInteger("GameType", 1);
        reg.writeString("LastInstallation", "Standard");
    }
    resetDefaultRegistryBackend();
    auto reopened = openHiveStore(config.hiveFile());
    Registry reg(*reopened);
    ASSERT_TRUE(reg.openKey(LauncherKey, false));
    EXPECT_EQ(reg.readInteger("GameType"), 1);
    EXPECT_EQ(reg.readString("LastInstallation"), "Standard");
}

} // namespace
