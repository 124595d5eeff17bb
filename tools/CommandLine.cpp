#include "tools/CommandLine.h"

#include "platform/registry/RegistryBackend.h"
#include "platform/regtext/TextEncoding.h"
#include "tools/QueryOutput.h"
#include "tools/RegFileReader.h"
#include "tools/RegFileWriter.h"
#include "tools/RegKeyName.h"

#include <QChar>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar::regtool {

namespace {

constexpr const char* NotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* Done = "The operation completed successfully.";

// Thrown for every outcome that ends the program with exit status 1; the text is the ERROR line.
struct Failure {
    std::string text;
};

[[noreturn]] void syntaxError(const std::string& command, const std::string& why = {}) {
    std::string text = "ERROR: Invalid syntax.";
    if (!why.empty())
        text += " " + why;
    text += "\nType \"velmar-reg " + (command.empty() ? "" : command + " ") + "/?\" for usage.";
    throw Failure{text};
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string sentence(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    if (!text.empty() && text.back() != '.')
        text += '.';
    return text;
}

KeyName keyArgument(const std::string& command, const std::string& text) {
    if (text.rfind("\\\\", 0) == 0)
        throw Failure{"ERROR: Invalid key name. velmar-reg works on this machine's store only, "
                      "not on \\\\remote machines.\nType \"velmar-reg " +
                      command + " /?\" for usage."};
    auto key = parseKeyName(text, KeyNameRules::CommandLine);
    if (!key)
        throw Failure{"ERROR: Invalid key name. A key name begins with HKCU, HKLM, "
                      "HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE and names no empty key (\\\\).\n"
                      "Type \"velmar-reg " +
                      command + " /?\" for usage."};
    return *key;
}

// Fails with the store's own words when the hive file can not be used.
void checkStore(RegistryBackend& store) {
    if (!store.keyExists(Hive::CurrentUser, ""))
        throw Failure{"ERROR: " + sentence(store.lastError())};
}

[[noreturn]] void storeFailure(RegistryBackend& store) {
    throw Failure{"ERROR: " + sentence(store.lastError())};
}

// Asks a Yes/No question on the terminal. Without a terminal on standard input no question can
// be asked, and the answer is a refusal with `refusal` as the reason.
bool confirm(std::ostream& out, const std::string& question, const std::string& refusal) {
    if (!isatty(STDIN_FILENO))
        throw Failure{"ERROR: " + refusal +
                      " Standard input is not a terminal, so no question can be asked; use /f "
                      "to go ahead without one."};
    while (true) {
        out << question << ' ' << std::flush;
        std::string answer;
        if (!std::getline(std::cin, answer))
            return false;
        answer = upper(answer);
        if (answer == "Y" || answer == "YES")
            return true;
        if (answer == "N" || answer == "NO")
            return false;
    }
}

[[noreturn]] void cancelled() {
    throw Failure{"ERROR: The operation was cancelled."};
}

// ---- switches ----------------------------------------------------------------------------

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

bool isHelpSwitch(const std::string& w) {
    const std::string u = upper(w);
    return u == "/?" || u == "-?" || u == "/H" || u == "-H";
}

// The command's arguments come first (the key; for export also the file), then the switches
// in any order, each once. /reg:32 and /reg:64 are accepted by every command; this store has
// one view of each hive, so both show the same keys.
Options parseOptions(const std::string& command, const std::vector<std::string>& words,
                     const std::vector<std::string>& positionalNames, const Switches& switches,
                     bool pathArguments) {
    const std::size_t positionalCount = positionalNames.size();
    auto nextName = [&](const Options& o) {
        return positionalNames[o.positional.size()];
    };
    Options o;
    bool view = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        const bool optionLike = !w.empty() && (w[0] == '/' || w[0] == '-');
        const std::string name = optionLike ? upper(w.substr(1)) : std::string();
        const std::string padded = " " + name + " ";
        const bool takesValue = optionLike && !name.empty() &&
                                std::string(switches.withValue).find(padded) != std::string::npos;
        const bool isFlag = optionLike && !name.empty() &&
                            std::string(switches.flags).find(padded) != std::string::npos;
        const bool isView = optionLike && (name == "REG:32" || name == "REG:64");
        if (!takesValue && !isFlag && !isView) {
            if (optionLike && !(pathArguments && w[0] == '/' && w.size() > 1))
                syntaxError(command, "\"" + w + "\" is not a switch of " + command + ".");
            if (o.positional.size() < positionalCount &&
                (!o.values.empty() || !o.flags.empty() || view))
                syntaxError(command, nextName(o) + " must come before the switches.");
            if (o.positional.size() >= positionalCount)
                syntaxError(command, "Too many arguments: \"" + w + "\".");
            o.positional.push_back(w);
            continue;
        }
        if (o.positional.size() < positionalCount)
            syntaxError(command, nextName(o) + " must come before the switches.");
        if (isView) {
            if (view)
                syntaxError(command, "Only one of /reg:32 and /reg:64 may be given, once.");
            view = true;
            continue;
        }
        if (o.has(name))
            syntaxError(command, "The switch " + w + " is given twice.");
        if (takesValue) {
            if (i + 1 >= words.size())
                syntaxError(command, "The switch " + w + " needs a value.");
            o.values[name] = words[++i];
        } else {
            o.flags[name] = true;
        }
    }
    if (o.positional.size() < positionalCount)
        syntaxError(command, nextName(o) + " is missing.");
    return o;
}

// ---- query -------------------------------------------------------------------------------

bool globMatch(const std::u16string& p, std::size_t pi, const std::u16string& s, std::size_t si) {
    // Iterative '*' / '?' matching with one backtrack point.
    std::size_t star = std::u16string::npos, mark = 0;
    while (si < s.size()) {
        if (pi < p.size() && (p[pi] == u'?' || p[pi] == s[si])) {
            ++pi, ++si;
        } else if (pi < p.size() && p[pi] == u'*') {
            star = pi++;
            mark = si;
        } else if (star != std::u16string::npos) {
            pi = star + 1;
            si = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'*')
        ++pi;
    return pi == p.size();
}

struct Search {
    std::u16string pattern;
    bool caseSensitive = false;
    bool keys = true, names = true, data = true;

    std::u16string fold(const std::string& s) const {
        std::u16string u = regtext::utf8ToUtf16(s);
        if (!caseSensitive)
            for (char16_t& c : u)
                c = static_cast<char16_t>(QChar::toUpper(c));
        return u;
    }
    bool matches(const std::string& text) const { return globMatch(pattern, 0, fold(text), 0); }
};

void walk(RegistryBackend& store, Hive hive, const std::string& path, const std::string& full,
          const std::function<void(const std::string&, const std::string&, bool)>& visit,
          bool root = true) {
    visit(path, full, root);
    auto subkeys = store.subkeys(hive, path);
    sortKeyNames(subkeys);
    for (const auto& sub : subkeys)
        walk(store, hive, path.empty() ? sub : path + "\\" + sub, full + "\\" + sub, visit, false);
}

int query(const std::vector<std::string>& words, std::ostream& out) {
    Options o =
        parseOptions("query", words, {"The key name"}, {" V SE F T ", " VE S K D C E Z "}, false);
    KeyName key = keyArgument("query", o.positional[0]);
    if (o.has("V") && o.has("VE"))
        syntaxError("query", "Only one of /v and /ve may be given.");
    if (o.has("K") && o.has("D"))
        syntaxError("query", "Only one of /k and /d may be given.");
    const bool search = o.has("F") || o.has("K") || o.has("D") || o.has("C") || o.has("E");
    if (search && (o.has("V") || o.has("VE")))
        syntaxError("query", "/f, /k, /d, /c and /e search; they do not go with /v or /ve.");
    std::string separator = "\\0";
    if (const auto* se = o.value("SE")) {
        if (regtext::utf8ToUtf16(*se).size() != 1)
            syntaxError("query", "The separator given with /se must be a single character.");
        separator = *se;
    }
    std::vector<std::uint32_t> types;
    if (const auto* t = o.value("T")) {
        std::size_t pos = 0;
        while (pos <= t->size()) {
            std::size_t comma = t->find(',', pos);
            if (comma == std::string::npos)
                comma = t->size();
            const std::string one = t->substr(pos, comma - pos);
            auto type = typeFromName(one);
            if (!type)
                syntaxError("query", "The type \"" + one + "\" given with /t is not known.");
            types.push_back(*type);
            pos = comma + 1;
        }
    }
    const bool numeric = o.has("Z");
    const bool recurse = o.has("S");
    auto typeOk = [&](const RegValue& v) {
        return types.empty() || std::find(types.begin(), types.end(), v.type) != types.end();
    };
    auto line = [&](const RegValue& v) {
        return valueLine(v, numeric, separator) + "\n";
    };

    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (!store.keyExists(key.hive, key.path))
        throw Failure{NotFound};

    std::string text = "\n";
    std::size_t matches = 0;
    if (search) {
        Search s;
        s.caseSensitive = o.has("C");
        std::u16string pattern =
            regtext::utf8ToUtf16(o.value("F") ? *o.value("F") : std::string("*"));
        if (!s.caseSensitive)
            for (char16_t& c : pattern)
                c = static_cast<char16_t>(QChar::toUpper(c));
        s.pattern = o.has("E") ? pattern : u"*" + pattern + u"*";
        if (o.has("K"))
            s.names = s.data = false;
        if (o.has("D"))
            s.keys = s.names = false;
        auto visitKey = [&](const std::string& path, const std::string& full, bool root) {
            std::string block;
            const std::size_t slash = full.rfind('\\');
            const bool keyMatches = !root && s.keys && s.matches(full.substr(slash + 1));
            if (keyMatches)
                ++matches;
            std::size_t found = 0;
            if (s.names || s.data) {
                for (const auto& v : store.values(key.hive, path)) {
                    if (!typeOk(v))
                        continue;
                    if ((s.names && s.matches(v.name)) || (s.data && s.matches(dataText(v)))) {
                        block += line(v);
                        ++found;
                    }
                }
            }
            matches += found;
            if (keyMatches || found)
                text += full + "\n" + block + (found ? "\n" : "");
        };
        if (recurse) {
            walk(store, key.hive, key.path, key.full(), visitKey);
        } else {
            visitKey(key.path, key.full(), true);
            auto subkeys = store.subkeys(key.hive, key.path);
            sortKeyNames(subkeys);
            for (const auto& sub : subkeys)
                if (s.keys && s.matches(sub)) {
                    text += key.full() + "\\" + sub + "\n";
                    ++matches;
                }
        }
        text += "End of search: " + std::to_string(matches) + " match(es) found.\n";
        out << text;
        return 0;
    }

    if (o.has("V") || o.has("VE")) {
        const std::string name = o.value("V") ? *o.value("V") : std::string();
        if (!recurse) {
            auto v = store.readValue(key.hive, key.path, name);
            if (v && typeOk(*v))
                text += key.full() + "\n" + line(*v) + "\n";
            else if (!v && o.has("VE") && types.empty())
                text += key.full() + "\n    (Default)    REG_SZ    (value not set)\n\n";
            else
                throw Failure{NotFound};
            out << text;
            return 0;
        }
        walk(store, key.hive, key.path, key.full(),
             [&](const std::string& path, const std::string& full, bool) {
                 auto v = store.readValue(key.hive, path, name);
                 if (v && typeOk(*v)) {
                     text += full + "\n" + line(*v) + "\n";
                     ++matches;
                 }
             });
        text += "End of search: " + std::to_string(matches) + " match(es) found.\n";
        out << text;
        return 0;
    }

    // A key with no values prints no line of its own; its subkeys follow, each on a line of
    // its own, or (with /s) each with its values and a blank line.
    auto valuesBlock = [&](const std::string& path) {
        std::string block;
        for (const auto& v : store.values(key.hive, path))
            if (typeOk(v))
                block += line(v);
        return block;
    };
    if (recurse) {
        walk(store, key.hive, key.path, key.full(),
             [&](const std::string& path, const std::string& full, bool root) {
                 const std::string block = valuesBlock(path);
                 if (!root || !block.empty())
                     text += full + "\n" + block + "\n";
             });
    } else {
        const std::string block = valuesBlock(key.path);
        if (!block.empty())
            text += key.full() + "\n" + block + "\n";
        auto subkeys = store.subkeys(key.hive, key.path);
        sortKeyNames(subkeys);
        for (const auto& sub : subkeys)
            text += key.full() + "\\" + sub + "\n";
    }
    out << text;
    return 0;
}

// ---- add ---------------------------------------------------------------------------------

// A number as reg.exe reads /d: decimal digits, or 0x and hexadecimal digits; `negative`
// allows a minus sign before decimal digits (REG_QWORD), which counts down from 2^64.
std::optional<std::uint64_t> parseNumber(const std::string& text, std::uint64_t max,
                                         bool negative) {
    auto digitsIn = [](const std::string& s, int base) {
        if (s.empty())
            return false;
        for (char c : s) {
            const bool dec = c >= '0' && c <= '9';
            const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
            if (!(dec || (base == 16 && hex)))
                return false;
        }
        return true;
    };
    auto accumulate = [](const std::string& s, int base) -> std::optional<std::uint64_t> {
        std::uint64_t v = 0;
        for (char c : s) {
            const int d = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
            if (v > (UINT64_MAX - static_cast<std::uint64_t>(d)) / static_cast<unsigned>(base))
                return std::nullopt;
            v = v * static_cast<unsigned>(base) + static_cast<std::uint64_t>(d);
        }
        return v;
    };
    std::optional<std::uint64_t> v;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!digitsIn(text.substr(2), 16))
            return std::nullopt;
        v = accumulate(text.substr(2), 16);
    } else if (negative && !text.empty() && text[0] == '-') {
        if (!digitsIn(text.substr(1), 10))
            return std::nullopt;
        v = accumulate(text.substr(1), 10);
        if (!v || *v == 0 || *v > (std::uint64_t(1) << 63))
            return std::nullopt;
        return ~*v + 1;
    } else {
        if (!digitsIn(text, 10))
            return std::nullopt;
        v = accumulate(text, 10);
    }
    if (!v || *v > max)
        return std::nullopt;
    return v;
}

