// Restoring the stored choices when the window is built.
#include "tests/app/WindowFixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace velmar;
using namespace velmar::test;

using SettingsLoad = WindowTest;

namespace {

// The transactions committed to the store's write-ahead log since it was last started afresh:
// frames of the log's current generation (same salt as its header) that end a transaction.
int loggedCommits(const std::string& hive) {
    const std::string log = readFile(hive + "-wal");
    if (log.size() < 32)
        return 0;
    const auto be32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        for (std::size_t i = 0; i < 4; ++i)
            v = (v << 8) | static_cast<unsigned char>(log[at + i]);
        return v;
    };
    const std::size_t frame = 24 + be32(8);
    int commits = 0;
    for (std::size_t at = 32; at + frame <= log.size(); at += frame) {
        if (log.compare(at + 8, 8, log, 16, 8) != 0)
            break;
        if (be32(at + 4) != 0)
            ++commits;
    }
    return commits;
}

} // namespace

TEST_F(SettingsLoad, FirstRunCreatesTheKeysAndStoresOnlyTheRole) {
    // No launcher key at all (the fixture's page address goes too).
    ASSERT_TRUE(defaultRegistryBackend().deleteKey(Hive::CurrentUser, "Software\\Tobrel"));
    TMainForm& w = open();
    EXPECT_EQ(w.rgGameType->itemIndex(), 0);
    EXPECT_EQ(w.rgClientServer->itemIndex(), 0);
    EXPECT_TRUE(w.edClientServerAddr->text().isEmpty());
    Registry key = launcherKey();
    EXPECT_EQ(key.readInteger(ValClientServer), 0);
    EXPECT_FALSE(key.valueExists(ValGameType));
    EXPECT_TRUE(Registry().openKey(std::string(LauncherKeyPath) + InstallationsSuffix, false));
    EXPECT_TRUE(dialogs.errors.empty());
    // Only the remote-address group is seen, greyed out.
    EXPECT_FALSE(w.gbClientAddr->isEnabled());
    EXPECT_FALSE(w.gbServerAddr->isEnabled());
    EXPECT_FALSE(w.rgClientServer->isEnabled());
}

TEST_F(SettingsLoad, FirstRunStoresItsDefaultsInOneTransaction) {
    ASSERT_TRUE(defaultRegistryBackend().deleteKey(Hive::CurrentUser, "Software\\Tobrel"));
    setGamePath("/games/velmar");
    const int before = loggedCommits(config.hiveFile());
    ASSERT_GT(before, 0); // the log is read right: the fixture's writes are in it
    TMainForm& w = open();
    // The launcher key, the role, the catalogue with its seeded entry and the last installation:
    // one commit.
    EXPECT_EQ(loggedCommits(config.hiveFile()) - before, 1);
    EXPECT_EQ(launcherKey().readInteger(ValClientServer), 0);
    EXPECT_EQ(installationsKey().readString(StandardInstallation), "/games/velmar");
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), StandardInstallation);
    EXPECT_EQ(w.cbInstallation->currentText().toStdString(), StandardInstallation);
    EXPECT_TRUE(dialogs.errors.empty());

    // A later start finds everything and writes nothing.
    form.reset();
    testForm.reset();
    const int second = loggedCommits(config.hiveFile());
    open();
    EXPECT_EQ(loggedCommits(config.hiveFile()), second);
}

TEST_F(SettingsLoad, AFirstStartThatFailsLaterKeepsWhatItStoredBefore) {
    ASSERT_TRUE(defaultRegistryBackend().deleteKey(Hive::CurrentUser, "Software\\Tobrel"));
    Registry game;
    game.setRootKey(Hive::LocalMachine);
    ASSERT_TRUE(game.openKey(GameKeyPath, true));
    game.writeInteger(ValGamePath, 7);
    EXPECT_THROW(open(), RegistryError); // a GAMEPATH that is no text
    EXPECT_EQ(launcherKey().readInteger(ValClientServer), 0);
}

TEST_F(SettingsLoad, StoredMultiplayerClientRestoresTypeAddressAndRole) {
    Registry key = launcherKey();
    key.writeInteger(ValGameType, 1);
    key.writeString(ValClientServerAddr, "  10.0.0.1 x");
    key.writeInteger(ValClientServer, 0);
    TMainForm& w = open();
    EXPECT_EQ(w.rgGameType->itemIndex(), 1);
    EXPECT_TRUE(w.rgClientServer->isEnabled());
    EXPECT_TRUE(w.gbClientAddr->isEnabled());
    EXPECT_EQ(w.edClientServerAddr->text(), QString("  10.0.0.1 x"));
    EXPECT_EQ(launcherKey().readInteger(ValGameType), 1);
}

