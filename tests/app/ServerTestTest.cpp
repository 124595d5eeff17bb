// The server test against a stand-in game server on 127.0.0.1. The stand-in holds port 53917,
// so the launcher's own bind to 53917 fails and its queries leave from a port of the system's
// choosing; the stand-in answers to the query's source, as the real server does.
#include "tests/app/WindowFixture.h"

#include "platform/toolkit/AppCursor.h"
#include "servertest/QueryDatagram.h"
#include "sockets/NMUDP.h"
#include "tests/support/UdpStandIn.h"

#include <QLineEdit>
#include <QProgressBar>
#include <QTimer>

#include <chrono>
#include <vector>

using namespace velmar;
using namespace velmar::test;

class ServerTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        installationsKey().writeString("Standard", "/games/a");
        launcherKey().writeInteger(ValGameType, 1);
        launcherKey().writeInteger(ValClientServer, 0);
        launcherKey().writeString(ValClientServerAddr, "127.0.0.1");
    }
    TMainForm& start() {
        TMainForm& w = open();
        w.udpTimer->holdTicks(true); // the test steps through the timeline itself
        w.ActionList1->updateAll();
        EXPECT_TRUE(w.acTestSrv->execute());
        return w;
    }
    int bar() const { return testForm->progBar->value(); }
};

TEST_F(ServerTest, SixQueriesThenTheNoAnswerMessage) {
    UdpStandIn server(ServerPort);
    ASSERT_TRUE(server.bound());
    TMainForm& w = start();
    EXPECT_TRUE(testForm->isVisible());
    EXPECT_FALSE(testForm->close()); // a close request (title bar, Alt+F4) is refused
    EXPECT_TRUE(testForm->isVisible());
    EXPECT_EQ(bar(), 1);
    EXPECT_EQ(w.udpTimer->Tag, 1);
    EXPECT_TRUE(w.udpTimer->Enabled());
    EXPECT_EQ(appCursor(), AppCursor::HourGlass);
    w.ActionList1->updateAll();
    EXPECT_FALSE(w.acTestSrv->enabled());
    EXPECT_FALSE(w.acStart->enabled());

    for (int tick = 2; tick <= 6; ++tick) {
        w.udpTimer->tick();
        EXPECT_EQ(bar(), tick);
        EXPECT_EQ(w.udpTimer->Tag, tick);
    }
    processFor(50);
    const auto queries = server.drain();
    ASSERT_EQ(queries.size(), 6u);
    for (const auto& q : queries)
        EXPECT_EQ(q, std::vector<std::uint8_t>(ServerQuery.begin(), ServerQuery.end()));

    w.udpTimer->tick();
    EXPECT_EQ(bar(), 7);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Der Tides-Server antwortet nicht."});
    EXPECT_FALSE(w.udpTimer->Enabled());
    EXPECT_EQ(w.myUdp, nullptr);
    EXPECT_FALSE(testForm->isVisible());
    EXPECT_EQ(appCursor(), AppCursor::Default);
    EXPECT_TRUE(server.drain().empty()); // no seventh query
}

TEST_F(ServerTest, ReplyShowsVersionAndSessionName) {
    UdpStandIn server(ServerPort);
    TMainForm& w = start();
    w.udpTimer->tick();
    ASSERT_TRUE(processUntil([&] { return !server.drain().empty(); }));
    ASSERT_TRUE(server.reply(serverReply("1.07 \x80", "Abend")));
    ASSERT_TRUE(processUntil([&] { return !dialogs.messages.empty(); }));
    EXPECT_EQ(dialogs.messages[0],
              "Der Tides-Server ist bereit!\nVersion: 1.07 \xE2\x82\xAC\nName der Session: Abend");
    EXPECT_FALSE(w.udpTimer->Enabled());
    EXPECT_EQ(w.myUdp, nullptr);
    EXPECT_FALSE(testForm->isVisible());
    EXPECT_EQ(appCursor(), AppCursor::Default);
}

TEST_F(ServerTest, ShortDatagramsChangeNothing) {
    UdpStandIn server(ServerPort);
    TMainForm& w = start();
    ASSERT_TRUE(processUntil([&] { return !server.drain().empty(); }));
    for (int i = 0; i < 50; ++i)
        EXPECT_TRUE(server.reply(Bytes(static_cast<std::size_t>(i % 27), 0x41)));
    processFor(100);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(w.udpTimer->Enabled());
    EXPECT_NE(w.myUdp, nullptr);
    for (int i = 0; i < 6; ++i)
        w.udpTimer->tick();
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Der Tides-Server antwortet nicht."});
}

TEST_F(ServerTest, ReplyWhileTheNoAnswerMessageIsOpenIsShownOnTop) {
    UdpStandIn server(ServerPort);
    TMainForm& w = start();
    ASSERT_TRUE(processUntil([&] { return !server.drain().empty(); }));
    dialogs.whileMessageOpen = [&](const std::string& text) {
        if (text != "Der Tides-Server antwortet nicht.")
            return;
        EXPECT_TRUE(testForm->isVisible()); // the dialog and the endpoint stay meanwhile
        EXPECT_NE(w.myUdp, nullptr);
        EXPECT_TRUE(server.reply(serverReply("2.0", "X")));
        processUntil([&] { return dialogs.messages.size() >= 2; });
    };
    for (int i = 0; i < 6; ++i)
        w.udpTimer->tick();
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[1],
              "Der Tides-Server ist bereit!\nVersion: 2.0\nName der Session: X");
    EXPECT_EQ(w.myUdp, nullptr);
    EXPECT_FALSE(testForm->isVisible());
}