std::vector<std::uint8_t> littleEndianBytes(std::uint64_t v, int size) {
    std::vector<std::uint8_t> d;
    for (int i = 0; i < size; ++i)
        d.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return d;
}

[[noreturn]] void invalidData(const std::string& type, const std::string& data,
                              const std::string& rule) {
    throw Failure{"ERROR: Invalid data \"" + data + "\" for " + type + ": " + rule};
}

std::vector<std::uint8_t> multiString(const std::string& data, const std::string* separator) {
    // Elements are split at the separator (/s, one character) or at the two characters \0.
    // One separator may end the list; an empty element anywhere else is refused.
    const std::string sep = separator ? *separator : std::string("\\0");
    std::vector<std::uint8_t> out;
    if (data.empty()) {
        out.push_back(0);
        return out;
    }
    std::vector<std::string> elements;
    std::size_t pos = 0;
    while (true) {
        const std::size_t at = data.find(sep, pos);
        elements.push_back(data.substr(pos, at == std::string::npos ? at : at - pos));
        if (at == std::string::npos)
            break;
        pos = at + sep.size();
    }
    if (elements.size() > 1 && elements.back().empty())
        elements.pop_back();
    for (const auto& element : elements) {
        if (element.empty() && elements.size() > 1)
            invalidData("REG_MULTI_SZ", data,
                        "an element between two separators, or before the first, is empty.");
        out.insert(out.end(), element.begin(), element.end());
        out.push_back(0);
    }
    out.push_back(0);
    return out;
}

