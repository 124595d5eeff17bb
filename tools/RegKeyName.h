#pragma once
// Full key names as reg.exe and .reg files write them: a hive's long or short name, then the
// path below it ("HKCU\Software\Tobrel", "HKEY_LOCAL_MACHINE\Software").
#include "platform/registry/RegistryBackend.h"

#include <optional>
#include <string>
#include <string_view>

namespace velmar::regtool {

struct KeyName {
    Hive hive = Hive::CurrentUser;
    std::string path; // below the hive's root, no '\' at either end; "" is the root
    std::string full() const;
};

std::string hiveName(Hive hive);

enum class KeyNameRules {
    // reg.exe's command line: one '\' may end the name, an empty name between two '\' is an
    // error.
    CommandLine,
    // .reg files: empty names between '\' are left out, as the registry editor does.
    RegFile,
};

std::optional<KeyName> parseKeyName(std::string_view text, KeyNameRules rules);

} // namespace velmar::regtool
