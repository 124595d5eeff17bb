// The installation list: seeding, selecting, adding and deleting.
#include "tests/app/WindowFixture.h"

#include <sys/stat.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

using namespace velmar;
using namespace velmar::test;

namespace {
QStringList items(const TMainForm& w) {
    QStringList list;
    for (int i = 0; i < w.cbInstallation->count(); ++i)
        list << w.cbInstallation->itemText(i);
    return list;
}
} // namespace

using Catalogue = WindowTest;

TEST_F(Catalogue, FreshSystemIsSeededFromTheGamePath) {
    setGamePath("/opt/Velmar Tides");
    TMainForm& w = open();
    EXPECT_EQ(items(w), QStringList{"Standard"});
    EXPECT_EQ(w.cbInstallation->currentIndex(), 0);
    EXPECT_EQ(w.edPath->text(), QString("/opt/Velmar Tides"));
    EXPECT_EQ(installationsKey().readString("Standard"), "/opt/Velmar Tides");
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "Standard");
}

TEST_F(Catalogue, FreshSystemWithoutTheGameKeyStaysEmpty) {
    TMainForm& w = open();
    EXPECT_EQ(w.cbInstallation->count(), 0);
    EXPECT_EQ(w.cbInstallation->currentIndex(), -1);
    EXPECT_TRUE(w.edPath->text().isEmpty());
    EXPECT_TRUE(launcherKey().valueExists(ValLastInstallation));
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "");
    idle();
    EXPECT_FALSE(w.btDelete->isEnabled());
    EXPECT_FALSE(w.acStart->enabled());
}

TEST_F(Catalogue, AGameKeyThatCanNotBeReadIsReportedAndSeedsNothing) {
    // The game's prefix holds a FIFO for its registry: the read fails, and says why; no
    // "Standard" entry is written on the strength of it.
    TempDir prefix;
    ASSERT_EQ(::mkfifo((prefix.path() + "/system.reg").c_str(), 0600), 0);
    const std::string before = std::getenv("WINEPREFIX") ? std::getenv("WINEPREFIX") : "";
    setenv("WINEPREFIX", prefix.path().c_str(), 1);
    try {
        open();
        ADD_FAILURE() << "the window opened";
    } catch (const RegistryReadError& e) {
        EXPECT_NE(std::string(e.what()).find("named pipe (FIFO)"), std::string::npos) << e.what();
    }
    setenv("WINEPREFIX", before.c_str(), 1);
    EXPECT_EQ(installationsKey().getValueNames(), std::vector<std::string>{});
}

TEST_F(Catalogue, GameKeyWithoutGamePathGivesAnEmptyStandardEntry) {
    Registry game;
    game.setRootKey(Hive::LocalMachine);
    ASSERT_TRUE(game.openKey(GameKeyPath, true));
    TMainForm& w = open();
    EXPECT_EQ(items(w), QStringList{"Standard"});
    EXPECT_TRUE(w.edPath->text().isEmpty());
    EXPECT_TRUE(installationsKey().valueExists("Standard"));
}

TEST_F(Catalogue, StoredEntriesComeInStoredOrderAndTheGamePathIsNotReadAgain) {
    setGamePath("/ignored");
    Registry inst = installationsKey();
    inst.writeString("Zweite", "/games/b");
    inst.writeString("Standard", "/games/a");
    launcherKey().writeString(ValLastInstallation, "sTaNdArD"); // letter case ignored here
    TMainForm& w = open();
    EXPECT_EQ(items(w), (QStringList{"Zweite", "Standard"}));
    EXPECT_EQ(w.cbInstallation->currentText(), QString("Standard"));
    EXPECT_EQ(w.edPath->text(), QString("/games/a"));
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "Standard");
}

TEST_F(Catalogue, EmptyLastInstallationSelectsTheFirstEntry) {
    installationsKey().writeString("B", "/b");
    installationsKey().writeString("A", "/a");
    TMainForm& w = open();
    EXPECT_EQ(w.cbInstallation->currentText(), QString("B"));
}

TEST_F(Catalogue, UnknownLastInstallationSelectsNothingButKeepsTheItems) {
    installationsKey().writeString("A", "/a");
    launcherKey().writeString(ValLastInstallation, "Gone");
    TMainForm& w = open();
    EXPECT_EQ(w.cbInstallation->count(), 1);
    EXPECT_EQ(w.cbInstallation->currentIndex(), -1);
    EXPECT_TRUE(w.edPath->text().isEmpty());
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "");
}

TEST_F(Catalogue, AddingStoresSelectsAndRemembersTheNewEntry) {
    installationsKey().writeString("Standard", "/games/a");
    TMainForm& w = open();
    dialogs.folderAnswers = {"/home/p/Velmar Tides Kopie/"};
    dialogs.inputAnswers = {{true, "Kopie \"Ä\""}};
    EXPECT_TRUE(w.acEdit->execute());
    EXPECT_EQ(dialogs.inputTitles, std::vector<std::string>{"/home/p/Velmar Tides Kopie/"});
    EXPECT_EQ(items(w), (QStringList{"Standard", "Kopie \"Ä\""}));
    EXPECT_EQ(w.cbInstallation->currentIndex(), 1);
    EXPECT_EQ(w.edPath->text(), QString("/home/p/Velmar Tides Kopie/"));
    EXPECT_EQ(installationsKey().readString("Kopie \"Ä\""), "/home/p/Velmar Tides Kopie/");
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "Kopie \"Ä\"");
}