int add(const std::vector<std::string>& words, std::ostream& out) {
    Options o = parseOptions("add", words, {"The key name"}, {" V T S D ", " VE F "}, false);
    KeyName key = keyArgument("add", o.positional[0]);
    if (o.has("V") && o.has("VE"))
        syntaxError("add", "Only one of /v and /ve may be given.");
    const std::string typeText = o.value("T") ? *o.value("T") : std::string("REG_SZ");
    const auto type = typeFromName(typeText);
    if (!type || *type == RegLink)
        syntaxError("add", "The type \"" + typeText +
                               "\" is not known; use REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, "
                               "REG_BINARY, REG_DWORD, REG_DWORD_LITTLE_ENDIAN, "
                               "REG_DWORD_BIG_ENDIAN, REG_QWORD or REG_NONE.");
    const std::string* separator = o.value("S");
    if (separator && *type != RegMultiSz)
        syntaxError("add", "/s goes only with /t REG_MULTI_SZ.");
    if (separator && regtext::utf8ToUtf16(*separator).size() != 1)
        syntaxError("add", "The separator given with /s must be a single character.");
    if (key.path.empty())
        throw Failure{"ERROR: Invalid key name. The root of a hive holds no values here; name a "
                      "key below " +
                      hiveName(key.hive) + "."};

    // Without /v the unnamed default value is written, as with /ve.
    RegValue value;
    value.name = o.value("V") ? *o.value("V") : std::string();
    value.type = *type;
    const std::string* d = o.value("D");
    const std::string data = d ? *d : std::string();
    const std::string shownType = upper(typeText);
    switch (*type) {
    case RegSz:
    case RegExpandSz:
        value.data.assign(data.begin(), data.end());
        value.data.push_back(0);
        break;
    case RegNone: {
        // reg.exe stores the text given as UTF-16 with its terminating zero.
        value.data = regtext::utf16ToLittleEndian(regtext::utf8ToUtf16(data));
        value.data.push_back(0);
        value.data.push_back(0);
        break;
    }
    case RegBinary: {
        std::string digits = data;
        if (!std::all_of(digits.begin(), digits.end(), [](char c) {
                return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
            }))
            invalidData(shownType, data, "only hexadecimal digits may be given, without 0x.");
        if (digits.size() % 2)
            digits.insert(digits.begin(), '0');
        for (std::size_t i = 0; i < digits.size(); i += 2)
            value.data.push_back(
                static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
        break;
    }
    case RegDword:
    case RegDwordBigEndian: {
        if (!d)
            syntaxError("add", shownType + " needs its number with /d.");
        auto n = parseNumber(data, 0xFFFFFFFFull, false);
        if (!n)
            invalidData(shownType, data,
                        "a number from 0 to 4294967295, decimal or 0x hexadecimal, is expected.");
        // reg.exe stores REG_DWORD_BIG_ENDIAN in the same byte order as REG_DWORD.
        value.data = littleEndianBytes(*n, 4);
        break;
    }
    case RegQword: {
        auto n = d ? parseNumber(data, UINT64_MAX, true) : std::optional<std::uint64_t>(0);
        if (!n)
            invalidData(shownType, data,
                        "a 64-bit number, decimal (a minus sign allowed) or 0x hexadecimal, is "
                        "expected.");
        value.data = littleEndianBytes(*n, 8);
        break;
    }
    case RegMultiSz:
        value.data = multiString(data, separator);
        break;
    }

    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (!o.has("F") && store.keyExists(key.hive, key.path) &&
        store.readValue(key.hive, key.path, value.name)) {
        const std::string name = displayName(value.name);
        if (!confirm(out, "Value " + name + " exists, overwrite(Yes/No)?",
                     "Value " + name + " exists and was not overwritten."))
            cancelled();
    }
    RegistryTransaction group(store);
    if (!group.active() || !store.createKey(key.hive, key.path) ||
        !store.writeValue(key.hive, key.path, value) || !group.commit())
        storeFailure(store);
    out << Done << "\n";
    return 0;
}

// ---- delete ------------------------------------------------------------------------------

int remove(const std::vector<std::string>& words, std::ostream& out) {
    Options o = parseOptions("delete", words, {"The key name"}, {" V ", " VE VA F "}, false);
    KeyName key = keyArgument("delete", o.positional[0]);
    if (int(o.has("V")) + int(o.has("VE")) + int(o.has("VA")) > 1)
        syntaxError("delete", "Only one of /v, /ve and /va may be given.");
    const bool wholeKey = !o.has("V") && !o.has("VE") && !o.has("VA");
    const bool force = o.has("F");
    const std::string full = key.full();
    if (wholeKey && key.path.empty())
        throw Failure{"ERROR: The root of a hive can not be deleted."};
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (!store.keyExists(key.hive, key.path))
        throw Failure{NotFound};

    if (wholeKey) {
        if (!force && !confirm(out, "Permanently delete the registry key " + full + " (Yes/No)?",
                               "The key " + full + " was not deleted."))
            cancelled();
        if (!store.deleteKey(key.hive, key.path))
            storeFailure(store);
    } else if (o.has("VA")) {
        if (!force &&
            !confirm(out, "Delete all values under the registry key " + full + " (Yes/No)?",
                     "The values of " + full + " were not deleted."))
            cancelled();
        RegistryTransaction group(store);
        if (!group.active())
            storeFailure(store);
        for (const auto& v : store.values(key.hive, key.path))
            if (!store.deleteValue(key.hive, key.path, v.name))
                storeFailure(store);
        if (!group.commit())
            storeFailure(store);
    } else {
        const std::string name = o.value("V") ? *o.value("V") : std::string();
        if (!store.readValue(key.hive, key.path, name))
            throw Failure{NotFound};
        if (!force && !confirm(out, "Delete the registry value " + displayName(name) + " (Yes/No)?",
                               "The value " + displayName(name) + " was not deleted."))
            cancelled();
        if (!store.deleteValue(key.hive, key.path, name))
            storeFailure(store);
    }
    out << Done << "\n";
    return 0;
}

// ---- export ------------------------------------------------------------------------------

int exportFile(const std::vector<std::string>& words, std::ostream& out) {
    Options o =
        parseOptions("export", words, {"The key name", "The file name"}, {" ", " Y "}, true);
    KeyName key = keyArgument("export", o.positional[0]);
    const std::string& file = o.positional[1];
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (!store.keyExists(key.hive, key.path))
        throw Failure{NotFound};
    std::string bytes, error;
    if (!buildRegFile(store, key, bytes, error))
        throw Failure{"ERROR: " + error + " Nothing was exported."};
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !o.has("Y") &&
        !confirm(out, "File " + file + " already exists. Overwrite (Yes/No)?",
                 "The file " + file + " exists and was not overwritten."))
        cancelled();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    int why = errno;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            why = errno;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        why = errno;
    }
    if (!ok)
        throw Failure{"ERROR: The file " + file + " can not be written: " + std::strerror(why) +
                      "."};
    out << Done << "\n";
    return 0;
}

