#pragma once
// What velmar-reg's commands share: their failures and messages, the question on the terminal,
// the reading of switches; and the commands themselves, one file each (QueryCommand.cpp,
// AddCommand.cpp, DeleteCommand.cpp, ExportCommand.cpp, ImportCommand.cpp).
#include "platform/registry/RegistryBackend.h"
#include "tools/RegKeyName.h"

#include <iosfwd>
#include <map>
#include <string>
#include <vector>

namespace velmar::regtool::cli {

inline constexpr const char* NotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
inline constexpr const char* Done = "The operation completed successfully.";

// Thrown for every outcome that ends the program with exit status 1; the text is the ERROR line.
struct Failure {
    std::string text;
};

[[noreturn]] void syntaxError(const std::string& command, const std::string& why = {});
std::string upper(std::string s);
// `text` as a sentence: a capital letter first, a full stop at the end.
std::string sentence(std::string text);
KeyName keyArgument(const std::string& command, const std::string& text);
// Fails with the store's own words when the hive file can not be used.
void checkStore(RegistryBackend& store);
[[noreturn]] void storeFailure(RegistryBackend& store);
// Fails with "unable to find" when the key is missing, and with the store's own words when the
// store (or a Wine prefix) could not tell.
void requireKey(RegistryBackend& store, const KeyName& key);
// Asks a Yes/No question on the terminal. Without a terminal on standard input no question can
// be asked, and the answer is a refusal with `refusal` as the reason.
bool confirm(std::ostream& out, const std::string& question, const std::string& refusal);
[[noreturn]] void cancelled();

struct Options {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values; // "V" -> name, ...
    std::map<std::string, bool> flags;         // "VE" -> true, ...
    bool has(const std::string& o) const { return values.count(o) || flags.count(o); }
    const std::string* value(const std::string& o) const {
        auto it = values.find(o);
        return it == values.end() ? nullptr : &it->second;
    }
};

struct Switches {
    const char* withValue; // " V T D "
    const char* flags;     // " VE F "
};
bool isHelpSwitch(const std::string& w);

// The command's arguments come first (the key; for export also the file), then the switches
// in any order, each once. /reg:32 and /reg:64 are accepted by every command; this store has
// one view of each hive, so both show the same keys.
Options parseOptions(const std::string& command, const std::vector<std::string>& words,
                     const std::vector<std::string>& positionalNames, const Switches& switches,
                     bool pathArguments);

// The commands; each checks its arguments before it opens the store.
int query(const std::vector<std::string>& words, std::ostream& out);
int add(const std::vector<std::string>& words, std::ostream& out);
int remove(const std::vector<std::string>& words, std::ostream& out);
int exportFile(const std::vector<std::string>& words, std::ostream& out);
int importFile(const std::vector<std::string>& words, std::ostream& out, std::ostream& err);

} // namespace velmar::regtool::cli
