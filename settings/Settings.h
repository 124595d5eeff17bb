#pragma once
// Where the launcher keeps its settings, and the installation catalogue stored beside them.
#include <map>
#include <string>

namespace velmar {

// HKEY_CURRENT_USER
inline constexpr const char* LauncherKeyPath = "Software\\Tobrel\\VelmarLauncher";
inline constexpr const char* InstallationsSuffix = "\\Installations";
// Beside the catalogue: the Wine prefix of each installation (value name = installation name,
// data = the prefix's folder), so that it does not depend on the environment of a later start.
inline constexpr const char* PrefixesSuffix = "\\InstallationPrefixes";
// HKEY_LOCAL_MACHINE, read only: the game's own set-up writes it.
inline constexpr const char* GameKeyPath = "Software\\Holmgard\\VELMARTIDES";

inline constexpr const char* ValGameType = "GameType";
inline constexpr const char* ValClientServer = "ClientServer";
inline constexpr const char* ValClientServerAddr = "ClientServerAddr";
inline constexpr const char* ValLastInstallation = "LastInstallation";
inline constexpr const char* ValIpTimeout = "IpTimeout";
inline constexpr const char* ValIpServerUrl = "IpServerUrl";
inline constexpr const char* ValGamePath = "GAMEPATH";
inline constexpr const char* StandardInstallation = "Standard";

inline constexpr unsigned DefaultIpTimeout = 7000;
// The page that shows the caller's public address: ipify's, a long-running, widely used public
// service whose answer is the caller's IPv4 address as plain text (this host name answers over
// IPv4 only, so it never gives an IPv6 address instead). Players point IpServerUrl elsewhere with
// velmar-reg (see README).
inline constexpr const char* DefaultIpServerUrl = "https://api.ipify.org/";

// Orders installation names as the registry compares value names: without regard to letter
// case, then byte-wise. Names that differ only in letter case are one name, as they are one
// stored value; otherwise deleting one would delete the other's stored folder.
struct InstallationNameLess {
    bool operator()(const std::string& a, const std::string& b) const;
};

// Installation name -> folder.
using InstallationMap = std::map<std::string, std::string, InstallationNameLess>;

// True when `a` and `b` name the same installation.
bool SameInstallationName(const std::string& a, const std::string& b);

// Stores `folder` under `name` below the launcher key's Installations subkey (creating the
// subkey), unless a non-empty value of that name is stored already.
void AddInstallationValue(const std::string& launcherKey, const std::string& name,
                          const std::string& folder);
// Deletes the stored value `name`; true when it was deleted. Never creates the subkey.
bool DeleteInstallationValue(const std::string& launcherKey, const std::string& name);

// The remembered Wine prefix of an installation, "" when none is remembered (or it can not be
// read as a string).
std::string InstallationPrefix(const std::string& launcherKey, const std::string& name);
// Remembers `prefix` for the installation `name` ("" forgets it).
void RememberInstallationPrefix(const std::string& launcherKey, const std::string& name,
                                const std::string& prefix);

} // namespace velmar
