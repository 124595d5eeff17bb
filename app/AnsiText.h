#pragma once
#include <string>

namespace velmar {

// Windows-1252 bytes as UTF-8 text. The text ends at its first zero byte.
std::string AnsiToUtf8(const std::string& ansi);

// Stored bytes as a widget shows them: UTF-8 as it is; bytes that are no valid UTF-8 (a name
// imported from an old file in the Windows code page) read as Windows-1252. Only for showing:
// the bytes themselves are what the program keeps, finds and writes back.
std::string ShownText(const std::string& stored);

} // namespace velmar
