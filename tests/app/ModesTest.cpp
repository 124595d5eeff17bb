// Single- or multiplayer, client or server: what is enabled and shown, and when Start and Test
// Server are available.
#include "tests/app/WindowFixture.h"

#include "address/DottedQuad.h"

#include <algorithm>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace velmar;
using namespace velmar::test;

class Modes : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        installationsKey().writeString("Standard", "/games/a");
        launcherKey().writeInteger(ValIpTimeout, 60000);
    }
};

TEST_F(Modes, WindowStatesFollowGameTypeAndRole) {
    TMainForm& w = open();
    w.show();
    // Multiplayer: everything enabled; the client group is in front.
    w.rgGameType->setItemIndex(1);
    EXPECT_EQ(launcherKey().readInteger(ValGameType), 1);
    EXPECT_TRUE(w.rgClientServer->isEnabled());
    for (QWidget* c :
         {static_cast<QWidget*>(w.gbClientAddr), static_cast<QWidget*>(w.edClientServerAddr),
          static_cast<QWidget*>(w.lbClientServerAddr), static_cast<QWidget*>(w.btTestSrv),
          static_cast<QWidget*>(w.gbServerAddr), static_cast<QWidget*>(w.btAddrRefresh),
          static_cast<QWidget*>(w.edServerInetAddr)})
        EXPECT_TRUE(c->isEnabled()) << c->metaObject()->className();
    EXPECT_TRUE(w.gbClientAddr->isVisible());

    // Server: the own-address group is shown, the LAN address looked up, the page requested.
    w.rgClientServer->setItemIndex(1);
    EXPECT_EQ(launcherKey().readInteger(ValClientServer), 1);
    EXPECT_FALSE(w.gbClientAddr->isVisible());
    EXPECT_TRUE(w.gbServerAddr->isVisible());
    EXPECT_FALSE(w.edServerLanAddr->text().isEmpty());
    EXPECT_TRUE(w.webTimer->Enabled());

    // Singleplayer: the server group stays visible but everything is disabled.
    w.rgGameType->setItemIndex(0);
    EXPECT_FALSE(w.rgClientServer->isEnabled());
    EXPECT_FALSE(w.gbServerAddr->isEnabled());
    EXPECT_TRUE(w.gbServerAddr->isVisible());
    EXPECT_FALSE(w.btAddrRefresh->isEnabled());
}

TEST_F(Modes, RefreshTriggersTestDifferentFields) {
    TMainForm& w = open();
    int refreshes = 0;
    w.acRefresh->onExecute = [&] {
        ++refreshes;
        w.edServerLanAddr->setText("192.168.0.7");
    };
    w.rgGameType->setItemIndex(1);
    EXPECT_EQ(refreshes, 0); // role still Client
    w.rgClientServer->setItemIndex(1);
    EXPECT_EQ(refreshes, 1);
    w.rgClientServer->setItemIndex(0);
    w.rgClientServer->setItemIndex(1);
    EXPECT_EQ(refreshes, 1); // LAN field filled: no new refresh
    w.rgGameType->setItemIndex(0);
    w.rgGameType->setItemIndex(1);
    EXPECT_EQ(refreshes, 2); // the Internet field is still empty
    w.edServerInetAddr->setText("84.133.2.17");
    w.rgGameType->setItemIndex(0);
    w.rgGameType->setItemIndex(1);
    EXPECT_EQ(refreshes, 2);
}

TEST_F(Modes, RefreshIsRefusedWhileALookupRuns) {
    TMainForm& w = open();
    w.rgGameType->setItemIndex(1);
    w.rgClientServer->setItemIndex(1);
    ASSERT_TRUE(w.webTimer->Enabled());
    idle();
    EXPECT_FALSE(w.acRefresh->enabled());
    EXPECT_FALSE(w.btAddrRefresh->isEnabled());
    EXPECT_FALSE(w.acRefresh->execute());
    w.rgClientServer->setItemIndex(0);
    w.edServerLanAddr->clear();
    w.rgClientServer->setItemIndex(1); // would refresh, but the action refuses
    EXPECT_TRUE(w.edServerLanAddr->text().isEmpty());
}