TEST_F(Catalogue, CancellingEitherDialogChangesNothing) {
    TMainForm& w = open();
    dialogs.folderAnswers = {""};
    w.acEditExecute();
    dialogs.folderAnswers = {"/x"};
    dialogs.inputAnswers = {{false, ""}};
    w.acEditExecute();
    EXPECT_EQ(w.cbInstallation->count(), 0);
    EXPECT_TRUE(installationsKey().getValueNames().empty());
}

TEST_F(Catalogue, EmptyNameIsStoredAsTheDefaultValueAndCannotBeDeletedByButton) {
    TMainForm& w = open();
    dialogs.folderAnswers = {"/x"};
    dialogs.inputAnswers = {{true, ""}};
    w.acEditExecute();
    EXPECT_EQ(w.cbInstallation->count(), 1);
    EXPECT_EQ(installationsKey().readString(""), "/x");
    idle();
    EXPECT_FALSE(w.btDelete->isEnabled());
    form.reset();
    TMainForm& again = open(); // read back as an entry with an empty name
    EXPECT_EQ(items(again), QStringList{""});
    EXPECT_EQ(again.edPath->text(), QString("/x"));
}

TEST_F(Catalogue, AddingAListedNameSelectsItsLineAndKeepsTheFirstFolder) {
    installationsKey().writeString("A", "/first");
    installationsKey().writeString("B", "/b");
    TMainForm& w = open();
    dialogs.folderAnswers = {"/second"};
    dialogs.inputAnswers = {{true, "A"}};
    w.acEditExecute();
    EXPECT_EQ(items(w), (QStringList{"A", "B"}));
    EXPECT_EQ(w.cbInstallation->currentIndex(), 0);
    EXPECT_EQ(w.edPath->text(), QString("/first"));
    EXPECT_EQ(installationsKey().readString("A"), "/first");
}

TEST_F(Catalogue, NamesDifferingOnlyInLetterCaseAreOneEntry) {
    installationsKey().writeString("Standard", "/a");
    installationsKey().writeString("B", "/b");
    TMainForm& w = open();
    dialogs.folderAnswers = {"/other"};
    dialogs.inputAnswers = {{true, "STANDARD"}};
    w.acEditExecute();
    EXPECT_EQ(items(w), (QStringList{"Standard", "B"}));
    EXPECT_EQ(w.edPath->text(), QString("/a"));
    dialogs.confirmAnswers = {true}; // deleting it deletes its one value and its one line
    w.acDeleteExecute();
    EXPECT_EQ(items(w), QStringList{"B"});
    EXPECT_EQ(installationsKey().getValueNames(), std::vector<std::string>{"B"});
}

TEST_F(Catalogue, DeletingAsksAndOnlyOkDeletes) {
    installationsKey().writeString("A", "/a");
    installationsKey().writeString("B", "/b");
    launcherKey().writeString(ValLastInstallation, "B");
    TMainForm& w = open();
    dialogs.confirmAnswers = {false};
    w.acDeleteExecute();
    EXPECT_EQ(dialogs.confirms, std::vector<std::string>{"Löschen dieses Eintrags - sicher?"});
    EXPECT_EQ(w.cbInstallation->count(), 2);
    dialogs.confirmAnswers = {true};
    w.acDeleteExecute();
    EXPECT_EQ(items(w), QStringList{"A"});
    EXPECT_EQ(w.cbInstallation->currentText(), QString("A"));
    EXPECT_FALSE(installationsKey().valueExists("B"));
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "A");
}

TEST_F(Catalogue, DeletingTheOnlyEntryEmptiesAllAndTheNextStartSeedsAgain) {
    setGamePath("/g");
    TMainForm& w = open();
    dialogs.confirmAnswers = {true};
    w.acDeleteExecute();
    EXPECT_EQ(w.cbInstallation->count(), 0);
    EXPECT_TRUE(w.edPath->text().isEmpty());
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "");
    form.reset();
    TMainForm& again = open();
    EXPECT_EQ(items(again), QStringList{"Standard"});
}

TEST_F(Catalogue, EntryRemovedBehindTheLaunchersBackStaysListed) {
    installationsKey().writeString("A", "/a");
    installationsKey().writeString("B", "/b");
    launcherKey().writeString(ValLastInstallation, "B");
    TMainForm& w = open();
    installationsKey().deleteValue("B");
    dialogs.confirmAnswers = {true};
    w.acDeleteExecute();
    EXPECT_EQ(items(w), (QStringList{"A", "B"}));
    EXPECT_EQ(w.cbInstallation->currentText(), QString("A"));
    EXPECT_TRUE(dialogs.messages.empty());
}
