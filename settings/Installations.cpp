#include "settings/Registry.h"
#include "settings/Settings.h"

#include "platform/registry/NameFolding.h"

namespace velmar {

bool InstallationNameLess::operator()(const std::string& a, const std::string& b) const {
    return foldName(a) < foldName(b);
}

bool SameInstallationName(const std::string& a, const std::string& b) {
    return foldName(a) == foldName(b);
}

void AddInstallationValue(const std::string& launcherKey, const std::string& name,
                          const std::string& folder) {
    Registry reg;
    reg.setRootKey(Hive::CurrentUser);
    if (!reg.openKey(launcherKey + InstallationsSuffix, true))
        return;
    if (reg.readString(name).empty())
        reg.writeString(name, folder);
}

bool DeleteInstallationValue(const std::string& launcherKey, const std::string& name) {
    Registry reg;
    reg.setRootKey(Hive::CurrentUser);
    if (!reg.openKey(launcherKey + InstallationsSuffix, false))
        return false;
    return reg.deleteValue(name);
}

} // namespace velmar
