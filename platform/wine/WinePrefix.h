#pragma once
// The game's Windows side on Linux: a Wine prefix (the folder that holds one emulated Windows
// installation), its registry files and its drive letters. Nothing here runs Wine or writes into
// a prefix.
#include "platform/registry/RegistryBackend.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmar::wine {

// $WINEPREFIX when it is set and not empty, else ~/.wine.
std::string prefixPath();

// The user's home folder ($HOME, else the password database's entry).
std::string homeFolder();

// The prefix a Unix folder lies in: the nearest of the folder and its ancestors that holds both
// system.reg and drive_c. Empty for a folder outside every prefix and for a drive-letter path.
std::string prefixOfFolder(const std::string& folder);

// True when the prefix is missing or an empty folder: Wine makes it on its first run there.
bool prefixToBeMade(const std::string& prefix);

// The prefix's machine-wide registry file: <prefix>/system.reg.
std::string systemRegistryFile(const std::string& prefix);

// True when the prefix exists as Wine made it (its system.reg is there).
bool prefixExists(const std::string& prefix);

// The values of one key of a Wine registry file (system.reg, user.reg), in the file's order.
// `keyPath` is relative to the file's root ("Software\Holmgard\VELMARTIDES") and matched without
// regard to letter case. Strings (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) come back as UTF-8 with
// their terminating zero, as the launcher's store keeps them; every other type as its bytes.
// Nothing when the file can not be read, is not a Wine registry file or has no such key.
std::optional<std::vector<RegValue>> readRegistryKey(const std::string& file,
                                                     const std::string& keyPath);
// The same; `error` says why nothing came back when the file is there but can not be read:
// not a regular file (a FIFO, a device), a read error, a file or key beyond all reason in size.
// It is "" when the file is missing, is no Wine registry file or has no such key. The file is
// opened without blocking and read only up to the key, within a bound of memory.
std::optional<std::vector<RegValue>>
readRegistryKey(const std::string& file, const std::string& keyPath, std::string& error);
// The same, on the text of such a file.
std::optional<std::vector<RegValue>> parseRegistryKey(std::string_view text,
                                                      const std::string& keyPath);

// What a binary search over a registry file's key lines ("[path] time") tells of one key.
enum class KeyPresence {
    Absent,  // the file is in Wine's own order and has no line for the key
    Present, // the file has a line for the key (its values are readRegistryKey's to read)
    Unknown, // not told: not a file as Wine writes it ("WINE REGISTRY Version 2", keys in the
             // order Wine saves them), a name whose order is not known here, a read that failed
};
// Decides from a few blocks of 4 KiB, not the whole file, where Wine would have written the key
// (`keyPath` as for readRegistryKey, ASCII only). `bytesRead`, when given, gets the bytes read.
// Opens the file without blocking and reads regular files only.
KeyPresence seekRegistryKey(const std::string& file, const std::string& keyPath,
                            std::uint64_t* bytesRead = nullptr);
// The same for several keys, from one open of the file and the blocks read for each other.
std::vector<KeyPresence> seekRegistryKeys(const std::string& file,
                                          const std::vector<std::string>& keyPaths,
                                          std::uint64_t* bytesRead = nullptr);

// True for a path that starts with a drive letter and a colon ("C:\Games", "z:/tmp", "D:").
bool isDrivePath(const std::string& path);

// The Unix path of a folder or file named with a drive letter: the letter is followed through
// <prefix>/dosdevices/<letter>: and every name after it is matched without regard to letter case
// against what is on disk ('\' and '/' both separate names). A name that is not found is kept as
// written, so the result names a path that does not exist. As on Windows, ".." at the drive's
// root stays at the root. Any other path is returned unchanged.
std::string unixPath(const std::string& prefix, const std::string& path);

// The entry of `folder` whose name is `name`: the exact name when present, else the first one
// that equals it without regard to letter case. Nothing when there is none.
std::optional<std::string> findEntry(const std::string& folder, const std::string& name);

// The folder where the launcher keeps what it writes about its runs:
// $XDG_STATE_HOME/VelmarLauncher, else ~/.local/state/VelmarLauncher (not made here).
std::string stateFolder();

// A game found in a prefix: the prefix and its GAMEPATH as the game's installer wrote it.
struct FoundGame {
    std::string prefix;
    std::string folder;
};

// The prefixes where Linux game launchers keep their games, in the order they are searched:
// $WINEPREFIX, ~/.wine, Lutris (the prefixes its game files name, then ~/Games/*), Bottles
// (native, then Flatpak), Heroic (the prefixes its game settings name, then
// ~/Games/Heroic/Prefixes/*), Steam's compatdata/*/pfx of every Steam folder and library. Only
// folders that hold a system.reg are listed, each once; each location's entries by name.
std::vector<std::string> knownPrefixes();

// The first of knownPrefixes() whose system.reg has a GAMEPATH in the game key (the 64-bit view,
// then Wow6432Node). Only system.reg files are read: a file in Wine's order only where
// seekRegistryKey puts the keys, any other whole.
std::optional<FoundGame> findInstalledGame();

} // namespace velmar::wine
