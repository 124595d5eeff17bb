// Reading a Wine prefix's registry file. The format, as Wine writes it:
//   WINE REGISTRY Version 2
//   ;; comments
//   [Software\\Holmgard\\VELMARTIDES] 1796766242      key path with every '\' doubled, then the
//   #time=1d9...                                       last write; '#' lines carry key metadata
//   "GAMEPATH"="C:\\Program Files\\Holmgard\\Velmar Tides"
//   @=dword:00000005                                   '@' is the unnamed default value
//   "Path"=str(2):"%SystemRoot%"                       a string of another type (REG_EXPAND_SZ)
//   "Bin"=hex(3):01,02,\                               bytes; a trailing '\' continues the line
//     03
//   (a blank line ends the key)
// Names and strings use C-like escapes: \\ \" \[ \] \a \b \t \n \v \f \r \e, octal \ooo, and
// \x followed by up to four hex digits of one UTF-16 unit (padded to four only when the next
// character is a hex digit itself).
#include "platform/wine/WinePrefix.h"

#include "platform/regtext/RegSyntax.h"
#include "platform/regtext/TextEncoding.h"

#include <QString>

#include <cstdint>
#include <fstream>
#include <sstream>

namespace velmar::wine {

namespace {

constexpr std::string_view Signature = "WINE REGISTRY Version 2";

using regtext::hexDigit;

// UTF-16 units to UTF-8; a unit of a broken surrogate pair becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view units) {
    return regtext::utf16ToUtf8(units, regtext::LoneSurrogates::Replace);
}

// The UTF-16 units of UTF-8 text (the file is written in UTF-8 apart from its escapes); a byte
// that is not valid UTF-8 stands for itself (Latin-1).
void appendUtf16(std::u16string& out, std::string_view text, std::size_t& i) {
    const auto b = static_cast<unsigned char>(text[i]);
    const int extra = b >= 0xf0 && b < 0xf5   ? 3
                      : b >= 0xe0 && b < 0xf0 ? 2
                      : b >= 0xc2 && b < 0xe0 ? 1
                                              : 0;
    if (extra == 0 || i + extra >= text.size()) {
        out += static_cast<char16_t>(b);
        ++i;
        return;
    }
    char32_t c = b & (0x3f >> extra);
    for (int k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xc0) != 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            return;
        }
        c = (c << 6) | (next & 0x3f);
    }
    if (c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<char16_t>(0xd800 + (c >> 10));
        out += static_cast<char16_t>(0xdc00 + (c & 0x3ff));
    } else {
        out += static_cast<char16_t>(c);
    }
    i += extra + 1;
}

// Reads an escaped string from `pos` up to (not including) an unescaped `end` character.
// Returns false when the text ends first. `pos` is left after the end character.
bool unescape(std::string_view text, std::size_t& pos, char end, std::u16string& out) {
    static const std::string_view letters = "abtnvfre";
    static const char16_t codes[] = {7, 8, 9, 10, 11, 12, 13, 27};
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == end) {
            ++pos;
            return true;
        }
        if (c != '\\') {
            appendUtf16(out, text, pos);
            continue;
        }
        ++pos;
        if (pos >= text.size())
            return false;
        const char e = text[pos];
        if (e == 'x') {
            ++pos;
            char16_t unit = 0;
            int digits = 0;
            while (digits < 4 && pos < text.size() && hexDigit(text[pos]) >= 0) {
                unit = static_cast<char16_t>(unit * 16 + hexDigit(text[pos]));
                ++pos;
                ++digits;
            }
            out += digits ? unit : u'x';
        } else if (e >= '0' && e <= '7') {
            char16_t unit = 0;
            int digits = 0;
            while (digits < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7') {
                unit = static_cast<char16_t>(unit * 8 + (text[pos] - '0'));
                ++pos;
                ++digits;
            }
            out += unit;
        } else if (const auto at = letters.find(e); at != std::string_view::npos) {
            out += codes[at];
            ++pos;
        } else {
            appendUtf16(out, text, pos); // \\, \", \[, \] and any other character itself
        }
    }
    return false;
}

bool sameKeyName(const std::u16string& a, const std::string& b) {
    return QString::fromStdU16String(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) ==
           0;
}

std::vector<std::uint8_t> stringBytes(const std::u16string& units) {
    std::string utf8 = utf16ToUtf8(units);
    std::vector<std::uint8_t> data(utf8.begin(), utf8.end());
    if (data.empty() || data.back() != 0)
        data.push_back(0);
    return data;
}

