#pragma once
// TMainForm: the launcher's main window. It owns every piece of state: its controls, the
// settings store's registry object, the installation catalogue, the stream socket component,
// the page fetcher, both timers and, while a server test exists, its UDP endpoint.
#include "platform/toolkit/Action.h"
#include "platform/toolkit/RadioGroup.h"
#include "platform/toolkit/WindowTimer.h"
#include "settings/Registry.h"
#include "settings/Settings.h"

#include <QWidget>

#include <memory>
#include <optional>
#include <string>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmar {

class PageLoader;
class TNMUDP;
class TPowersock;
class TsrvTestForm;
class WineStarter;

class TMainForm : public QWidget {
    Q_OBJECT
public:
    // Builds the window and loads the stored settings (which may run the mode handlers and start
    // an address refresh).
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // The server test dialog (srvTestForm) is made after this window and handed in here.
    void setServerTestForm(TsrvTestForm* form) { srvTestForm_ = form; }

    // Controls (named as in the layout).
    QGroupBox* gbInstallation;
    QComboBox* cbInstallation;
    QPushButton* btInstEdit;
    QLineEdit* edPath;
    QPushButton* btDelete;
    RadioGroup* rgGameType;
    RadioGroup* rgClientServer;
    QGroupBox* gbServerAddr;
    QLabel* lbServerLanAddr;
    QLabel* lbServerInetAddr;
    QLineEdit* edServerLanAddr;
    QLineEdit* edServerInetAddr;
    QPushButton* btAddrRefresh;
    QGroupBox* gbClientAddr;
    QLabel* lbClientServerAddr;
    QLineEdit* edClientServerAddr;
    QPushButton* btTestSrv;
    QPushButton* btLaunch;
    QPushButton* btCancel;

    ActionList* ActionList1;
    Action* acStart;
    Action* acRefresh;
    Action* acEdit;
    Action* acDelete;
    Action* acTestSrv;

    WindowTimer* webTimer;
    WindowTimer* udpTimer;
    TPowersock* psock;
    PageLoader* browser;
    TNMUDP* myUdp = nullptr;

    InstallationMap Installations;
    Registry& settings() { return *reg_; }
    const std::string& launcherKey() const { return keyPath_; }

    // Handlers.
    void LoadSettings();
    void rgGameTypeClick();
    void rgClientServerClick();
    void cbInstallationChange();
    void acEditExecute();
    void acDeleteUpdate();
    void acDeleteExecute();
    void acStartUpdate();
    void acStartExecute();
    void acRefreshUpdate();
    void acRefreshExecute();
    void webTimerTimer();
    void browserDocumentComplete(std::optional<std::string> visibleText);
    void acTestSrvUpdate();
    void acTestSrvExecute();
    void udpTimerTimer();
    void myUdpDataReceived(QObject* Sender, int NumberBytes, std::string FromIP, int Port);
    void btCancelClick();
    bool FormHelp(int command, long data, bool& callHelp);

    // True while a start through Wine waits for the outcome (Start is disabled meanwhile).
    // Closing the window meanwhile hides it; the launcher ends once the outcome is known.
    bool startPending() const;
    // The Wine prefix an installation runs in: the prefix its Unix folder lies in, else the one
    // remembered for it, else $WINEPREFIX or ~/.wine.
    std::string installationPrefix(const std::string& name, const std::string& folder) const;

    // The folder of an installation name; a missing name gets an entry with an empty folder.
    std::string& InstallationFolder(const std::string& name);
    // The name listed at `index` as stored, byte for byte ("" for no item). The list shows it as
    // well as it can; the program finds, starts, deletes and stores by these bytes.
    std::string InstallationName(int index) const;
    std::string SelectedInstallationName() const;
    // The text of edClientServerAddr as the program stores and passes it: the stored bytes while
    // the field shows them unedited (also bytes that are no UTF-8, which the field can only show
    // as well as it can), otherwise the text as typed.
    std::string ServerAddressText() const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    // LoadSettings without the grouping of a first start's writes.
    void loadStoredChoices();
    void FormShow();
    bool FormCloseQuery();
    void selectInstallation(int index);
    void addInstallationItem(const std::string& name);
    // Adds "Standard" from GAMEPATH (the store's, or the environment's prefix), else from the
    // first prefix of a Linux game launcher that holds the game, with its prefix remembered.
    void seedStandardInstallation(bool listRead);
    // The prefix an installation added now belongs to ("" for none to remember).
    static std::string prefixFoundFor(const std::string& folder);
    void destroyUdp();
    // What the update handlers read of the controls. Each is worked out in the idle pass, and
    // again only after a control it comes from has announced a change, so a pass after an event
    // that changed none of them reads these members alone.
    void watchUpdateInputs();
    // Whether the server address field holds a dotted quad (FindFirstMatch).
    bool serverAddressTyped();
    // Whether the server address equals the own LAN or Internet address.
    bool serverAddressIsOwn();
    // Whether cbInstallation has a selected item, and whether its shown text is empty.
    bool installationSelected();
    bool installationTextEmpty();
    void readInstallation();
    // Sends the query through myUdp; false when the test ended while the send waited.
    bool sendQuery();

    std::string keyPath_;
    // ClientServerAddr as read at start-up, and as edClientServerAddr shows it.
    std::string storedAddress_;
    QString storedAddressShown_;
    std::unique_ptr<Registry> reg_;
    TsrvTestForm* srvTestForm_ = nullptr;
    // An endpoint whose end came while it was still sending (waiting for a host-name lookup):
    // it is destroyed as soon as that send returns.
    TNMUDP* sendingUdp_ = nullptr;
    bool udpEndedDuringSend_ = false;
    // Reports a failed start and reopens the launcher key.
    void startFailed(const std::string& errorText);
    std::unique_ptr<WineStarter> wineStart_; // the start through Wine, once one was made
    bool closeAfterStart_ = false;           // the window was closed during that start
    // The texts of edClientServerAddr, edServerLanAddr and edServerInetAddr, as last announced.
    QString typedAddress_, lanAddress_, inetAddress_;
    // Set by the change signals of the controls; cleared when the value below is worked out.
    bool addressChanged_ = true;      // edClientServerAddr
    bool ownAddressChanged_ = true;   // edClientServerAddr, edServerLanAddr, edServerInetAddr
    bool installationChanged_ = true; // cbInstallation: the selected item or its text
    bool addressHasQuad_ = false;
    std::string addressBytes_; // the server address as FindFirstMatch reads it
    bool addressIsOwn_ = false;
    bool installationSelected_ = false;
    bool installationTextEmpty_ = true;
};

// The two windows of the program.
extern TMainForm* MainForm;
extern TsrvTestForm* srvTestForm;

} // namespace velmar
