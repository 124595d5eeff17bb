#include "tools/CommandLine.h"

#include "tools/CommandSupport.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <ostream>

namespace velmar::regtool {

using namespace cli;

namespace {

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