bool isStringType(std::uint32_t type) {
    return type == RegSz || type == RegExpandSz || type == RegMultiSz;
}

// Reads the type N of "str(N):" or "hex(N):" at the start of `data`, in hexadecimal; `pos` is
// left after the colon. False when "):" is missing.
bool readType(std::string_view data, std::size_t& pos, std::uint32_t& type) {
    const std::size_t close = data.find("):", pos);
    if (close == std::string_view::npos)
        return false;
    type = static_cast<std::uint32_t>(
        std::strtoul(std::string(data.substr(4, close - 4)).c_str(), nullptr, 16));
    pos = close + 2;
    return true;
}

// The data of one value line (after "name="), continuation lines already joined.
std::optional<RegValue> parseData(std::string_view data) {
    RegValue value;
    std::size_t pos = 0;
    auto startsWith = [&](std::string_view p) {
        return data.substr(pos, p.size()) == p;
    };
    if (startsWith("\"") || startsWith("str(")) {
        value.type = RegSz;
        if (startsWith("str(") && (!readType(data, pos, value.type) || !startsWith("\"")))
            return std::nullopt;
        ++pos;
        std::u16string units;
        if (!unescape(data, pos, '"', units))
            return std::nullopt;
        value.data = stringBytes(units);
        return value;
    }
    if (startsWith("dword:")) {
        const std::string digits(data.substr(6, 8));
        if (digits.size() != 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        const auto u = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
        value.type = RegDword;
        value.data = regtext::dwordBytes(u);
        return value;
    }
    if (startsWith("hex:") || startsWith("hex(")) {
        value.type = RegBinary;
        if (!startsWith("hex("))
            pos = 4;
        else if (!readType(data, pos, value.type))
            return std::nullopt;
        std::vector<std::uint8_t> bytes;
        while (pos < data.size()) {
            const char c = data[pos];
            if (c == ',' || c == ' ' || c == '\t') {
                ++pos;
                continue;
            }
            if (pos + 1 >= data.size() || hexDigit(c) < 0 || hexDigit(data[pos + 1]) < 0)
                return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(hexDigit(c) * 16 + hexDigit(data[pos + 1])));
            pos += 2;
        }
        if (isStringType(value.type)) { // UTF-16LE on disk, UTF-8 in the launcher
            std::u16string units = regtext::utf16FromLittleEndian(bytes.data(), bytes.size());
            while (!units.empty() && units.back() == 0 && value.type != RegMultiSz)
                units.pop_back();
            bytes = stringBytes(units);
        }
        value.data = std::move(bytes);
        return value;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::vector<RegValue>> parseRegistryKey(std::string_view text,
                                                      const std::string& keyPath) {
    if (text.substr(0, Signature.size()) != Signature)
        return std::nullopt;
    regtext::LineCursor lines(text);

    std::string_view line;
    // Find the key's section.
    bool found = false;
    while (!found && lines.next(line)) {
        if (line.empty() || line.front() != '[')
            continue;
        std::size_t at = 1;
        std::u16string name;
        if (unescape(line, at, ']', name) && sameKeyName(name, keyPath))
            found = true;
    }
    if (!found)
        return std::nullopt;

    std::vector<RegValue> values;
    while (lines.next(line)) {
        if (line.empty() || line.front() == '[')
            break; // the key ends with a blank line (or, in a damaged file, the next key)
        if (line.front() == '#' || line.front() == ';')
            continue;
        std::string joined(line);
        while (!joined.empty() && joined.back() == '\\' && lines.next(line)) {
            joined.pop_back();
            const std::size_t first = line.find_first_not_of(" \t");
            joined += first == std::string_view::npos ? std::string_view() : line.substr(first);
        }
        std::size_t at = 0;
        std::u16string name;
        if (joined.front() == '@') {
            at = 1;
        } else if (joined.front() == '"') {
            at = 1;
            if (!unescape(joined, at, '"', name))
                continue;
        } else {
            continue;
        }
        if (at >= joined.size() || joined[at] != '=')
            continue;
        auto value = parseData(std::string_view(joined).substr(at + 1));
        if (!value)
            continue; // a value this reader does not understand is left out, not guessed at
        value->name = utf16ToUtf8(name);
        values.push_back(std::move(*value));
    }
    return values;
}

std::optional<std::vector<RegValue>> readRegistryKey(const std::string& file,
                                                     const std::string& keyPath) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return parseRegistryKey(text.str(), keyPath);
}

} // namespace velmar::wine
