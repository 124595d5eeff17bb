// velmar-reg: reads and changes the launcher's registry store from the command line, in the
// manner of reg.exe (query, add, delete, export, import; .reg files in the text format of the
// registry editor).
#include "platform/registry/RegistryBackend.h"

#include <QString>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace velmar;

namespace {

constexpr const char* NotFound =
    "ERROR: The system was unable to find the specified registry key or value.";
constexpr const char* Done = "The operation completed successfully.";
constexpr const char* RegHeader = "Windows Registry Editor Version 5.00";

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
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct KeyName {
    Hive hive = Hive::CurrentUser;
    std::string path; // below the hive's root, no '\' at either end
    std::string full; // HKEY_...\path
};

std::string hiveName(Hive hive) {
    return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::optional<KeyName> parseKeyName(const std::string& text) {
    const std::size_t sep = text.find('\\');
    const std::string root = upper(text.substr(0, sep));
    KeyName key;
    if (root == "HKCU" || root == "HKEY_CURRENT_USER")
        key.hive = Hive::CurrentUser;
    else if (root == "HKLM" || root == "HKEY_LOCAL_MACHINE")
        key.hive = Hive::LocalMachine;
    else
        return std::nullopt;
    if (sep != std::string::npos) {
        std::string rest = text.substr(sep + 1);
        while (!rest.empty() && rest.back() == '\\')
            rest.pop_back();
        if (rest.find("\\\\") != std::string::npos || (!rest.empty() && rest.front() == '\\'))
            return std::nullopt;
        key.path = rest;
    }
    key.full = hiveName(key.hive) + (key.path.empty() ? "" : "\\" + key.path);
    return key;
}

KeyName keyArgument(const std::string& command, const std::string& text) {
    auto key = parseKeyName(text);
    if (!key)
        throw Failure{"ERROR: Invalid key name.\nType \"velmar-reg " + command +
                      " /?\" for usage."};
    return *key;
}

std::string sentence(std::string text) {
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    if (!text.empty() && text.back() != '.')
        text += '.';
    return text;
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
bool confirm(const std::string& question, const std::string& refusal) {
    if (!isatty(STDIN_FILENO))
        throw Failure{"ERROR: " + refusal +
                      " Standard input is not a terminal, so no question can be asked; use /f "
                      "to go ahead without one."};
    while (true) {
        std::cout << question << ' ' << std::flush;
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

std::string displayName(const std::string& name) {
    return name.empty() ? "(Default)" : name;
}

std::string typeName(std::uint32_t type) {
    switch (type) {
    case RegNone:
        return "REG_NONE";
    case RegSz:
        return "REG_SZ";
    case RegExpandSz:
        return "REG_EXPAND_SZ";
    case RegBinary:
        return "REG_BINARY";
    case RegDword:
        return "REG_DWORD";
    case 5:
        return "REG_DWORD_BIG_ENDIAN";
    case 6:
        return "REG_LINK";
    case RegMultiSz:
        return "REG_MULTI_SZ";
    case RegQword:
        return "REG_QWORD";
    default: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%x", type);
        return buf;
    }
    }
}

std::uint64_t littleEndian(const std::vector<std::uint8_t>& d) {
    std::uint64_t v = 0;
    for (std::size_t i = d.size(); i-- > 0;)
        v = (v << 8) | d[i];
    return v;
}

std::string dataText(const RegValue& v) {
    const auto& d = v.data;
    char buf[32];
    if ((v.type == RegDword && d.size() == 4) || (v.type == RegQword && d.size() == 8)) {
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(littleEndian(d)));
        return buf;
    }
    if (v.type == RegSz || v.type == RegExpandSz) {
        auto end = std::find(d.begin(), d.end(), std::uint8_t(0));
        return std::string(d.begin(), end);
    }
    if (v.type == RegMultiSz) {
        std::string out, part;
        for (std::uint8_t b : d) {
            if (b != 0) {
                part += static_cast<char>(b);
                continue;
            }
            if (part.empty())
                break;
            out += (out.empty() ? "" : "\\0") + part;
            part.clear();
        }
        if (!part.empty())
            out += (out.empty() ? "" : "\\0") + part;
        return out;
    }
    std::string out;
    for (std::uint8_t b : d) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

std::string valueLine(const RegValue& v) {
    return "    " + displayName(v.name) + "    " + typeName(v.type) + "    " + dataText(v);
}

// ---- command line --------------------------------------------------------------------------

struct Args {
    std::vector<std::string> positional;
    std::optional<std::string> v;
    bool ve = false, va = false, f = false, y = false;
    std::optional<std::string> t, d;
};

Args parseArgs(const std::string& command, const std::vector<std::string>& words,
               const std::string& allowed) {
    Args a;
    auto isOption = [](const std::string& w) {
        return w.size() >= 2 && (w[0] == '/' || w[0] == '-');
    };
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        // A word like /v is an option; anything else, a file path like /tmp/x.reg included, is
        // an argument.
        const std::string opt = isOption(w) ? upper(w.substr(1)) : std::string();
        if (opt.empty() ||
            std::string(" V VE VA T D F Y ").find(" " + opt + " ") == std::string::npos) {
            a.positional.push_back(w);
            continue;
        }
        if (allowed.find(" " + opt + " ") == std::string::npos)
            syntaxError(command, "The option " + w + " is not known to " + command + ".");
        auto takeValue = [&](std::optional<std::string>& slot) {
            if (slot)
                syntaxError(command, "The option " + w + " is given twice.");
            if (i + 1 >= words.size())
                syntaxError(command, "The option " + w + " needs a value.");
            slot = words[++i];
        };
        auto takeFlag = [&](bool& flag) {
            if (flag)
                syntaxError(command, "The option " + w + " is given twice.");
            flag = true;
        };
        if (opt == "V")
            takeValue(a.v);
        else if (opt == "T")
            takeValue(a.t);
        else if (opt == "D")
            takeValue(a.d);
        else if (opt == "VE")
            takeFlag(a.ve);
        else if (opt == "VA")
            takeFlag(a.va);
        else if (opt == "F")
            takeFlag(a.f);
        else if (opt == "Y")
            takeFlag(a.y);
    }
    if (int(a.v.has_value()) + int(a.ve) + int(a.va) > 1)
        syntaxError(command, "Only one of /v, /ve and /va may be given.");
    return a;
}

// ---- query ---------------------------------------------------------------------------------

int query(const std::vector<std::string>& words) {
    Args a = parseArgs("query", words, " V VE ");
    if (a.positional.size() != 1)
        syntaxError("query");
    KeyName key = keyArgument("query", a.positional[0]);
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (!store.keyExists(key.hive, key.path))
        throw Failure{NotFound};
    std::string out = "\n" + key.full + "\n";
    if (a.v || a.ve) {
        const std::string name = a.v ? *a.v : std::string();
        auto v = store.readValue(key.hive, key.path, name);
        if (v)
            out += valueLine(*v) + "\n";
        else if (a.ve)
            out += "    (Default)    REG_SZ    (value not set)\n";
        else
            throw Failure{NotFound};
        std::cout << out << "\n";
        return 0;
    }
    auto values = store.values(key.hive, key.path);
    for (const auto& v : values)
        out += valueLine(v) + "\n";
    if (!values.empty())
        out += "\n";
    for (const auto& sub : store.subkeys(key.hive, key.path))
        out += key.full + "\\" + sub + "\n";
    std::cout << out;
    return 0;
}

// ---- add -----------------------------------------------------------------------------------

std::optional<std::uint32_t> parseDword(const std::string& text) {
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        if (!std::isxdigit(static_cast<unsigned char>(text[2])))
            return std::nullopt;
        unsigned long long v = std::strtoull(text.c_str() + 2, &end, 16);
        if (errno || *end || v > 0xFFFFFFFFull)
            return std::nullopt;
        return static_cast<std::uint32_t>(v);
    }
    const bool negative = text[0] == '-';
    const std::string digits = negative ? text.substr(1) : text;
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    unsigned long long v = std::strtoull(digits.c_str(), &end, 10);
    if (errno)
        return std::nullopt;
    if (negative) {
        if (v > 0x80000000ull)
            return std::nullopt;
        return static_cast<std::uint32_t>(0x100000000ull - v);
    }
    if (v > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

std::vector<std::uint8_t> dwordBytes(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

std::vector<std::uint8_t> stringBytes(const std::string& s) {
    std::vector<std::uint8_t> d(s.begin(), s.end());
    d.push_back(0);
    return d;
}

int add(const std::vector<std::string>& words) {
    Args a = parseArgs("add", words, " V VE T D F ");
    if (a.positional.size() != 1)
        syntaxError("add");
    if (a.va)
        syntaxError("add");
    KeyName key = keyArgument("add", a.positional[0]);
    const bool hasValue = a.v || a.ve;
    if (!hasValue && (a.t || a.d))
        syntaxError("add", "/t and /d need /v NAME or /ve.");

    RegValue value;
    if (hasValue) {
        value.name = a.v ? *a.v : std::string();
        const std::string type = a.t ? upper(*a.t) : "REG_SZ";
        const std::string data = a.d ? *a.d : std::string();
        if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
            value.type = type == "REG_SZ" ? RegSz : RegExpandSz;
            value.data = stringBytes(data);
        } else if (type == "REG_DWORD") {
            auto n = a.d ? parseDword(data) : std::optional<std::uint32_t>(0);
            if (!n)
                throw Failure{"ERROR: Invalid data for REG_DWORD: \"" + data +
                              "\" is not a 32-bit number (decimal or 0x hexadecimal)."};
            value.type = RegDword;
            value.data = dwordBytes(*n);
        } else {
            syntaxError("add", "The type " + *a.t +
                                   " is not supported; use REG_SZ, REG_EXPAND_SZ or REG_DWORD.");
        }
    }

    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (hasValue && !a.f && store.keyExists(key.hive, key.path) &&
        store.readValue(key.hive, key.path, value.name)) {
        const std::string name = displayName(value.name);
        if (!confirm("Value " + name + " exists, overwrite(Yes/No)?",
                     "Value " + name + " exists and was not overwritten."))
            cancelled();
    }
    if (!store.createKey(key.hive, key.path))
        storeFailure(store);
    if (hasValue && !store.writeValue(key.hive, key.path, value))
        storeFailure(store);
    std::cout << Done << "\n";
    return 0;
}

// ---- delete --------------------------------------------------------------------------------

int remove(const std::vector<std::string>& words) {
    Args a = parseArgs("delete", words, " V VE VA F ");
    if (a.positional.size() != 1)
        syntaxError("delete");
    KeyName key = keyArgument("delete", a.positional[0]);
    const bool wholeKey = !a.v && !a.ve && !a.va;
    if (wholeKey && key.path.empty())
        throw Failure{"ERROR: The root of a hive can not be deleted."};
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (!store.keyExists(key.hive, key.path))
        throw Failure{NotFound};

    if (wholeKey) {
        if (!a.f && !confirm("Permanently delete the registry key " + key.full + " (Yes/No)?",
                             "The key " + key.full + " was not deleted."))
            cancelled();
        if (!store.deleteKey(key.hive, key.path))
            storeFailure(store);
    } else if (a.va) {
        if (!a.f && !confirm("Delete all values under the registry key " + key.full + " (Yes/No)?",
                             "The values of " + key.full + " were not deleted."))
            cancelled();
        for (const auto& v : store.values(key.hive, key.path))
            if (!store.deleteValue(key.hive, key.path, v.name))
                storeFailure(store);
    } else {
        const std::string name = a.v ? *a.v : std::string();
        if (!store.readValue(key.hive, key.path, name))
            throw Failure{NotFound};
        if (!a.f && !confirm("Delete the registry value " + displayName(name) + " (Yes/No)?",
                             "The value " + displayName(name) + " was not deleted."))
            cancelled();
        if (!store.deleteValue(key.hive, key.path, name))
            storeFailure(store);
    }
    std::cout << Done << "\n";
    return 0;
}

// ---- export --------------------------------------------------------------------------------

std::string escapeRegString(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

bool isPlainString(const std::vector<std::uint8_t>& d) {
    // Written as "text" only when that reads back to the very same bytes: one terminating zero
    // and nothing after it, no line breaks, valid UTF-8.
    if (d.empty() || d.back() != 0)
        return false;
    const std::string text(d.begin(), d.end() - 1);
    if (text.find_first_of(std::string("\0\r\n", 3)) != std::string::npos)
        return false;
    return QString::fromUtf8(text).toUtf8() == QByteArray::fromStdString(text);
}

std::string hexData(const std::string& prefix, const std::vector<std::uint8_t>& d) {
    std::string out = prefix;
    std::size_t lineLength = prefix.size();
    char buf[4];
    for (std::size_t i = 0; i < d.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", d[i]);
        out += buf;
        lineLength += 2;
        if (i + 1 < d.size()) {
            out += ',';
            ++lineLength;
            if (lineLength > 76) {
                out += "\\\n  ";
                lineLength = 2;
            }
        }
    }
    return out;
}

std::string regLine(const RegValue& v) {
    std::string line = v.name.empty() ? "@=" : "\"" + escapeRegString(v.name) + "\"=";
    if (v.type == RegSz && isPlainString(v.data))
        return line + "\"" + escapeRegString(std::string(v.data.begin(), v.data.end() - 1)) + "\"";
    if (v.type == RegDword && v.data.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", static_cast<unsigned>(littleEndian(v.data)));
        return line + buf;
    }
    if (v.type == RegBinary)
        return hexData(line + "hex:", v.data);
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    return hexData(line + buf, v.data);
}

void exportKey(RegistryBackend& store, Hive hive, const std::string& path, const std::string& full,
               std::string& out) {
    out += "[" + full + "]\n";
    for (const auto& v : store.values(hive, path))
        out += regLine(v) + "\n";
    out += "\n";
    for (const auto& sub : store.subkeys(hive, path))
        exportKey(store, hive, path.empty() ? sub : path + "\\" + sub, full + "\\" + sub, out);
}

int exportFile(const std::vector<std::string>& words) {
    Args a = parseArgs("export", words, " Y ");
    if (a.positional.size() != 2)
        syntaxError("export");
    KeyName key = keyArgument("export", a.positional[0]);
    const std::string& file = a.positional[1];
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    if (!store.keyExists(key.hive, key.path))
        throw Failure{NotFound};
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !a.y &&
        !confirm("File " + file + " already exists. Overwrite (Yes/No)?",
                 "The file " + file + " exists and was not overwritten."))
        cancelled();
    std::string out = std::string(RegHeader) + "\n\n";
    exportKey(store, key.hive, key.path, key.full, out);
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    if (f)
        f << out;
    f.close();
    if (!f)
        throw Failure{"ERROR: The file " + file + " can not be written: " + std::strerror(errno) +
                      "."};
    std::cout << Done << "\n";
    return 0;
}

// ---- import --------------------------------------------------------------------------------

struct ImportStep {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue } kind;
    Hive hive;
    std::string path;
    RegValue value;
};

class RegFileParser {
public:
    RegFileParser(std::string file, const std::string& text) : file_(std::move(file)) {
        std::string line;
        for (std::size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == '\n') {
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                lines_.push_back(line);
                line.clear();
            } else {
                line += text[i];
            }
        }
    }

    std::vector<ImportStep> parse() {
        std::size_t i = 0;
        while (i < lines_.size() && trim(lines_[i]).empty())
            ++i;
        if (i == lines_.size() || (trim(lines_[i]) != RegHeader && trim(lines_[i]) != "REGEDIT4"))
            throw Failure{"ERROR: " + file_ + " is not a registry file: its first line is not \"" +
                          RegHeader + "\"."};
        std::optional<KeyName> current;
        for (++i; i < lines_.size(); ++i) {
            line_ = i + 1;
            std::string line = trim(lines_[i]);
            if (line.empty() || line[0] == ';')
                continue;
            if (line[0] == '[') {
                if (line.back() != ']')
                    error("the key line does not end with ]");
                std::string name = line.substr(1, line.size() - 2);
                const bool remove = !name.empty() && name[0] == '-';
                auto key = parseKeyName(remove ? name.substr(1) : name);
                if (!key)
                    error("\"" + name +
                          "\" is not a key of HKEY_CURRENT_USER or "
                          "HKEY_LOCAL_MACHINE");
                if (remove) {
                    if (key->path.empty())
                        error("the root of a hive can not be deleted");
                    steps_.push_back({ImportStep::DeleteKey, key->hive, key->path, {}});
                    current.reset();
                } else {
                    steps_.push_back({ImportStep::CreateKey, key->hive, key->path, {}});
                    current = key;
                }
                continue;
            }
            if (!current)
                error("a value stands before the first key line");
            parseValueLine(line, i, *current);
        }
        return steps_;
    }

private:
    [[noreturn]] void error(const std::string& what) {
        throw Failure{"ERROR: " + file_ + ", line " + std::to_string(line_) + ": " + what +
                      ". Nothing was imported."};
    }

    static std::string trim(const std::string& s) {
        const std::size_t b = s.find_first_not_of(" \t");
        if (b == std::string::npos)
            return {};
        const std::size_t e = s.find_last_not_of(" \t");
        return s.substr(b, e - b + 1);
    }

    // Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote.
    std::string quoted(const std::string& s, std::size_t& pos) {
        std::string out;
        for (++pos; pos < s.size(); ++pos) {
            char c = s[pos];
            if (c == '"') {
                ++pos;
                return out;
            }
            if (c == '\\') {
                if (pos + 1 >= s.size() || (s[pos + 1] != '\\' && s[pos + 1] != '"'))
                    error("a backslash in a quoted text must be written as \\\\");
                c = s[++pos];
            }
            out += c;
        }
        error("a quoted text has no closing \"");
    }

    void parseValueLine(const std::string& line, std::size_t& index, const KeyName& key) {
        std::size_t pos = 0;
        RegValue value;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] == '"') {
            value.name = quoted(line, pos);
        } else {
            error("a value line must begin with \"name\" or @");
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t'))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            error("= is missing after the value name");
        std::string data = trim(line.substr(pos + 1));
        if (data == "-") {
            steps_.push_back({ImportStep::DeleteValue, key.hive, key.path, value});
            return;
        }
        if (!data.empty() && data[0] == '"') {
            std::size_t p = 0;
            std::string text = quoted(data, p);
            if (!trim(data.substr(p)).empty())
                error("text follows the closing \" of the data");
            value.type = RegSz;
            value.data = stringBytes(text);
        } else if (upper(data.substr(0, 6)) == "DWORD:") {
            const std::string digits = data.substr(6);
            if (digits.empty() || digits.size() > 8 ||
                !std::all_of(digits.begin(), digits.end(),
                             [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
                error("dword: needs one to eight hexadecimal digits");
            value.type = RegDword;
            value.data = dwordBytes(static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16)));
        } else if (upper(data.substr(0, 3)) == "HEX") {
            std::size_t p = 3;
            value.type = RegBinary;
            if (p < data.size() && data[p] == '(') {
                const std::size_t close = data.find(')', p);
                const std::string n =
                    close == std::string::npos ? "" : data.substr(p + 1, close - p - 1);
                if (n.empty() || n.size() > 8 || !std::all_of(n.begin(), n.end(), [](char c) {
                        return std::isxdigit(static_cast<unsigned char>(c));
                    }))
                    error("hex( needs a hexadecimal type number and )");
                value.type = static_cast<std::uint32_t>(std::stoul(n, nullptr, 16));
                p = close + 1;
            }
            if (p >= data.size() || data[p] != ':')
                error(": is missing after hex");
            std::string bytes = data.substr(p + 1);
            // A line ending in '\' goes on in the next line.
            while (!bytes.empty() && bytes.back() == '\\') {
                bytes.pop_back();
                if (++index >= lines_.size() || trim(lines_[index]).empty())
                    error("the hexadecimal data breaks off after a line that ends in \\");
                bytes += trim(lines_[index]);
                line_ = index + 1;
            }
            value.data = hexBytes(bytes);
        } else {
            error("the data must be \"text\", dword:, hex: or hex(N):");
        }
        steps_.push_back({ImportStep::SetValue, key.hive, key.path, value});
    }

    std::vector<std::uint8_t> hexBytes(const std::string& text) {
        std::vector<std::uint8_t> out;
        if (trim(text).empty())
            return out;
        std::size_t pos = 0;
        while (true) {
            const std::size_t comma = text.find(',', pos);
            const std::string item =
                trim(text.substr(pos, comma == std::string::npos ? comma : comma - pos));
            if (item.empty() || item.size() > 2 ||
                !std::all_of(item.begin(), item.end(),
                             [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
                error("\"" + item + "\" is not a hexadecimal byte");
            out.push_back(static_cast<std::uint8_t>(std::stoul(item, nullptr, 16)));
            if (comma == std::string::npos)
                return out;
            pos = comma + 1;
        }
    }

    std::string file_;
    std::vector<std::string> lines_;
    std::vector<ImportStep> steps_;
    std::size_t line_ = 1;
};

std::string decodeRegFile(const std::string& raw) {
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
        static_cast<unsigned char>(raw[1]) == 0xFE) {
        // The registry editor of Windows writes UTF-16LE.
        std::u16string units;
        for (std::size_t i = 2; i + 1 < raw.size(); i += 2)
            units.push_back(static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                                  (static_cast<unsigned char>(raw[i + 1]) << 8)));
        return QString::fromStdU16String(units).toStdString();
    }
    if (raw.size() >= 3 && raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
        return raw.substr(3);
    return raw;
}

int importFile(const std::vector<std::string>& words) {
    Args a = parseArgs("import", words, " ");
    if (a.positional.size() != 1)
        syntaxError("import");
    const std::string& file = a.positional[0];
    std::ifstream f(file, std::ios::binary);
    if (!f)
        throw Failure{"ERROR: The file " + file + " can not be read: " + std::strerror(errno) +
                      "."};
    std::stringstream buffer;
    buffer << f.rdbuf();
    std::vector<ImportStep> steps = RegFileParser(file, decodeRegFile(buffer.str())).parse();
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    for (const auto& s : steps) {
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
            storeFailure(store);
    }
    std::cout << Done << "\n";
    return 0;
}

// ---- usage ---------------------------------------------------------------------------------

const std::map<std::string, std::string>& usageTexts() {
    static const std::map<std::string, std::string> texts = {
        {"query", "velmar-reg query KEY [/v NAME | /ve]\n"
                  "  Shows the values and subkeys of KEY, or the one value NAME (/ve: the\n"
                  "  unnamed default value).\n"},
        {"add", "velmar-reg add KEY [/v NAME | /ve] [/t REG_SZ|REG_EXPAND_SZ|REG_DWORD]\n"
                "                   [/d DATA] [/f]\n"
                "  Creates KEY, or sets the value NAME (/ve: the default value). REG_DWORD\n"
                "  data is decimal or 0x hexadecimal. /f overwrites without a question.\n"},
        {"delete", "velmar-reg delete KEY [/v NAME | /ve | /va] [/f]\n"
                   "  Deletes KEY with its subkeys, the value NAME, the default value (/ve) or\n"
                   "  all values of KEY (/va). /f deletes without a question.\n"},
        {"export", "velmar-reg export KEY FILE [/y]\n"
                   "  Writes KEY and its subkeys to FILE in the .reg format. /y overwrites an\n"
                   "  existing FILE without a question.\n"},
        {"import", "velmar-reg import FILE\n"
                   "  Reads the keys and values of the .reg file FILE into the registry.\n"},
    };
    return texts;
}

void printUsage() {
    std::cout << "Reads and changes the registry store of the Velmar launcher.\n"
                 "KEY begins with HKCU, HKLM, HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE,\n"
                 "e.g. HKCU\\Software\\Tobrel\\VelmarLauncher.\n\n";
    for (const auto& [name, text] : usageTexts())
        std::cout << text << "\n";
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.empty())
            syntaxError("", "A command is missing.");
        const std::string command = [&] {
            std::string c = args[0];
            std::transform(c.begin(), c.end(), c.begin(),
                           [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
            return c;
        }();
        std::vector<std::string> words(args.begin() + 1, args.end());
        if (command == "/?" || command == "-?" || command == "--help") {
            printUsage();
            return 0;
        }
        auto usage = usageTexts().find(command);
        if (usage == usageTexts().end())
            syntaxError("", "\"" + args[0] + "\" is not a command.");
        if (words.size() == 1 && (words[0] == "/?" || words[0] == "-?")) {
            std::cout << usage->second;
            return 0;
        }
        // Each command checks its arguments before it opens the store.
        if (command == "query")
            return query(words);
        if (command == "add")
            return add(words);
        if (command == "delete")
            return remove(words);
        if (command == "export")
            return exportFile(words);
        return importFile(words);
    } catch (const Failure& failure) {
        std::cout.flush();
        std::cerr << failure.text << "\n";
        return 1;
    }
}
