// The main window: its layout, start-up and close, help, the Enter key, and the mode handlers.
#include "app/Launchform.h"

#include "address/DottedQuad.h"
#include "address/PageLoader.h"
#include "app/AnsiText.h"
#include "app/Progbar.h"
#include "app/WindowLook.h"
#include "platform/process/WineStart.h"
#include "platform/toolkit/AppCursor.h"
#include "platform/toolkit/Application.h"
#include "platform/toolkit/Dialogs.h"
#include "platform/toolkit/Focus.h"
#include "platform/toolkit/DropDownList.h"
#include "sockets/NMUDP.h"
#include "sockets/Psock.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <algorithm>
#include <limits>
#include <optional>

namespace velmar {

TMainForm* MainForm = nullptr;
TsrvTestForm* srvTestForm = nullptr;

namespace {
QString q(const char* s) {
    return QString::fromUtf8(s);
}

// The UTF-8 bytes of `text`, as toStdString() gives them, written into `bytes`, which keeps its
// room from call to call. A typed address is plain ASCII, whose UTF-8 bytes are its characters.
const std::string& utf8Into(const QString& text, std::string& bytes) {
    bytes.clear();
    for (const QChar c : text) {
        if (c.unicode() >= 0x80) {
            bytes = text.toStdString();
            break;
        }
        bytes.push_back(static_cast<char>(c.unicode()));
    }
    return bytes;
}
} // namespace

TMainForm::TMainForm(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint) {
    createControls();
    keyPath_ = LauncherKeyPath;
    reg_ = std::make_unique<Registry>();
    LoadSettings();
    myUdp = nullptr;
}

TMainForm::~TMainForm() {
    qApp->removeEventFilter(this);
    // The endpoint of a running test goes with its owner; no event of it may reach a half
    // destroyed window.
    if (myUdp)
        myUdp->OnDataReceived = nullptr;
}

void TMainForm::createControls() {
    setWindowTitle(q("Tobrel's Velmar Launch Tool - Version 1.1"));
    // The task bar and the task switcher name the program, not the window's caption.
    setWindowIconText(QString::fromLatin1(ApplicationTitle));
    applyWindowLook(this);
    const Scale s(this);
    setFixedSize(s(391), s(407));
    move(s(233), s(278));

    ActionList1 = new ActionList(this);
    acStart = new Action(q("Start"), this);
    acRefresh = new Action(q("Aktualisieren"), this);
    acEdit = new Action(q("Hinzufügen..."), this);
    acDelete = new Action(q("Löschen"), this);
    acTestSrv = new Action(q("Test Server"), this);
    for (Action* a : {acStart, acRefresh, acEdit, acDelete, acTestSrv})
        ActionList1->add(a);
    acStart->onExecute = [this] {
        acStartExecute();
    };
    acStart->onUpdate = [this] {
        acStartUpdate();
    };
    acRefresh->onExecute = [this] {
        acRefreshExecute();
    };
    acRefresh->onUpdate = [this] {
        acRefreshUpdate();
    };
    acEdit->onExecute = [this] {
        acEditExecute();
    };
    acDelete->onExecute = [this] {
        acDeleteExecute();
    };
    acDelete->onUpdate = [this] {
        acDeleteUpdate();
    };
    acTestSrv->onExecute = [this] {
        acTestSrvExecute();
    };
    acTestSrv->onUpdate = [this] {
        acTestSrvUpdate();
    };

    // Controls in stacking order, back to front; children right after their group.
    gbServerAddr = new QGroupBox(q("Eigene Server-Adressen"), this);
    gbServerAddr->setGeometry(s.rect(24, 248, 345, 105));
    lbServerLanAddr = new QLabel(q("Adresse im LAN"), gbServerAddr);
    lbServerLanAddr->setGeometry(s.rect(16, 32, 75, 13));
    lbServerInetAddr = new QLabel(q("Adresse im Internet"), gbServerAddr);
    lbServerInetAddr->setGeometry(s.rect(16, 62, 90, 13));
    edServerLanAddr = new QLineEdit(gbServerAddr);
    edServerLanAddr->setGeometry(s.rect(120, 28, 121, 21));
    edServerLanAddr->setReadOnly(true);
    edServerInetAddr = new QLineEdit(gbServerAddr);
    edServerInetAddr->setGeometry(s.rect(120, 58, 121, 21));
    edServerInetAddr->setReadOnly(true);
    btAddrRefresh = new QPushButton(gbServerAddr);
    btAddrRefresh->setGeometry(s.rect(255, 56, 74, 25));
    btAddrRefresh->setEnabled(false);
    acRefresh->link(btAddrRefresh, /*keepButtonState=*/true);
    for (QWidget* w :
         {static_cast<QWidget*>(lbServerLanAddr), static_cast<QWidget*>(lbServerInetAddr),
          static_cast<QWidget*>(edServerLanAddr), static_cast<QWidget*>(edServerInetAddr)})
        w->setEnabled(false);
    gbServerAddr->setEnabled(false);

    gbClientAddr = new QGroupBox(q("Remote Server-Adresse"), this);
    gbClientAddr->setGeometry(s.rect(24, 248, 345, 105));
    lbClientServerAddr = new QLabel(q("Server-Adresse"), gbClientAddr);
    lbClientServerAddr->setGeometry(s.rect(24, 46, 72, 13));
    lbClientServerAddr->setEnabled(false);
    edClientServerAddr = new QLineEdit(gbClientAddr);
    edClientServerAddr->setGeometry(s.rect(112, 42, 121, 21));
    edClientServerAddr->setEnabled(false);
    edClientServerAddr->setMaxLength(std::numeric_limits<int>::max()); // no length limit
    btTestSrv = new QPushButton(gbClientAddr);
    btTestSrv->setGeometry(s.rect(248, 40, 75, 25));
    acTestSrv->link(btTestSrv);
    gbClientAddr->setEnabled(false);

    gbInstallation = new QGroupBox(q("Installation"), this);
    gbInstallation->setGeometry(s.rect(24, 16, 345, 113));
    cbInstallation = new DropDownList(s(13), gbInstallation);
    cbInstallation->setGeometry(s.rect(16, 32, 217, 21));
    cbInstallation->setEditable(false);
    connect(cbInstallation, &QComboBox::activated, this,
            [this](int) { Guarded([this] { cbInstallationChange(); }); });
    btInstEdit = new QPushButton(gbInstallation);
    btInstEdit->setGeometry(s.rect(256, 30, 75, 25));
    acEdit->link(btInstEdit);
    edPath = new QLineEdit(gbInstallation);
    edPath->setGeometry(s.rect(16, 72, 217, 21));
    edPath->setReadOnly(true);
    // It has no label of its own: a screen reader would call it by its group's title, as it
    // does the list above it.
    edPath->setAccessibleName(q("Pfad der Installation"));
    {
        QPalette pal = edPath->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Button));
        edPath->setPalette(pal);
    }
    btDelete = new QPushButton(gbInstallation);
    btDelete->setGeometry(s.rect(256, 70, 75, 25));
    acDelete->link(btDelete);

    rgGameType = new RadioGroup(q("Spieltyp"), {q("Singleplayer"), q("Multiplayer")}, this);
    rgGameType->setGeometry(s.rect(24, 144, 169, 89));
    rgGameType->setItemIndex(0);
    rgGameType->onClick = [this] {
        rgGameTypeClick();
    };
    rgClientServer = new RadioGroup(q("Client / Server"), {q("Client"), q("Server")}, this);
    rgClientServer->setGeometry(s.rect(200, 144, 169, 89));
    rgClientServer->setItemIndex(0);
    rgClientServer->onClick = [this] {
        rgClientServerClick();
    };
    rgClientServer->setEnabled(false);

    btLaunch = new QPushButton(this);
    btLaunch->setGeometry(s.rect(106, 368, 75, 25));
    btLaunch->setDefault(true);
    acStart->link(btLaunch);
    btCancel = new QPushButton(q("Schließen"), this);
    btCancel->setGeometry(s.rect(210, 368, 75, 25));
    connect(btCancel, &QPushButton::clicked, this, [this] { btCancelClick(); });

    // Tab order: gbInstallation, rgGameType, rgClientServer, gbServerAddr, gbClientAddr,
    // btLaunch, btCancel.
    QWidget* chain[] = {cbInstallation,
                        btInstEdit,
                        edPath,
                        btDelete,
                        rgGameType->button(0),
                        rgGameType->button(1),
                        rgClientServer->button(0),
                        rgClientServer->button(1),
                        edServerLanAddr,
                        edServerInetAddr,
                        btAddrRefresh,
                        edClientServerAddr,
                        btTestSrv,
                        btLaunch,
                        btCancel};
    for (std::size_t i = 1; i < std::size(chain); ++i)
        setTabOrder(chain[i - 1], chain[i]);

    // Each label names the field beside it for screen readers.
    labelField(lbServerLanAddr, edServerLanAddr);
    labelField(lbServerInetAddr, edServerInetAddr);
    labelField(lbClientServerAddr, edClientServerAddr);

    // The two address groups share one rectangle: each paints its own background, so only the
    // one in front is seen; the one behind takes no focus.
    gbServerAddr->setAutoFillBackground(true);
    gbClientAddr->setAutoFillBackground(true);
    // The labels keep their designed widths, also where the window font runs wider.
    for (QLabel* label : {lbServerLanAddr, lbServerInetAddr, lbClientServerAddr})
        fitTextToWidth(label);

    const std::pair<QWidget*, const char*> names[] = {{gbServerAddr, "gbServerAddr"},
                                                      {lbServerLanAddr, "lbServerLanAddr"},
                                                      {lbServerInetAddr, "lbServerInetAddr"},
                                                      {edServerLanAddr, "edServerLanAddr"},
                                                      {edServerInetAddr, "edServerInetAddr"},
                                                      {btAddrRefresh, "btAddrRefresh"},
                                                      {gbClientAddr, "gbClientAddr"},
                                                      {lbClientServerAddr, "lbClientServerAddr"},
                                                      {edClientServerAddr, "edClientServerAddr"},
                                                      {btTestSrv, "btTestSrv"},
                                                      {gbInstallation, "gbInstallation"},
                                                      {cbInstallation, "cbInstallation"},
                                                      {btInstEdit, "btInstEdit"},
                                                      {edPath, "edPath"},
                                                      {btDelete, "btDelete"},
                                                      {rgGameType, "rgGameType"},
                                                      {rgClientServer, "rgClientServer"},
                                                      {btLaunch, "btLaunch"},
                                                      {btCancel, "btCancel"}};
    for (const auto& [widget, name] : names)
        widget->setObjectName(QString::fromLatin1(name));
    setObjectName(QStringLiteral("MainForm"));

    webTimer = new WindowTimer(this);
    webTimer->OnTimer = [this] {
        webTimerTimer();
    };
    udpTimer = new WindowTimer(this);
    udpTimer->OnTimer = [this] {
        udpTimerTimer();
    };

    psock = new TPowersock(this);
    psock->Port = 0;
    psock->ReportLevel = 0;
    browser = new PageLoader(this);
    browser->OnDocumentComplete = [this](std::optional<std::string> text) {
        Guarded([&] { browserDocumentComplete(std::move(text)); });
    };

    keepCoveredControlsUnfocused(this);
    qApp->installEventFilter(this);
    watchUpdateInputs();
}