// ---- import ------------------------------------------------------------------------------

// Reads at most MaxImportFileSize bytes; a longer file (or an endless one like /dev/zero) is
// refused without reading it whole.
std::string readImportFile(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Failure{"ERROR: The file " + file + " can not be read: " + std::strerror(errno) +
                      "."};
    std::string raw;
    char buf[65536];
    while (true) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int why = errno;
            ::close(fd);
            throw Failure{"ERROR: The file " + file + " can not be read: " + std::strerror(why) +
                          "."};
        }
        if (n == 0)
            break;
        if (raw.size() + static_cast<std::size_t>(n) > MaxImportFileSize) {
            ::close(fd);
            throw Failure{"ERROR: The file " + file +
                          " is larger than 64 MiB, more than any registry file of this program "
                          "holds; it was not imported."};
        }
        raw.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return raw;
}

int importFile(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    Options o = parseOptions("import", words, {"The file name"}, {" ", " "}, true);
    const std::string& file = o.positional[0];
    const RegFileContent content = readRegFile(readImportFile(file));
    if (content.format == RegFileFormat::Invalid)
        throw Failure{"ERROR: The file " + file +
                      " is not a registry file: its first line is neither \"Windows Registry "
                      "Editor Version 5.00\" nor \"REGEDIT4\". Nothing was imported."};
    if (content.format == RegFileFormat::Ignored) {
        err << "WARNING: " << file
            << " is a registry file of an older kind that is read as empty (its first line is "
               "not \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"). Nothing was "
               "imported.\n";
        out << Done << "\n";
        return 0;
    }
    for (const auto& s : content.skipped)
        err << "WARNING: " << file << ", line " << s.line << " was skipped: " << s.reason << ".\n";
    if (content.skippedCount > content.skipped.size())
        err << "WARNING: " << file << ": " << content.skippedCount - content.skipped.size()
            << " more lines were skipped.\n";

    RegistryBackend& store = defaultRegistryBackend();
    const std::string nothing = " Nothing of " + file + " was imported.";
    if (!store.keyExists(Hive::CurrentUser, ""))
        throw Failure{"ERROR: " + sentence(store.lastError()) + nothing};
    // One group: when the store fails part way, nothing of the file stays applied.
    RegistryTransaction group(store);
    if (!group.active())
        throw Failure{"ERROR: " + sentence(store.lastError()) + nothing};
    for (const auto& s : content.steps) {
        bool ok = true;
        switch (s.kind) {
        case ImportStep::CreateKey:
            ok = store.createKey(s.hive, s.path);
            break;
        case ImportStep::DeleteKey:
            ok = !store.keyExists(s.hive, s.path) || store.deleteKey(s.hive, s.path);
            break;
        case ImportStep::SetValue:
            ok = store.writeValue(s.hive, s.path, s.value);
            break;
        case ImportStep::DeleteValue:
            ok = !store.readValue(s.hive, s.path, s.value.name) ||
                 store.deleteValue(s.hive, s.path, s.value.name);
            break;
        }
        if (!ok)
            throw Failure{"ERROR: " + file + ", line " + std::to_string(s.line) + ": " +
                          sentence(store.lastError()) + nothing};
    }
    if (!group.commit())
        throw Failure{"ERROR: " + sentence(store.lastError()) + nothing};
    out << Done << "\n";
    return 0;
}

