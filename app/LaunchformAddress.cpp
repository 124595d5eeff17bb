// The host's own addresses: the LAN address from the stream socket component, and the public
// address read from the page at IpServerUrl within IpTimeout milliseconds.
#include "app/Launchform.h"

#include "address/DottedQuad.h"
#include "address/PageLoader.h"
#include "platform/toolkit/AppCursor.h"
#include "platform/toolkit/Dialogs.h"
#include "sockets/Psock.h"

#include <QLineEdit>

namespace velmar {

void TMainForm::acRefreshUpdate() {
    acRefresh->setEnabled(!webTimer->Enabled());
}

void TMainForm::acRefreshExecute() {
    edServerLanAddr->setText(QString::fromStdString(psock->LocalIP()));
    if (rgGameType->itemIndex() != 1 || rgClientServer->itemIndex() != 1)
        return;

    edServerInetAddr->clear();
    std::uint32_t interval = DefaultIpTimeout;
    try {
        // Stored bits taken as unsigned: a negative value is a wait of weeks.
        interval = static_cast<std::uint32_t>(reg_->readInteger(ValIpTimeout));
    } catch (const std::exception&) {
        interval = DefaultIpTimeout;
        reg_->writeInteger(ValIpTimeout, static_cast<std::int32_t>(DefaultIpTimeout));
    }
    webTimer->setInterval(interval);
    webTimer->setEnabled(true);
    setAppCursor(AppCursor::HourGlass);

    std::string url = reg_->readString(ValIpServerUrl);
    if (url.empty()) {
        url = DefaultIpServerUrl;
        reg_->writeString(ValIpServerUrl, url);
    }
    browser->Navigate(url);
}

void TMainForm::webTimerTimer() {
    browser->Stop();
    webTimer->setEnabled(false);
    dialogs().messageBox("Web-Server antwortet nicht!");
    setAppCursor(AppCursor::Default);
}

void TMainForm::browserDocumentComplete(std::optional<std::string> visibleText) {
    webTimer->setEnabled(false);
    setAppCursor(AppCursor::Default);
    if (!visibleText) {
        dialogs().messageBox("Kann Web-Server nicht kontaktieren");
        return;
    }
    edServerInetAddr->setText(
        QString::fromStdString(FindFirstMatch(*visibleText, DottedQuadPattern)));
    if (edServerInetAddr->text().isEmpty())
        dialogs().messageBox("Kann Internet-IP nicht ermitteln");
}

} // namespace velmar