void TMainForm::LoadSettings() {
    // A first start (no launcher key yet) writes its defaults: the keys, the role, the entry
    // seeded from the game's set-up, the last installation. They are stored together, in one
    // transaction, before the window shows, and the window does not wait for the disk: a power
    // cut can only take all of them, and the next start writes them again. The first choice the
    // user makes is synced and brings them to the disk with it. Should the store be unable to
    // group them (held by another program, unusable), each write stands alone as on any other
    // start. A step that fails part way (a value of the wrong type) keeps what was written
    // before it, as it would without the grouping.
    std::optional<RegistryTransaction> firstStart;
    {
        Registry probe;
        probe.setRootKey(Hive::CurrentUser);
        if (!probe.openKey(keyPath_, false)) {
            // A store that can not tell is no first start: nothing is written on its strength.
            if (!probe.openError().empty())
                throw RegistryReadError("Failed to read the settings: " + probe.openError());
            firstStart.emplace(defaultRegistryBackend(), RegistryBackend::Sync::Later);
        }
    }
    try {
        loadStoredChoices();
    } catch (...) {
        if (firstStart)
            firstStart->commit();
        throw;
    }
    if (firstStart && firstStart->active() && !firstStart->commit())
        throw RegistryError(defaultRegistryBackend().lastError());
}