// ---- usage -------------------------------------------------------------------------------

const std::map<std::string, std::string>& usageTexts() {
    static const std::map<std::string, std::string> texts = {
        {"query",
         "velmar-reg query KEY [/v NAME | /ve] [/s] [/se SEPARATOR] [/f DATA] [/k | /d] [/c]\n"
         "                     [/e] [/t TYPE] [/z] [/reg:32 | /reg:64]\n"
         "  Shows the values of KEY and its subkeys, or the one value NAME (/ve: the unnamed\n"
         "  default value). /s goes through all subkeys. /f searches key names, value names\n"
         "  and data for DATA (* and ? as wildcards); /k searches key names only, /d data only,\n"
         "  /c minds letter case, /e wants the whole text to match. /t shows values of the\n"
         "  given types only (REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD,\n"
         "  REG_BINARY, REG_NONE; several joined by commas). /z adds each type's number.\n"
         "  /se sets the character shown between the strings of REG_MULTI_SZ (default \\0).\n"},
        {"add",
         "velmar-reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEPARATOR] [/d DATA] [/f]\n"
         "                   [/reg:32 | /reg:64]\n"
         "  Creates KEY and sets the value NAME; without /v (or with /ve) the unnamed default\n"
         "  value. TYPE: REG_SZ (the default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY,\n"
         "  REG_DWORD, REG_DWORD_LITTLE_ENDIAN, REG_DWORD_BIG_ENDIAN, REG_QWORD, REG_NONE.\n"
         "  Numbers are decimal or 0x hexadecimal; REG_BINARY data is hexadecimal digits;\n"
         "  REG_MULTI_SZ strings are separated by \\0 or by the one character given with /s.\n"
         "  /f overwrites an existing value without a question.\n"},
        {"delete", "velmar-reg delete KEY [/v NAME | /ve | /va] [/f] [/reg:32 | /reg:64]\n"
                   "  Deletes KEY with its subkeys, the value NAME, the default value (/ve) or\n"
                   "  all values of KEY (/va). /f deletes without a question.\n"},
        {"export", "velmar-reg export KEY FILE [/y] [/reg:32 | /reg:64]\n"
                   "  Writes KEY and its subkeys to FILE as the registry editor of Windows does\n"
                   "  (UTF-16, \"Windows Registry Editor Version 5.00\"). /y overwrites an\n"
                   "  existing FILE without a question.\n"},
        {"import", "velmar-reg import FILE [/reg:32 | /reg:64]\n"
                   "  Reads the keys and values of the .reg file FILE (\"Windows Registry Editor\n"
                   "  Version 5.00\" or \"REGEDIT4\") into the store, all or nothing. Lines that\n"
                   "  can not be read are skipped with a warning.\n"},
    };
    return texts;
}

