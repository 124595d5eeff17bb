#include "settings/Registry.h"
#include "settings/Settings.h"

namespace velmar {

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