void TMainForm::loadStoredChoices() {
    Registry& reg = *reg_;
    reg.setRootKey(Hive::CurrentUser);
    if (reg.openKey(keyPath_, true)) {
        try {
            rgGameType->setItemIndex(reg.readInteger(ValGameType));
            storedAddress_ = reg.readString(ValClientServerAddr);
            storedAddressShown_ = QString::fromStdString(ShownText(storedAddress_));
            edClientServerAddr->setText(storedAddressShown_);
            rgClientServer->setItemIndex(reg.readInteger(ValClientServer));
        } catch (const RegistryReadError&) {
            throw; // the store failed: its values are not known to be missing
        } catch (const std::exception&) {
            // First run, or a value of the wrong type: start from the layout's choices.
            rgGameType->setItemIndex(0);
            rgClientServer->setItemIndex(0);
            reg.writeInteger(ValClientServer, 0);
        }
    }

    bool listRead = false;
    {
        Registry list;
        list.setRootKey(Hive::CurrentUser);
        if (list.openKey(keyPath_ + InstallationsSuffix, true)) {
            for (const std::string& name : list.getValueNames()) {
                Installations.insert({name, list.readString(name)});
                addInstallationItem(name);
            }
            listRead = true;
        }
    }
    if (Installations.empty())
        seedStandardInstallation(listRead); // once (and again once every entry was deleted)

    const std::string lastStored = reg.readString(ValLastInstallation);
    int index = -1;
    if (!lastStored.empty()) {
        // Compared as shown, so that letter case is ignored also in names that are no UTF-8.
        const QString last = QString::fromStdString(ShownText(lastStored));
        for (int i = 0; i < cbInstallation->count() && index < 0; ++i) {
            if (cbInstallation->itemText(i).compare(last, Qt::CaseInsensitive) == 0)
                index = i;
        }
    } else if (!Installations.empty()) {
        index = 0;
    }
    cbInstallation->setCurrentIndex(index);
    cbInstallationChange();
}

