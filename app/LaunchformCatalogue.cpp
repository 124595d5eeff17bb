// The installation list of the main window: selecting, adding and deleting installations.
#include "app/Launchform.h"

#include "platform/toolkit/Dialogs.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace velmar {

std::string& TMainForm::InstallationFolder(const std::string& name) {
    return Installations[name];
}

void TMainForm::cbInstallationChange() {
    if (cbInstallation->currentIndex() >= 0) {
        const std::string name = cbInstallation->currentText().toStdString();
        reg_->writeString(ValLastInstallation, name);
        edPath->setText(QString::fromStdString(InstallationFolder(name)));
    } else {
        // The items stay listed; only the selection, the path and the stored name are cleared.
        cbInstallation->setCurrentIndex(-1);
        edPath->clear();
        reg_->writeString(ValLastInstallation, "");
    }
}

void TMainForm::acEditExecute() {
    const std::string folder =
        dialogs().browseFolder("Bitte eine weitere Velmar Tides Installation auswählen:");
    if (folder.empty())
        return;
    std::string name;
    if (!dialogs().inputQuery(folder, "Bitte eine Bezeichnung eingeben:", name))
        return;
    AddInstallationValue(keyPath_, name, folder);
    Installations.insert({name, folder}); // a name already present keeps its folder
    // A name already listed is not listed twice: its line is selected instead.
    const QString item = QString::fromStdString(name);
    int index = -1;
    for (int i = 0; i < cbInstallation->count(); ++i) {
        if (cbInstallation->itemText(i) == item) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        cbInstallation->addItem(item);
        index = cbInstallation->count() - 1;
    }
    cbInstallation->setCurrentIndex(index);
    cbInstallationChange();
}

void TMainForm::acDeleteUpdate() {
    const bool enable = !cbInstallation->currentText().isEmpty();
    if (ownEnabled(btDelete) != enable)
        btDelete->setEnabled(enable);
}

void TMainForm::acDeleteExecute() {
    if (!dialogs().confirm("Löschen dieses Eintrags - sicher?"))
        return;
    const int index = cbInstallation->currentIndex();
    const std::string name = cbInstallation->currentText().toStdString();
    if (DeleteInstallationValue(keyPath_, name)) {
        Installations.erase(name);
        cbInstallation->removeItem(index);
    }
    cbInstallation->setCurrentIndex(Installations.empty() ? -1 : 0);
    cbInstallationChange();
}

} // namespace velmar
