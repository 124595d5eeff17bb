// Restoring the stored choices when the window is built.
#include "tests/app/WindowFixture.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>

using namespace velmar;
using namespace velmar::test;

using SettingsLoad = WindowTest;

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
