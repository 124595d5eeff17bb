// Starting the game: TidesStartup.exe from the selected installation's folder, with the switch
// for the chosen mode. The launcher ends as soon as the starter runs.
#include "app/Launchform.h"

#include "platform/process/ProcessStarter.h"
#include "platform/toolkit/Dialogs.h"

#include <QComboBox>
#include <QLineEdit>

namespace velmar {

void TMainForm::acStartExecute() {
    const std::string folder = InstallationFolder(SelectedInstallationName());
    const std::string program = folder + PathSeparator + "TidesStartup.exe";

    std::optional<std::string> argument;
    if (rgGameType->itemIndex() == 1) {
        switch (rgClientServer->itemIndex()) {
        case 0: {
            // The address goes to the game exactly as typed, blanks and all.
            const std::string address = edClientServerAddr->text().toStdString();
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

    reg_->closeKey();
    SetCurrentFolder(folder); // a folder that can not be entered is not an error here
    const StartResult result = StartProgram(program, argument);
    if (result.started)
        ExitProcessNow(0);
    dialogs().messageBox("Velmar Tides konnte nicht gestartet werden.\n" + result.errorText);
    reg_->openKey(keyPath_, false);
}

} // namespace velmar