TEST_F(ServerTest, ResendsGoToTheAddressTakenAtTheStart) {
    UdpStandIn server(ServerPort);
    TMainForm& w = start();
    w.edClientServerAddr->setText("127.0.0.2");
    w.udpTimer->tick();
    w.udpTimer->tick();
    processFor(50);
    EXPECT_EQ(server.drain().size(), 3u);
}

TEST_F(ServerTest, TwoTestsInARowBindThePortAgain) {
    TMainForm& w = start(); // nobody holds 53917 now: the endpoint binds it
    if (w.myUdp->boundPort() != ServerPort)
        GTEST_SKIP() << "port 53917 is held by another program on this machine";
    for (int i = 0; i < 6; ++i)
        w.udpTimer->tick();
    ASSERT_EQ(w.myUdp, nullptr);
    w.ActionList1->updateAll();
    ASSERT_TRUE(w.acTestSrv->execute());
    EXPECT_EQ(bar(), 1);
    EXPECT_EQ(w.udpTimer->Tag, 1);
    EXPECT_EQ(w.myUdp->boundPort(), ServerPort);
}

TEST_F(ServerTest, FailedFirstSendIsReportedAndHidesTheDialog) {
    launcherKey().writeString(ValClientServerAddr, "0.0.0.0");
    TMainForm& w = open();
    w.ActionList1->updateAll();
    ASSERT_TRUE(w.acTestSrv->enabled());
    EXPECT_THROW(w.acTestSrvExecute(), UDPSockError);
    EXPECT_EQ(w.myUdp, nullptr); // nothing listens: a stray datagram reports no server
    EXPECT_TRUE(UdpStandIn(ServerPort).bound());
    EXPECT_FALSE(testForm->isVisible());
    EXPECT_FALSE(w.udpTimer->Enabled());
    EXPECT_EQ(appCursor(), AppCursor::Default);
    w.ActionList1->updateAll();
    EXPECT_TRUE(w.acTestSrv->enabled()); // the test counts as not running
}

TEST_F(ServerTest, NothingMayReplaceTheEndpointWhileItsSendWaitsForALookup) {
    // "localhost" is a host name, so the first send waits for its lookup in a nested loop;
    // meanwhile a second start and a tick are tried.
    launcherKey().writeString(ValClientServerAddr, "localhost");
    TMainForm& w = open();
    w.udpTimer->holdTicks(true);
    bool triedDuringLookup = false;
    QTimer::singleShot(0, [&] {
        triedDuringLookup = true;
        ASSERT_NE(w.myUdp, nullptr);
        EXPECT_TRUE(w.myUdp->sending());
        TNMUDP* sending = w.myUdp;
        w.ActionList1->updateAll();
        EXPECT_FALSE(w.acTestSrv->enabled());
        w.acTestSrvExecute(); // a second start is refused
        EXPECT_EQ(w.myUdp, sending);
        w.udpTimer->tick(); // no tick before the test runs
        EXPECT_EQ(w.myUdp, sending);
    });
    w.acTestSrvExecute();
    EXPECT_TRUE(triedDuringLookup);
    EXPECT_TRUE(w.udpTimer->Enabled()); // the test runs after the lookup
    for (int i = 0; i < 6; ++i)
        w.udpTimer->tick();
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Der Tides-Server antwortet nicht."});
}

TEST_F(ServerTest, ReplyDuringTheFirstLookupEndsTheTestExactlyOnce) {
    launcherKey().writeString(ValClientServerAddr, "localhost");
    TMainForm& w = open();
    w.udpTimer->holdTicks(true);
    QTimer::singleShot(0, [&] {
        ASSERT_NE(w.myUdp, nullptr);
        if (w.myUdp->boundPort() != ServerPort)
            return; // port held elsewhere: nothing can reach the endpoint yet
        UdpStandIn().sendTo(ServerPort, serverReply("3.1", "Y"));
        processUntil([&] { return !dialogs.messages.empty(); }, 2000);
    });
    w.acTestSrvExecute();
    if (dialogs.messages.empty())
        GTEST_SKIP() << "port 53917 is held by another program on this machine";
    EXPECT_EQ(dialogs.messages,
              std::vector<std::string>{
                  "Der Tides-Server ist bereit!\nVersion: 3.1\nName der Session: Y"});
    EXPECT_FALSE(w.udpTimer->Enabled()); // the test did not start after its reply
    EXPECT_EQ(w.myUdp, nullptr);
    EXPECT_FALSE(testForm->isVisible());
    EXPECT_EQ(appCursor(), AppCursor::Default);
}

TEST_F(ServerTest, RealTimeTestEndsAfterSixSeconds) {
    UdpStandIn server(ServerPort);
    TMainForm& w = open();
    w.ActionList1->updateAll();
    const auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(w.acTestSrv->execute());
    ASSERT_TRUE(processUntil([&] { return !dialogs.messages.empty(); }, 9000));
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(5900));
    EXPECT_EQ(server.drain().size(), 6u);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Der Tides-Server antwortet nicht."});
}
