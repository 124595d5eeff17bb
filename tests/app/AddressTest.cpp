// The host's own addresses: the LAN field and the public address read from a page served by
// a small HTTP server on 127.0.0.1.
#include "tests/app/WindowFixture.h"

#include "address/PageLoader.h"

#include "platform/toolkit/AppCursor.h"
#include "tests/support/HttpStandIn.h"

#include <QLineEdit>

#include <cstdlib>

using namespace velmar;
using namespace velmar::test;

class Address : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        launcherKey().writeInteger(ValGameType, 1);
        launcherKey().writeInteger(ValClientServer, 0);
        launcherKey().writeInteger(ValIpTimeout, 5000);
    }
    // Switches the open window to the host role, which starts a refresh.
    void becomeHost(const std::string& url) {
        launcherKey().writeString(ValIpServerUrl, url);
        form->rgClientServer->setItemIndex(1);
    }
    bool lookupEnded() {
        return processUntil([&] { return !form->webTimer->Enabled(); });
    }
    HttpStandIn http;
};

TEST_F(Address, PageWithAnAddressFillsTheInternetField) {
    http.answers["/ip"] =
        HttpStandIn::page("<html><body><p>Ihre IP: 84.133.2.17</p></body></html>");
    TMainForm& w = open();
    becomeHost(http.url("/ip"));
    EXPECT_TRUE(w.webTimer->Enabled());
    EXPECT_EQ(appCursor(), AppCursor::HourGlass);
    EXPECT_FALSE(w.edServerLanAddr->text().isEmpty());
    ASSERT_TRUE(lookupEnded());
    EXPECT_EQ(w.edServerInetAddr->text(), QString("84.133.2.17"));
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(appCursor(), AppCursor::Default);
}

TEST_F(Address, OnlyTheFirstVisibleAddressCounts) {
    http.answers["/ip"] = HttpStandIn::page(
        "<html><head><title>1.1.1.1</title><script>var a='2.2.2.2';</script>"
        "<style>.x { display: none }</style></head><body><!-- 3.3.3.3 -->"
        "<a href='http://4.4.4.4/'>Adresse</a><div><span class=x>10.0.0.1</span>84.133.2.17</div>5"
        "<p>10.0.0.1</p></body></html>");
    TMainForm& w = open();
    becomeHost(http.url("/ip"));
    ASSERT_TRUE(lookupEnded());
    EXPECT_EQ(w.edServerInetAddr->text(), QString("84.133.2.17"));
}

TEST_F(Address, PageWithoutAnAddressSaysSo) {
    http.answers["/ip"] = HttpStandIn::page("<html><body>Keine Adresse hier</body></html>");
    TMainForm& w = open();
    becomeHost(http.url("/ip"));
    ASSERT_TRUE(lookupEnded());
    EXPECT_TRUE(w.edServerInetAddr->text().isEmpty());
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Kann Internet-IP nicht ermitteln"});
}

TEST_F(Address, ErrorStatusAndClosedPortMeanNoContact) {
    http.answers["/ip"] = HttpStandIn::response(500, "Internal Server Error", "84.133.2.17");
    TMainForm& w = open();
    becomeHost(http.url("/ip"));
    ASSERT_TRUE(lookupEnded());
    EXPECT_TRUE(w.edServerInetAddr->text().isEmpty());
    launcherKey().writeString(ValIpServerUrl, "http://127.0.0.1:9/whatismyip.php");
    ASSERT_TRUE(w.acRefresh->execute());
    ASSERT_TRUE(lookupEnded());
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Kann Web-Server nicht kontaktieren",
                                                          "Kann Web-Server nicht kontaktieren"}));
}

TEST_F(Address, RefusedUrlIsEndedByTheTimeOutAndNoSchemeMeansHttp) {
    launcherKey().writeInteger(ValIpTimeout, 200);
    TMainForm& w = open();
    becomeHost("ftp://127.0.0.1/ip");
    EXPECT_TRUE(w.webTimer->Enabled());
    ASSERT_TRUE(processUntil([&] { return !dialogs.messages.empty(); }));
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Web-Server antwortet nicht!"});
    http.answers["/ip"] = HttpStandIn::page("Ihre IP: 84.133.2.17");
    launcherKey().writeString(ValIpServerUrl, "127.0.0.1:" + std::to_string(http.port()) + "/ip");
    ASSERT_TRUE(w.acRefresh->execute());
    ASSERT_TRUE(lookupEnded());
    EXPECT_EQ(w.edServerInetAddr->text(), QString("84.133.2.17"));
    EXPECT_EQ(dialogs.messages.size(), 1u);
}

TEST_F(Address, SilentServerTimesOutOnceAndNoLateCompletionFollows) {
    launcherKey().writeInteger(ValIpTimeout, 200);
    TMainForm& w = open();
    becomeHost(http.url("/never")); // the server accepts and never answers
    ASSERT_TRUE(processUntil([&] { return !dialogs.messages.empty(); }));
    processFor(400);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Web-Server antwortet nicht!"});
    EXPECT_TRUE(w.edServerInetAddr->text().isEmpty());
    EXPECT_FALSE(w.webTimer->Enabled());
    EXPECT_EQ(appCursor(), AppCursor::Default);
}

