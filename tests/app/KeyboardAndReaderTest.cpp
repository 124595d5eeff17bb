// The main window as a keyboard-only user and a screen reader meet it, and what it keeps of
// stored values: selections the stored values leave empty, names that are no valid UTF-8.
#include "tests/app/WindowFixture.h"

#include "app/WindowLook.h"
#include "platform/toolkit/Focus.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>
#include <unistd.h>

using namespace velmar;
using namespace velmar::test;

namespace {

class KeyboardAndReader : public WindowTest {
protected:
    // Shows the window as the program does and waits until it is the active window.
    TMainForm& shown() {
        TMainForm& w = open();
        w.show();
        w.activateWindow();
        EXPECT_TRUE(processUntil([&] { return w.isActiveWindow(); }));
        return w;
    }

    // The controls Tab reaches from the installation list, in order, once round the window.
    std::vector<QWidget*> tabCycle(TMainForm& w) {
        std::vector<QWidget*> seen;
        w.cbInstallation->setFocus(Qt::TabFocusReason);
        for (int i = 0; i < 40; ++i) {
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
            QApplication::sendEvent(QApplication::focusWidget(), &tab);
            QWidget* now = QApplication::focusWidget();
            if (!now || now == w.cbInstallation)
                break;
            seen.push_back(now);
        }
        return seen;
    }
};

QString accessibleName(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
}

} // namespace

TEST_F(KeyboardAndReader, NegativeStoredChoicesSelectNothingAndAreKept) {
    // 0xfffffffe and 0xfffffffd: no item selected, no handler runs, nothing is written back.
    launcherKey().writeInteger(ValGameType, -2);
    launcherKey().writeInteger(ValClientServer, -3);
    TMainForm& w = open();
    EXPECT_EQ(w.rgGameType->itemIndex(), -1);
    EXPECT_EQ(w.rgClientServer->itemIndex(), -1);
    EXPECT_EQ(launcherKey().readInteger(ValGameType), -2);
    EXPECT_EQ(launcherKey().readInteger(ValClientServer), -3);
    // The handlers did not run: the role group and both address groups are as laid out.
    EXPECT_FALSE(w.rgClientServer->isEnabled());
    EXPECT_FALSE(w.gbClientAddr->isHidden());
    EXPECT_FALSE(w.gbServerAddr->isHidden());
    EXPECT_TRUE(w.edServerLanAddr->text().isEmpty());
    w.close();
    EXPECT_EQ(launcherKey().readInteger(ValGameType), -2);
    EXPECT_EQ(launcherKey().readInteger(ValClientServer), -3);
}

TEST_F(KeyboardAndReader, RadioGroupsAreOneTabStopEachAndCoveredControlsAreSkipped) {
    installationsKey().writeString("Standard", "/games/a");
    launcherKey().writeInteger(ValGameType, 1); // Multiplayer, role Client: both groups stay
    launcherKey().writeInteger(ValClientServer, 0);
    launcherKey().writeString(ValClientServerAddr, "192.0.2.10"); // Start and Test enabled
    TMainForm& w = shown();
    idle();
    ASSERT_FALSE(w.gbServerAddr->isHidden());
    ASSERT_TRUE(w.btAddrRefresh->isEnabled()); // enabled with its group, but underneath
    EXPECT_EQ(tabCycle(w),
              (std::vector<QWidget*>{w.btInstEdit, w.edPath, w.btDelete, w.rgGameType->button(1),
                                     w.rgClientServer->button(0), w.edClientServerAddr, w.btTestSrv,
                                     w.btLaunch, w.btCancel}));
    EXPECT_TRUE(isCoveredControl(w.btAddrRefresh));

    // Down arrow in the role group: Server. The own-address group is now the one seen, and
    // Tab reaches it instead.
    w.rgClientServer->button(0)->setFocus(Qt::TabFocusReason);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(w.rgClientServer->button(0), &down);
    EXPECT_EQ(w.rgClientServer->itemIndex(), 1);
    ASSERT_TRUE(processUntil([&] { return !w.webTimer->Enabled(); }));
    dialogs.messages.clear();
    idle();
    EXPECT_EQ(tabCycle(w),
              (std::vector<QWidget*>{w.btInstEdit, w.edPath, w.btDelete, w.rgGameType->button(1),
                                     w.rgClientServer->button(1), w.edServerLanAddr,
                                     w.edServerInetAddr, w.btAddrRefresh, w.btLaunch, w.btCancel}));
}