void TMainForm::rgGameTypeClick() {
    const int index = rgGameType->itemIndex();
    reg_->writeInteger(ValGameType, index);
    if (index != 0 && index != 1)
        return;
    const bool multi = index == 1;
    rgClientServer->setEnabled(multi);
    for (QGroupBox* group : {gbClientAddr, gbServerAddr}) {
        group->setEnabled(multi);
        for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            child->setEnabled(multi);
    }
    if (multi && rgClientServer->itemIndex() == 1 && edServerInetAddr->text().isEmpty())
        acRefresh->execute();
}

void TMainForm::rgClientServerClick() {
    const int index = rgClientServer->itemIndex();
    reg_->writeInteger(ValClientServer, index);
    if (index == 0) {
        gbClientAddr->show();
        gbServerAddr->hide();
    } else if (index == 1) {
        gbClientAddr->hide();
        gbServerAddr->show();
        if (edServerLanAddr->text().isEmpty())
            acRefresh->execute();
    }
}

void TMainForm::acStartUpdate() {
    if (!installationSelected() || udpTimer->Enabled() || webTimer->Enabled() || startPending()) {
        acStart->setEnabled(false);
        return;
    }
    const int gameType = rgGameType->itemIndex();
    const int role = rgClientServer->itemIndex();
    if (gameType == 0) {
        acStart->setEnabled(true);
    } else if (gameType == 1) {
        if (role == 1)
            acStart->setEnabled(true);
        else if (role == 0)
            acStart->setEnabled(serverAddressTyped());
    }
}

