#include "tools/QueryOutput.h"

#include "platform/regtext/TextEncoding.h"

#include <QChar>

#include <algorithm>
#include <cstdio>

namespace velmar::regtool {

namespace {

const struct {
    const char* name;
    std::uint32_t type;
} Types[] = {
    {"REG_NONE", RegNone},
    {"REG_SZ", RegSz},
    {"REG_EXPAND_SZ", RegExpandSz},
    {"REG_BINARY", RegBinary},
    {"REG_DWORD", RegDword},
    {"REG_DWORD_LITTLE_ENDIAN", RegDword},
    {"REG_DWORD_BIG_ENDIAN", RegDwordBigEndian},
    {"REG_LINK", RegLink},
    {"REG_MULTI_SZ", RegMultiSz},
    {"REG_QWORD", RegQword},
    {"REG_QWORD_LITTLE_ENDIAN", RegQword},
};

std::uint64_t littleEndian(const std::vector<std::uint8_t>& d) {
    std::uint64_t v = 0;
    for (std::size_t i = d.size(); i-- > 0;)
        v = (v << 8) | d[i];
    return v;
}

} // namespace

std::string typeName(std::uint32_t type) {
    for (const auto& t : Types)
        if (t.type == type)
            return t.name;
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", type);
    return buf;
}

std::optional<std::uint32_t> typeFromName(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (const auto& t : Types)
        if (upper == t.name)
            return t.type;
    return std::nullopt;
}

std::string displayName(const std::string& name) {
    return name.empty() ? "(Default)" : name;
}

std::string dataText(const RegValue& v, const std::string& multiSeparator) {
    const auto& d = v.data;
    char buf[32];
    if ((v.type == RegDword || v.type == RegDwordBigEndian) && d.size() == 4) {
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(littleEndian(d)));
        return buf;
    }
    if (v.type == RegQword && d.size() == 8) {
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(littleEndian(d)));
        return buf;
    }
    if (v.type == RegSz || v.type == RegExpandSz) {
        auto end = std::find(d.begin(), d.end(), std::uint8_t(0));
        return std::string(d.begin(), end);
    }
    if (v.type == RegMultiSz) {
        std::string out, part;
        bool first = true;
        for (std::size_t i = 0; i < d.size(); ++i) {
            if (d[i] != 0) {
                part += static_cast<char>(d[i]);
                continue;
            }
            if (part.empty())
                break; // the empty string that ends the list
            out += (first ? "" : multiSeparator) + part;
            first = false;
            part.clear();
        }
        if (!part.empty())
            out += (first ? "" : multiSeparator) + part;
        return out;
    }
    std::string out;
    for (std::uint8_t b : d) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        out += buf;
    }
    return out;
}

std::string valueLine(const RegValue& v, bool numericType, const std::string& multiSeparator) {
    std::string type = typeName(v.type);
    if (numericType)
        type += " (" + std::to_string(v.type) + ")";
    return "    " + displayName(v.name) + "    " + type + "    " + dataText(v, multiSeparator);
}

void sortKeyNames(std::vector<std::string>& names) {
    auto upper = [](const std::string& s) {
        std::u16string u = regtext::utf8ToUtf16(s);
        for (char16_t& c : u)
            c = QChar::toUpper(c);
        return u;
    };
    std::vector<std::pair<std::u16string, std::string>> keyed;
    keyed.reserve(names.size());
    for (auto& n : names)
        keyed.emplace_back(upper(n), std::move(n));
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < keyed.size(); ++i)
        names[i] = std::move(keyed[i].second);
}

} // namespace velmar::regtool
