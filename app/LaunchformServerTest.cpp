// The server test: the query goes to port 53917 of the typed address once a second; the first
// reply of more than 26 bytes ends the test with the server's version and session name, six
// seconds without one end it with the no-answer message.
//
// A send to a host name waits for the name lookup in a nested event loop, so ticks, datagrams
// and clicks can arrive in the middle of a send. The endpoint that is sending is never destroyed
// or replaced from inside that wait: a test that ends meanwhile only detaches it, and the send's
// caller destroys it once the send has returned.
#include "app/Launchform.h"

#include "address/DottedQuad.h"
#include "app/AnsiText.h"
#include "app/Progbar.h"
#include "platform/toolkit/AppCursor.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"
#include "servertest/QueryDatagram.h"
#include "sockets/NMUDP.h"

#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>

#include <vector>

namespace velmar {

void TMainForm::acTestSrvUpdate() {
    acTestSrv->setEnabled(installationSelected() && !udpTimer->Enabled() &&
                          sendingUdp_ == nullptr && !serverAddressIsOwn() && serverAddressTyped());
}

void TMainForm::destroyUdp() {
    TNMUDP* udp = myUdp;
    myUdp = nullptr;
    if (!udp)
        return;
    if (udp == sendingUdp_) {
        udp->OnDataReceived = nullptr;
        udpEndedDuringSend_ = true;
    } else {
        delete udp;
    }
}

bool TMainForm::sendQuery() {
    TNMUDP* udp = myUdp;
    sendingUdp_ = udp;
    udpEndedDuringSend_ = false;
    auto finish = [&] {
        sendingUdp_ = nullptr;
        const bool ended = udpEndedDuringSend_;
        udpEndedDuringSend_ = false;
        if (ended)
            delete udp;
        return !ended;
    };
    try {
        udp->SendBuffer(ServerQuery.data(), QuerySize);
    } catch (...) {
        if (!finish())
            return false; // the test ended meanwhile; its failure no longer matters
        throw;
    }
    return finish();
}

void TMainForm::acTestSrvExecute() {
    if (sendingUdp_)
        return; // a send of this test is still waiting for its host-name lookup
    srvTestForm_->progBar->setValue(1);
    srvTestForm_->show();
    destroyUdp();
    try {
        myUdp = new TNMUDP(this);
        myUdp->OnDataReceived = [this](QObject* sender, int n, std::string fromIP, int port) {
            Guarded([&] { myUdpDataReceived(sender, n, std::move(fromIP), port); });
        };
        myUdp->setLocalPort(ServerPort);
        myUdp->setRemotePort(ServerPort);
        myUdp->setRemoteHost(ServerAddressText());
        if (!sendQuery())
            return; // a reply came while the first query was still being sent
    } catch (...) {
        // The test does not start: the dialog has no close button, so it must not stay, and no
        // endpoint may stay listening, or a stray datagram would report a server as ready.
        destroyUdp();
        srvTestForm_->hide();
        throw;
    }
    udpTimer->setInterval(1000);
    udpTimer->setEnabled(true);
    udpTimer->Tag = 1;
    setAppCursor(AppCursor::HourGlass);
}

void TMainForm::udpTimerTimer() {
    srvTestForm_->progBar->setValue(srvTestForm_->progBar->value() + 1);
    if (udpTimer->Tag <= 5) {
        // A tick that comes while the previous query still waits for its lookup sends nothing,
        // but counts, so the test still ends on time.
        if (myUdp && !sendingUdp_) {
            try {
                if (!sendQuery())
                    return;
            } catch (const std::exception&) {
                // A failed resend (the host name no longer resolves) is skipped for this tick.
            }
        }
        ++udpTimer->Tag;
        return;
    }
    udpTimer->setEnabled(false);
    setAppCursor(AppCursor::Default);
    dialogs().messageBox("Der Tides-Server antwortet nicht.");
    destroyUdp();
    srvTestForm_->hide();
}

void TMainForm::myUdpDataReceived(QObject* Sender, int NumberBytes, std::string /*FromIP*/,
                                  int /*Port*/) {
    if (NumberBytes <= 0)
        return;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(NumberBytes));
    int length = 0;
    static_cast<TNMUDP*>(Sender)->ReadBuffer(buffer.data(), length);
    if (NumberBytes <= QuerySize)
        return;
    udpTimer->setEnabled(false);
    setAppCursor(AppCursor::Default);
    destroyUdp(); // the endpoint allows this from inside its own event
    srvTestForm_->hide();
    const std::optional<ServerReply> reply = ReadServerReply(buffer.data(), NumberBytes);
    const ServerReply r = reply.value_or(ServerReply{});
    dialogs().messageBox("Der Tides-Server ist bereit!\nVersion: " + AnsiToUtf8(r.version) +
                         "\nName der Session: " + AnsiToUtf8(r.sessionName));
}

} // namespace velmar
