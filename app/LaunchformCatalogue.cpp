// The installation list of the main window: selecting, adding and deleting installations.
#include "app/Launchform.h"

#include "app/AnsiText.h"
#include "platform/toolkit/Dialogs.h"
#include "platform/toolkit/Focus.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace velmar {

namespace {
QString shown(const std::string& stored) {
    return QString::fromStdString(ShownText(stored));
}
} // namespace

std::string& TMainForm::InstallationFolder(const std::string& name) {
    return Installations[name];
}

std::string TMainForm::InstallationName(int index) const {
    if (index < 0 || index >= cbInstallation->count())
        return {};
    return cbInstallation->itemData(index).toByteArray().toStdString();
}

std::string TMainForm::SelectedInstallationName() const {
    return InstallationName(cbInstallation->currentIndex());
}

void TMainForm::addInstallationItem(const std::string& name) {
    cbInstallation->addItem(shown(name),
                            QByteArray(name.data(), static_cast<qsizetype>(name.size())));
}

void TMainForm::cbInstallationChange() {
    if (cbInstallation->currentIndex() >= 0) {
        const std::string name = SelectedInstallationName();
        reg_->writeString(ValLastInstallation, name);
        edPath->setText(shown(InstallationFolder(name)));
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
    // A name already listed (also in other letter case: the registry holds one value for both)
    // is not listed twice: its line is selected instead.
    int index = -1;
    for (int i = 0; i < cbInstallation->count(); ++i) {
        if (SameInstallationName(InstallationName(i), name)) {
            index = i;
            break;
        }
    }
    if (index < 0) {
        addInstallationItem(name);
        index = cbInstallation->count() - 1;
    }
    cbInstallation->setCurrentIndex(index);
    cbInstallationChange();
}

void TMainForm::acDeleteUpdate() {
    const bool enable = !installationTextEmpty();
    if (ownEnabled(btDelete) != enable)
        setButtonEnabled(btDelete, enable);
}

void TMainForm::acDeleteExecute() {
    if (!dialogs().confirm("Löschen dieses Eintrags - sicher?"))
        return;
    const int index = cbInstallation->currentIndex();
    const std::string name = SelectedInstallationName();
    if (DeleteInstallationValue(keyPath_, name)) {
        Installations.erase(name);
        cbInstallation->removeItem(index);
    }
    cbInstallation->setCurrentIndex(Installations.empty() ? -1 : 0);
    cbInstallationChange();
}

} // namespace velmar
