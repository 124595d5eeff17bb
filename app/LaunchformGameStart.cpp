// Starting the game: TidesStartup.exe from the selected installation's folder, with the switch
// for the chosen mode. The launcher ends as soon as the starter runs.
//
// On Linux the game is a Windows program: a folder written with a drive letter names a folder
// of the Wine prefix, and a starter that is a Windows program starts through Wine, with the
// command line Windows would give it. That start runs in the background (Wine's server may take
// seconds to come up): the window stays responsive, shows the hourglass and offers no second
// Start until the outcome is known.
#include "app/Launchform.h"

#include "platform/process/ProcessStarter.h"
#include "platform/process/WineStart.h"
#include "platform/toolkit/AppCursor.h"
#include "platform/toolkit/Dialogs.h"
#include "platform/wine/WinePrefix.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>

#include <exception>

namespace velmar {

namespace {
constexpr const char* StarterName = "TidesStartup.exe";
constexpr const char* ValWineCommand = "WineCommand";
} // namespace

void TMainForm::acStartExecute() {
    if (wineStart_ && wineStart_->running())
        return; // a start is already on its way
    const std::string name = SelectedInstallationName();
    const std::string folder = InstallationFolder(name);

    std::optional<std::string> argument;
    if (rgGameType->itemIndex() == 1) {
        switch (rgClientServer->itemIndex()) {
        case 0: {
            // The address goes to the game exactly as typed, blanks and all.
            const std::string address = ServerAddressText();
            reg_->writeString(ValClientServerAddr, address);
            argument = "/c\"" + address + "\"";
            break;
        }
        case 1:
            argument = "/s";
            break;
        default:
            argument = "";
            break;
        }
    }

    // The folder on disk: a drive-letter folder lies in the installation's Wine prefix; the
    // starter's name is matched without regard to letter case (copies from a disc have
    // TIDESSTARTUP.EXE).
    const std::string prefix = installationPrefix(name, folder);
    const std::string unixFolder = wine::unixPath(prefix, folder);
    // An entry without a folder has no starter: nothing is looked for at the root.
    const std::string starterName =
        folder.empty() ? StarterName
                       : wine::findEntry(unixFolder, StarterName).value_or(StarterName);
    const std::string program = unixFolder + PathSeparator + starterName;
    const bool throughWine = !folder.empty() && isWindowsProgram(program);
    std::string wineCommand = "wine";
    if (throughWine) {
        const std::string own = reg_->readString(ValWineCommand);
        if (!own.empty())
            wineCommand = own;
    }

    reg_->closeKey();
    if (folder.empty()) {
        startFailed("No such file or directory");
        return;
    }
    // A drive-letter folder without its prefix: say that, not that the starter is missing.
    if (wine::isDrivePath(folder) && !wine::prefixExists(prefix)) {
        SetCurrentFolder(unixFolder);
        startFailed(winePrefixMissingText(prefix));
        return;
    }
    if (!throughWine) {
        SetCurrentFolder(unixFolder); // a folder that can not be entered is not an error here
        const StartResult result = StartProgram(program, argument);
        if (result.started)
            ExitProcessNow(0);
        startFailed(result.errorText);
        return;
    }
    // A drive-letter folder found in the environment's prefix stays with it. Only a help for
    // later starts: a store that can not take it now does not stop this one.
    if (wine::isDrivePath(folder)) {
        try {
            RememberInstallationPrefix(keyPath_, name, prefix);
        } catch (const std::exception&) {
        }
    }

    WineStartRequest request;
    request.wineCommand = wineCommand;
    request.helper = wineStartHelperPath();
    request.prefix = prefix;
    // A folder outside every prefix gets one made on its first start, as `wine` makes it.
    request.makePrefix = !wine::isDrivePath(folder) && wine::prefixOfFolder(unixFolder).empty();
    // The game sees its path as Windows names it; a Unix folder is translated by Wine itself.
    request.program = wine::isDrivePath(folder) ? folder + "\\" + StarterName : program;
    request.argument = argument;
    request.folder = unixFolder;
    if (!wineStart_)
        wineStart_ = std::make_unique<WineStarter>();
    // Wine is found before the folder changes: a `wine` in the game's folder is never run.
    const StartResult begun = wineStart_->start(request, [this](const StartResult& result) {
        setAppCursor(AppCursor::Default);
        if (result.started)
            ExitProcessNow(0);
        startFailed(result.errorText);
        ActionList1->updateAll();
        if (closeAfterStart_) {
            closeAfterStart_ = false;
            close();
            QCoreApplication::quit();
        }
    });
    SetCurrentFolder(unixFolder); // a folder that can not be entered is not an error here
    if (!begun.errorText.empty()) {
        startFailed(begun.errorText);
        return;
    }
    setAppCursor(AppCursor::HourGlass);
    ActionList1->updateAll(); // Start is off until the outcome is known
}

bool TMainForm::startPending() const {
    return wineStart_ && wineStart_->running();
}

void TMainForm::startFailed(const std::string& errorText) {
    dialogs().messageBox("Velmar Tides konnte nicht gestartet werden.\n" + errorText);
    reg_->openKey(keyPath_, false);
}

} // namespace velmar
