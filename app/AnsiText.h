#pragma once
#include <string>

namespace velmar {

// Windows-1252 bytes as UTF-8 text. The text ends at its first zero byte.
std::string AnsiToUtf8(const std::string& ansi);

} // namespace velmar
