#include "platform/registry/NameFolding.h"

#include "platform/regtext/TextEncoding.h"

#include <QChar>

namespace velmar {

std::size_t nameLength(std::string_view name) {
    std::size_t units = 0;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            ++units;
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = regtext::decodeUtf8(name, i, cp);
        if (len == 0) { // a byte that is not UTF-8 is one character, the rest counts as ever
            ++units;
            ++i;
            continue;
        }
        units += cp >= 0x10000 ? 2 : 1;
        i += len;
    }
    return units;
}

std::string foldName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x80) {
            out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
            ++i;
            continue;
        }
        char32_t cp = 0;
        const std::size_t len = regtext::decodeUtf8(name, i, cp);
        if (len == 0) {
            out += static_cast<char>(c);
            ++i;
            continue;
        }
        regtext::appendUtf8(out, QChar::toUpper(cp));
        i += len;
    }
    return out;
}

} // namespace velmar
