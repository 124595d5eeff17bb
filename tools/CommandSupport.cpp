#include "tools/CommandSupport.h"

#include <iostream>
#include <unistd.h>

namespace velmar::regtool::cli {

[[noreturn]] void syntaxError(const std::string& command, const std::string& why) {
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

void requireKey(RegistryBackend& store, const KeyName& key) {
    if (store.keyExists(key.hive, key.path))
        return;
    if (!store.lastError().empty()) // not missing: the store (or a prefix) could not tell
        storeFailure(store);
    throw Failure{NotFound};
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

bool isHelpSwitch(const std::string& w) {
    const std::string u = upper(w);
    return u == "/?" || u == "-?" || u == "/H" || u == "-H";
}

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

} // namespace velmar::regtool::cli