TEST_F(Modes, StartNeedsAnInstallationAndForAClientADottedQuad) {
    TMainForm& w = open();
    idle();
    EXPECT_TRUE(w.acStart->enabled()); // Singleplayer
    w.rgGameType->setItemIndex(1);
    w.edClientServerAddr->setText("10.0.0");
    idle();
    EXPECT_FALSE(w.acStart->enabled());
    EXPECT_FALSE(w.btLaunch->isEnabled());
    w.edClientServerAddr->setText("10.0.0.5");
    idle();
    EXPECT_TRUE(w.acStart->enabled());
    EXPECT_TRUE(w.btLaunch->isEnabled());
    // Every change of the text is looked at again, also back and forth between passes.
    for (const char* text : {"10.0.0.", "10.0.0.5", "", "a1.2.3.4b", "1..2.3.4"}) {
        w.edClientServerAddr->setText(text);
        idle();
        EXPECT_EQ(w.acStart->enabled(), !FindFirstMatch(text, DottedQuadPattern).empty()) << text;
        EXPECT_EQ(w.acTestSrv->enabled(), w.acStart->enabled()) << text;
    }
    w.edClientServerAddr->setText("10.0.0.5");
    idle();

    w.udpTimer->holdTicks(true);
    w.udpTimer->setEnabled(true); // a server test runs
    idle();
    EXPECT_FALSE(w.acStart->enabled());
    w.udpTimer->setEnabled(false);
    w.webTimer->holdTicks(true);
    w.webTimer->setEnabled(true); // a page lookup runs
    idle();
    EXPECT_FALSE(w.acStart->enabled());
    w.webTimer->setEnabled(false);

    w.cbInstallation->setCurrentIndex(-1);
    idle();
    EXPECT_FALSE(w.acStart->enabled());
}

TEST_F(Modes, StartIsUnchangedWhenNoRoleIsSelected) {
    launcherKey().writeInteger(ValGameType, 1);
    launcherKey().writeInteger(ValClientServer, -1);
    TMainForm& w = open();
    EXPECT_EQ(w.rgClientServer->itemIndex(), -1);
    idle();
    EXPECT_TRUE(w.acStart->enabled()); // enabled at first, and nothing changes it
    w.cbInstallation->setCurrentIndex(-1);
    idle();
    w.cbInstallation->setCurrentIndex(0);
    idle();
    EXPECT_FALSE(w.acStart->enabled()); // stays as the last rule left it
}

TEST_F(Modes, TestServerNeedsAForeignDottedQuadAndAnInstallation) {
    TMainForm& w = open();
    w.rgGameType->setItemIndex(1);
    w.edClientServerAddr->setText("Server 192.168.0.10");
    idle();
    EXPECT_TRUE(w.acTestSrv->enabled());
    w.edServerLanAddr->setText("192.168.0.10");
    w.edClientServerAddr->setText("192.168.0.10");
    idle();
    EXPECT_FALSE(w.acTestSrv->enabled()); // our own LAN address
    w.edServerInetAddr->setText("84.133.2.17");
    w.edClientServerAddr->setText("84.133.2.17");
    idle();
    EXPECT_FALSE(w.acTestSrv->enabled()); // our own Internet address
    w.edClientServerAddr->setText("84.133.2.18");
    idle();
    EXPECT_TRUE(w.acTestSrv->enabled());
    w.cbInstallation->setCurrentIndex(-1);
    idle();
    EXPECT_FALSE(w.acTestSrv->enabled());
}

TEST_F(Modes, AddressRefreshButtonStartsOutOfStepWithItsAction) {
    TMainForm& w = open();
    idle();
    EXPECT_TRUE(w.acRefresh->enabled());
    EXPECT_FALSE(w.btAddrRefresh->isEnabled());
    w.rgGameType->setItemIndex(1); // enabling the group brings it in step
    EXPECT_TRUE(w.btAddrRefresh->isEnabled());
}

TEST_F(Modes, GroupsLabelsAndTheTestButtonLookAsDesigned) {
    TMainForm& w = open();
    w.edClientServerAddr->setText("10.0.0.1");
    idle();                                   // Test Server enabled, in the disabled client group
    const QImage window = w.grab().toImage(); // groups show the window's own background
    for (const QWidget* group : {(QWidget*)w.gbInstallation, (QWidget*)w.rgGameType})
        EXPECT_EQ(window.pixel(group->geometry().bottomLeft() + QPoint(6, -6)), window.pixel(4, 4));
    const QImage enabledLook = w.btTestSrv->grab().toImage(); // drawn as its action stands
    w.acTestSrv->setEnabled(false);
    EXPECT_NE(w.btTestSrv->grab().toImage(), enabledLook);
    for (const auto& [label, designed] : {std::pair<QLabel*, int>{w.lbServerLanAddr, 75},
                                          {w.lbServerInetAddr, 90},
                                          {w.lbClientServerAddr, 72},
                                          {testForm->Label1, 201}}) // all text, designed width
        EXPECT_EQ(std::max(label->fontMetrics().horizontalAdvance(label->text()), label->width()),
                  designed);
}