TEST_F(Address, TimeOutMessageIsShownOnceHoweverLongItStaysOpen) {
    launcherKey().writeInteger(ValIpTimeout, 100);
    TMainForm& w = open();
    dialogs.whileMessageOpen = [](const std::string&) {
        processFor(350);
    };
    becomeHost(http.url("/never"));
    ASSERT_TRUE(processUntil([&] { return !dialogs.messages.empty(); }));
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_FALSE(w.webTimer->Enabled());
}

TEST_F(Address, CompletionAfterTheTimeOutStillFillsTheField) {
    TMainForm& w = open();
    ASSERT_FALSE(w.webTimer->Enabled());
    w.browserDocumentComplete(std::string("Ihre IP: 84.133.2.17"));
    EXPECT_EQ(w.edServerInetAddr->text(), QString("84.133.2.17"));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(Address, TimeOutOfTheWrongTypeIsReplacedAndZeroMeansNoTimeOut) {
    launcherKey().writeString(ValIpTimeout, "7000");
    TMainForm& w = open();
    becomeHost(http.url("/never"));
    EXPECT_EQ(launcherKey().readInteger(ValIpTimeout), 7000);
    EXPECT_EQ(w.webTimer->Interval(), 7000u);
    w.webTimerTimer();
    launcherKey().writeInteger(ValIpTimeout, 0);
    ASSERT_TRUE(w.acRefresh->execute());
    EXPECT_TRUE(w.webTimer->Enabled());
    EXPECT_EQ(w.webTimer->Interval(), 0u);
    processFor(100);
    EXPECT_TRUE(w.webTimer->Enabled());
    launcherKey().writeInteger(ValIpTimeout, -1); // read as unsigned: weeks
    w.webTimerTimer();
    ASSERT_TRUE(w.acRefresh->execute());
    EXPECT_EQ(w.webTimer->Interval(), 0xFFFFFFFFu);
}

TEST_F(Address, FreshKeyStoresBothDefaults) {
    // The default page's host must never be contacted from a test: requests go through a proxy
    // on a closed loopback port, and the load is stopped at once.
    setenv("http_proxy", "http://127.0.0.1:9", 1);
    launcherKey().deleteValue(ValIpServerUrl);
    launcherKey().deleteValue(ValIpTimeout);
    TMainForm& w = open();
    w.rgClientServer->setItemIndex(1);
    w.browser->Stop();
    unsetenv("http_proxy");
    EXPECT_EQ(launcherKey().readInteger(ValIpTimeout), 7000);
    EXPECT_EQ(launcherKey().readString(ValIpServerUrl), DefaultIpServerUrl);
    // A page that can work: http or https on a public host name, not a reserved one that never
    // resolves.
    const QUrl url(QString::fromLatin1(DefaultIpServerUrl));
    EXPECT_TRUE(url.isValid());
    EXPECT_TRUE(url.scheme() == "https" || url.scheme() == "http");
    const QString host = url.host();
    ASSERT_TRUE(host.contains('.'));
    for (const char* reserved : {".example", ".invalid", ".test", ".localhost", ".local"})
        EXPECT_FALSE(host.endsWith(QLatin1String(reserved))) << host.toStdString();
}

TEST_F(Address, StoredHostLooksUpBothAddressesAtStartUp) {
    http.answers["/ip"] = HttpStandIn::page("<body>Your address: 84.133.2.17 (cached)</body>");
    launcherKey().writeString(ValIpServerUrl, http.url("/ip"));
    launcherKey().writeInteger(ValClientServer, 1);
    TMainForm& w = open();
    EXPECT_TRUE(w.webTimer->Enabled()); // under way before the window is shown
    w.show();
    ASSERT_TRUE(lookupEnded());
    EXPECT_FALSE(w.edServerLanAddr->text().isEmpty());
    EXPECT_EQ(w.edServerInetAddr->text(), QString("84.133.2.17"));
}

TEST_F(Address, ARepeatedLookupStartsFromAnEmptyField) {
    http.answers["/ip"] = HttpStandIn::page("<body>84.133.2.17</body>");
    TMainForm& w = open();
    becomeHost(http.url("/ip"));
    ASSERT_TRUE(lookupEnded());
    ASSERT_FALSE(w.edServerInetAddr->text().isEmpty());
    launcherKey().writeString(ValIpServerUrl, http.url("/none"));
    http.answers["/none"] = HttpStandIn::page("<body>nichts</body>");
    ASSERT_TRUE(w.acRefresh->execute());
    EXPECT_TRUE(w.edServerInetAddr->text().isEmpty());
    ASSERT_TRUE(lookupEnded());
    EXPECT_TRUE(w.edServerInetAddr->text().isEmpty());
}

TEST_F(Address, UrlOfTheWrongTypeIsAnErrorAndTheTimeOutEndsTheLookup) {
    launcherKey().writeInteger(ValIpServerUrl, 5);
    launcherKey().writeInteger(ValIpTimeout, 100);
    TMainForm& w = open();
    EXPECT_THROW(w.rgClientServer->setItemIndex(1), RegistryError);
    EXPECT_TRUE(w.webTimer->Enabled());
    ASSERT_TRUE(processUntil([&] { return !dialogs.messages.empty(); }));
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Web-Server antwortet nicht!"});
    EXPECT_EQ(appCursor(), AppCursor::Default);
}