TEST_F(SettingsLoad, StoredMultiplayerServerShowsOwnAddressesAndStartsTheLookup) {
    Registry key = launcherKey();
    key.writeInteger(ValGameType, 1);
    key.writeInteger(ValClientServer, 1);
    key.writeInteger(ValIpTimeout, 60000);
    TMainForm& w = open();
    EXPECT_EQ(w.rgClientServer->itemIndex(), 1);
    EXPECT_FALSE(w.gbClientAddr->isVisibleTo(&w));
    EXPECT_TRUE(w.gbServerAddr->isVisibleTo(&w));
    EXPECT_FALSE(w.edServerLanAddr->text().isEmpty()); // the LAN half ran
    EXPECT_TRUE(w.webTimer->Enabled());                // the public half is under way
    EXPECT_EQ(launcherKey().readInteger(ValClientServer), 1);
}

TEST_F(SettingsLoad, GameTypeAboveTheLastItemSelectsMultiplayerAndIsWrittenBack) {
    launcherKey().writeInteger(ValGameType, 5);
    launcherKey().writeInteger(ValClientServer, 0);
    TMainForm& w = open();
    EXPECT_EQ(w.rgGameType->itemIndex(), 1);
    EXPECT_EQ(launcherKey().readInteger(ValGameType), 1);
}

TEST_F(SettingsLoad, GameTypeOfTheWrongTypeFallsBackSilently) {
    Registry key = launcherKey();
    key.writeString(ValGameType, "1");
    key.writeString(ValClientServerAddr, "192.168.0.10");
    key.writeInteger(ValClientServer, 1);
    TMainForm& w = open();
    EXPECT_EQ(w.rgGameType->itemIndex(), 0);
    EXPECT_EQ(w.rgClientServer->itemIndex(), 0);
    EXPECT_TRUE(w.edClientServerAddr->text().isEmpty()); // the block stopped at the first read
    EXPECT_EQ(launcherKey().readInteger(ValClientServer), 0);
    EXPECT_EQ(launcherKey().readString(ValGameType), "1"); // not rewritten by the fallback
    EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(SettingsLoad, NegativeGameTypeLeavesNoSelectionAndRunsNothing) {
    launcherKey().writeInteger(ValGameType, -1);
    launcherKey().writeString(ValClientServerAddr, "1.2.3.4");
    launcherKey().writeInteger(ValClientServer, 0);
    TMainForm& w = open();
    EXPECT_EQ(w.rgGameType->itemIndex(), -1);
    EXPECT_EQ(launcherKey().readInteger(ValGameType), -1);
    EXPECT_FALSE(w.rgClientServer->isEnabled());
    EXPECT_EQ(w.edClientServerAddr->text(), QString("1.2.3.4"));
}

TEST_F(SettingsLoad, MissingGameTypeHidesAStoredAddress) {
    launcherKey().writeString(ValClientServerAddr, "192.168.0.10");
    TMainForm& w = open();
    EXPECT_TRUE(w.edClientServerAddr->text().isEmpty());
    EXPECT_EQ(launcherKey().readString(ValClientServerAddr), "192.168.0.10");
}

TEST_F(SettingsLoad, ExpandStringAddressIsShownUnexpanded) {
    launcherKey().writeInteger(ValGameType, 0);
    launcherKey().writeExpandString(ValClientServerAddr, "%HOST%:1.2.3.4");
    launcherKey().writeInteger(ValClientServer, 0);
    TMainForm& w = open();
    EXPECT_EQ(w.edClientServerAddr->text(), QString("%HOST%:1.2.3.4"));
}

TEST_F(SettingsLoad, StoredSingleplayerServerFillsTheLanAddressOnly) {
    launcherKey().writeInteger(ValGameType, 0);
    launcherKey().writeInteger(ValClientServer, 1);
    TMainForm& w = open();
    EXPECT_FALSE(w.edServerLanAddr->text().isEmpty());
    EXPECT_FALSE(w.webTimer->Enabled());
    EXPECT_TRUE(w.gbServerAddr->isVisibleTo(&w));
    EXPECT_FALSE(w.gbServerAddr->isEnabled());
    EXPECT_FALSE(launcherKey().valueExists(ValIpTimeout)); // no lookup, no defaults stored
}

TEST_F(SettingsLoad, ClosingTheWindowClosesTheLauncherKey) {
    TMainForm& w = open();
    EXPECT_TRUE(w.settings().hasOpenKey());
    w.show();
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.settings().hasOpenKey());
}