TEST_F(KeyboardAndReader, ScreenReaderHearsRadioButtonsAndTheFieldsOwnLabels) {
    TMainForm& w = shown();
    for (RadioGroup* group : {w.rgGameType, w.rgClientServer}) {
        for (int i = 0; i < group->count(); ++i) {
            QAccessibleInterface* item = QAccessible::queryAccessibleInterface(group->button(i));
            EXPECT_EQ(item->role(), QAccessible::RadioButton) << group->title().toStdString();
        }
    }
    EXPECT_EQ(accessibleName(w.edServerLanAddr), QString("Adresse im LAN"));
    EXPECT_EQ(accessibleName(w.edServerInetAddr), QString("Adresse im Internet"));
    EXPECT_EQ(accessibleName(w.edClientServerAddr), QString("Server-Adresse"));
    EXPECT_EQ(w.lbServerLanAddr->buddy(), w.edServerLanAddr);
    // The list is named by its group; the path below it has a name of its own.
    EXPECT_EQ(accessibleName(w.cbInstallation), QString("Installation"));
    EXPECT_EQ(accessibleName(w.edPath), QString("Pfad der Installation"));
}

TEST_F(KeyboardAndReader, NamesThatAreNoUtf8AreKeptByteForByte) {
    // As imported from a REGEDIT4 file in the Windows code page: "Spiel" and byte e4 (ä).
    const std::string name = "Spiel\xe4";
    TempDir games;
    const std::string folder = games.path() + "/spiel";
    std::filesystem::create_directory(folder);
    installationsKey().writeString("Andere", "/games/andere");
    installationsKey().writeString(name, folder);
    launcherKey().writeString(ValLastInstallation, name);
    TMainForm& w = open();

    // Shown as well as it can be, found by its bytes.
    EXPECT_EQ(w.cbInstallation->currentIndex(), 1);
    EXPECT_EQ(w.cbInstallation->currentText(), QString::fromUtf8("Spiel\xc3\xa4"));
    EXPECT_EQ(w.SelectedInstallationName(), name);
    EXPECT_EQ(w.edPath->text(), QString::fromStdString(folder));
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), name);
    EXPECT_EQ(w.Installations.size(), 2u); // no empty entry under a garbled name

    // Started from its folder: the start fails (no starter there), but in the right folder.
    char buf[4096];
    const std::string cwd = getcwd(buf, sizeof buf) ? buf : "/";
    idle();
    ASSERT_TRUE(w.acStart->execute());
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(folder));
    ASSERT_EQ(chdir(cwd.c_str()), 0);

    // Deleted by its bytes.
    dialogs.confirmAnswers.push_back(true);
    ASSERT_TRUE(w.acDelete->execute());
    EXPECT_FALSE(installationsKey().valueExists(name));
    EXPECT_EQ(w.cbInstallation->count(), 1);
    EXPECT_EQ(launcherKey().readString(ValLastInstallation), "Andere");
}

TEST_F(KeyboardAndReader, ListItemHeightAndAnAddressWithoutLengthLimit) {
    installationsKey().writeString("Standard", "/games/a");
    TMainForm& w = open();
    w.cbInstallation->showPopup();
    EXPECT_EQ(w.cbInstallation->view()->sizeHintForRow(0), Scale(&w)(13));
    w.cbInstallation->hidePopup();
    const QString longAddress(40000, QLatin1Char('1'));
    w.edClientServerAddr->setText(longAddress);
    EXPECT_EQ(w.edClientServerAddr->text().size(), longAddress.size());
    // The window stands where it was designed, in the same scale as its size.
    EXPECT_EQ(w.pos(), QPoint(Scale(&w)(233), Scale(&w)(278)));
}
