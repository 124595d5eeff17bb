#include "app/AnsiText.h"

#include "platform/regtext/TextEncoding.h"

#include <string_view>

namespace velmar {

namespace {
// The text up to its first zero byte.
std::string_view untilZero(const std::string& s) {
    return std::string_view(s).substr(0, s.find('\0'));
}
} // namespace

std::string AnsiToUtf8(const std::string& ansi) {
    return regtext::windows1252ToUtf8(untilZero(ansi));
}

std::string ShownText(const std::string& stored) {
    const std::string_view text = untilZero(stored);
    return regtext::isValidUtf8(text) ? std::string(text) : regtext::windows1252ToUtf8(text);
}

} // namespace velmar
