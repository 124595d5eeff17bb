#include "settings/Registry.h"
#include "settings/Settings.h"

#include <exception>
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

std::string InstallationPrefix(const std::string& launcherKey, const std::string& name) {
    Registry reg;
    reg.setRootKey(Hive::CurrentUser);
    if (!reg.openKey(launcherKey + PrefixesSuffix, false))
        return {};
    try {
        return reg.readString(name);
    } catch (const std::exception&) {
        return {}; // a value of another type names no prefix
    }
}

void RememberInstallationPrefix(const std::string& launcherKey, const std::string& name,
                                const std::string& prefix) {
    Registry reg;
    reg.setRootKey(Hive::CurrentUser);
    if (!reg.openKey(launcherKey + PrefixesSuffix, !prefix.empty()))
        return;
    if (prefix.empty()) {
        reg.deleteValue(name);
        return;
    }
    std::string old;
    try {
        old = reg.readString(name);
    } catch (const std::exception&) {
        // overwritten below
    }
    if (old != prefix)
        reg.writeString(name, prefix);
}

} // namespace velmar