void TMainForm::watchUpdateInputs() {
    // A line edit announces every change of its text (typed, pasted, set or cleared by the
    // program) and passes the new text along; the list announces every change of its current
    // item and of the text shown.
    typedAddress_ = edClientServerAddr->text();
    lanAddress_ = edServerLanAddr->text();
    inetAddress_ = edServerInetAddr->text();
    connect(edClientServerAddr, &QLineEdit::textChanged, this, [this](const QString& text) {
        typedAddress_ = text;
        addressChanged_ = true;
        ownAddressChanged_ = true;
    });
    connect(edServerLanAddr, &QLineEdit::textChanged, this, [this](const QString& text) {
        lanAddress_ = text;
        ownAddressChanged_ = true;
    });
    connect(edServerInetAddr, &QLineEdit::textChanged, this, [this](const QString& text) {
        inetAddress_ = text;
        ownAddressChanged_ = true;
    });
    const auto installation = [this] {
        installationChanged_ = true;
    };
    connect(cbInstallation, &QComboBox::currentIndexChanged, this, installation);
    connect(cbInstallation, &QComboBox::currentTextChanged, this, installation);
}

std::string TMainForm::ServerAddressText() const {
    const QString text = edClientServerAddr->text();
    if (text == storedAddressShown_)
        return storedAddress_;
    return text.toStdString();
}

bool TMainForm::serverAddressTyped() {
    if (addressChanged_) {
        static const std::string pattern(DottedQuadPattern); // made once, not on every search
        addressHasQuad_ = !FindFirstMatch(utf8Into(typedAddress_, addressBytes_), pattern).empty();
        addressChanged_ = false;
    }
    return addressHasQuad_;
}

bool TMainForm::serverAddressIsOwn() {
    if (ownAddressChanged_) {
        addressIsOwn_ = typedAddress_ == lanAddress_ || typedAddress_ == inetAddress_;
        ownAddressChanged_ = false;
    }
    return addressIsOwn_;
}

void TMainForm::readInstallation() {
    if (!installationChanged_)
        return;
    installationSelected_ = cbInstallation->currentIndex() >= 0;
    installationTextEmpty_ = cbInstallation->currentText().isEmpty();
    installationChanged_ = false;
}

bool TMainForm::installationSelected() {
    readInstallation();
    return installationSelected_;
}

bool TMainForm::installationTextEmpty() {
    readInstallation();
    return installationTextEmpty_;
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TMainForm::FormShow() {
    rgGameType->focusTarget()->setFocus(Qt::OtherFocusReason);
    if (!isActiveWindow())
        activateWindow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    if (startPending()) {
        // Wine is still starting the game: the window goes, the launcher waits for the outcome
        // (a failure is still shown) and then ends.
        closeAfterStart_ = true;
        hide();
        event->ignore();
        return;
    }
    if (FormCloseQuery())
        event->accept();
    else
        event->ignore();
}

bool TMainForm::FormCloseQuery() {
    reg_->closeKey();
    return true;
}

void TMainForm::btCancelClick() {
    close();
}

bool TMainForm::FormHelp(int /*command*/, long data, bool& /*callHelp*/) {
    dialogs().messageBox("On Help " + std::to_string(data));
    setAppCursor(AppCursor::Help);
    return false;
}

namespace {
// Input by which a user changes something: keys, clicks, the wheel, touch, context menus.
bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::ContextMenu:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}
} // namespace

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    // While a start through Wine is on its way the launch is under way, as with the start that
    // Windows makes at once: the window paints, shows the hourglass and takes no input, so no
    // choice is stored behind the start's back (its launcher key is closed meanwhile).
    if (isUserInput(event->type()) && widget->window() == this && startPending())
        return true;
    if (event->type() != QEvent::KeyPress)
        return false;
    if (widget->window() != this || QApplication::activeModalWidget())
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier) {
        bool callHelp = true;
        Guarded([&] { FormHelp(1, 0, callHelp); });
        return true;
    }
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return false;
    // Enter presses the push button that has the focus, otherwise the default button.
    if (auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
        focused && focused->window() == this) {
        if (focused->isEnabled())
            focused->click();
        return true;
    }
    if (btLaunch->isEnabled())
        btLaunch->click();
    return true;
}

} // namespace velmar
