#pragma once
// Reads .reg files as reg.exe reads them: "Windows Registry Editor Version 5.00" (UTF-16LE with
// BOM, or UTF-8) and "REGEDIT4" (Windows-1252). A line that can not be read is skipped and the
// rest is read on; text reaches the store as UTF-8 (quoted text with a terminating zero;
// hex(1), hex(2) and hex(7) converted from UTF-16LE, or from Windows-1252 in REGEDIT4 files).
// No Qt and no store here: the reader is fuzzed on its own.
#include "platform/registry/RegistryBackend.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmar::regtool {

struct ImportStep {
    enum Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
    Kind kind = CreateKey;
    Hive hive = Hive::CurrentUser;
    std::string path;
    RegValue value;       // SetValue: the value; DeleteValue: its name
    std::size_t line = 0; // where it stands in the file
};

struct SkippedLine {
    std::size_t line = 0; // 1-based
    std::string reason;
};

enum class RegFileFormat {
    Invalid,  // not a registry file: reg.exe refuses it
    Ignored,  // "REGEDIT", "REGEDIT3", "REGEDIT4 FOO", ...: accepted, nothing is imported
    Regedit4, // "REGEDIT4"
    Version5, // "Windows Registry Editor Version 5.00"
};

struct RegFileContent {
    RegFileFormat format = RegFileFormat::Invalid;
    std::vector<ImportStep> steps;
    std::vector<SkippedLine> skipped; // the first MaxSkippedLines of them
    std::size_t skippedCount = 0;     // all of them
};

constexpr std::size_t MaxSkippedLines = 100;

RegFileContent readRegFile(std::string_view raw);

} // namespace velmar::regtool
