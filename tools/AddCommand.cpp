#include "tools/CommandSupport.h"

#include "platform/regtext/TextEncoding.h"
#include "tools/QueryOutput.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>

namespace velmar::regtool::cli {

namespace {

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

} // namespace

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

} // namespace velmar::regtool::cli