void printUsage(std::ostream& out) {
    out << "Reads and changes the registry store of the Velmar launcher, as reg.exe does.\n"
           "KEY begins with HKCU, HKLM, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE,\n"
           "e.g. HKCU\\Software\\Tobrel\\VelmarLauncher.\n\n";
    for (const auto& [name, text] : usageTexts())
        out << text << "\n";
    out << "Exit status: 0 done, 1 failed.\n";
}

} // namespace

int runVelmarReg(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    try {
        if (args.empty())
            syntaxError("", "A command is missing.");
        std::string command = args[0];
        std::transform(command.begin(), command.end(), command.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        const std::vector<std::string> words(args.begin() + 1, args.end());
        if (isHelpSwitch(command) || command == "--help") {
            if (!words.empty())
                syntaxError("", "Help takes no further arguments.");
            printUsage(out);
            return 0;
        }
        auto usage = usageTexts().find(command);
        if (usage == usageTexts().end())
            syntaxError("", "\"" + args[0] + "\" is not a command.");
        if (std::any_of(words.begin(), words.end(), isHelpSwitch)) {
            if (words.size() != 1)
                syntaxError(command, "/? stands alone.");
            out << usage->second;
            return 0;
        }
        // Each command checks its arguments before it opens the store.
        if (command == "query")
            return query(words, out);
        if (command == "add")
            return add(words, out);
        if (command == "delete")
            return remove(words, out);
        if (command == "export")
            return exportFile(words, out);
        return importFile(words, out, err);
    } catch (const Failure& failure) {
        out.flush();
        err << failure.text << "\n";
        return 1;
    }
}

} // namespace velmar::regtool
