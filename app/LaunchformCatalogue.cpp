// The installation list of the main window: selecting, adding and deleting installations.
#include "app/Launchform.h"

#include "app/AnsiText.h"
#include "platform/toolkit/Dialogs.h"
#include "platform/wine/WinePrefix.h"
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

std::string TMainForm::prefixFoundFor(const std::string& folder) {
    if (!wine::isDrivePath(folder))
        return wine::prefixOfFolder(folder);
    const std::string prefix = wine::prefixPath(); // where a drive-letter folder was found
    return wine::prefixExists(prefix) ? prefix : std::string();
}

std::string TMainForm::installationPrefix(const std::string& name,
                                          const std::string& folder) const {
    if (!wine::isDrivePath(folder)) {
        const std::string own = wine::prefixOfFolder(folder);
        if (!own.empty())
            return own;
    }
    const std::string remembered = InstallationPrefix(keyPath_, name);
    return remembered.empty() ? wine::prefixPath() : remembered;
}

void TMainForm::seedStandardInstallation(bool listRead) {
    Registry game;
    game.setRootKey(Hive::LocalMachine);
    bool found = game.openKey(GameKeyPath, false);
    if (!found && !game.openError().empty())
        throw RegistryReadError("Failed to read the game's key: " + game.openError());
    std::string folder = found ? game.readString(ValGamePath) : std::string();
    std::string prefix = folder.empty() ? std::string() : prefixFoundFor(folder);
    if (folder.empty()) {
        if (auto installed = wine::findInstalledGame()) {
            found = true;
            folder = installed->folder;
            prefix = installed->prefix;
        }
    }
    if (!found)
        return;
    // Stored only into a list that was read and is empty: a list that could not be opened (the
    // store failing) is not known to be empty.
    if (listRead) {
        AddInstallationValue(keyPath_, StandardInstallation, folder);
        if (!prefix.empty())
            RememberInstallationPrefix(keyPath_, StandardInstallation, prefix);
    }
    Installations.insert({StandardInstallation, folder});
    addInstallationItem(StandardInstallation);
}

void TMainForm::cbInstallationChange() {
    QString prefixText;
    if (cbInstallation->currentIndex() >= 0) {
        const std::string name = SelectedInstallationName();
        reg_->writeString(ValLastInstallation, name);
        const std::string& folder = InstallationFolder(name);
        edPath->setText(shown(folder));
        // The prefix is shown without a place in the layout: as the field's tooltip and its
        // description for screen readers.
        const std::string prefix = installationPrefix(name, folder);
        prefixText = QString::fromUtf8("Wine-Präfix: ") + shown(prefix);
        if (!wine::prefixExists(prefix) && !wine::isDrivePath(folder))
            prefixText += QString::fromUtf8(" (wird beim ersten Start angelegt; dieser Start "
                                            "dauert etwas länger)");
    } else {
        // The items stay listed; only the selection, the path and the stored name are cleared.
        cbInstallation->setCurrentIndex(-1);
        edPath->clear();
        reg_->writeString(ValLastInstallation, "");
    }
    edPath->setToolTip(prefixText);
    edPath->setAccessibleDescription(prefixText);
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
    // A name already present (also in other letter case: the registry holds one value for both)
    // keeps its folder, and its prefix.
    if (Installations.insert({name, folder}).second)
        RememberInstallationPrefix(keyPath_, name, prefixFoundFor(folder));
    // A name already listed is not listed twice: its line is selected instead.
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
        RememberInstallationPrefix(keyPath_, name, "");
        cbInstallation->removeItem(index);
    }
    cbInstallation->setCurrentIndex(Installations.empty() ? -1 : 0);
    cbInstallationChange();
}

} // namespace velmar
