#include "tools/RegFileWriter.h"

#include "platform/registry/NameFolding.h"
#include "platform/regtext/TextEncoding.h"
#include "tools/QueryOutput.h"

#include <algorithm>
#include <cstdio>

namespace velmar::regtool {

namespace {

// reg.exe breaks a line of hexadecimal data once it has reached this many characters.
constexpr std::size_t HexLineLimit = 77;

std::u16string ascii(const char* s) {
    std::u16string out;
    while (*s)
        out += static_cast<char16_t>(*s++);
    return out;
}

std::u16string escaped(const std::string& text) {
    std::u16string out;
    for (char16_t c : regtext::utf8ToUtf16(text)) {
        if (c == u'\\' || c == u'"')
            out += u'\\';
        out += c;
    }
    return out;
}

bool hasLineBreak(const std::string& s) {
    return s.find_first_of("\r\n") != std::string::npos;
}

std::u16string hexText(std::u16string line, const std::vector<std::uint8_t>& data) {
    std::size_t lineLength = line.size();
    char buf[4];
    for (std::size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        line += ascii(buf);
        if (i + 1 == data.size())
            break;
        line += u',';
        lineLength += 3;
        if (lineLength >= HexLineLimit) {
            line += u"\\\r\n  ";
            lineLength = 2;
        }
    }
    return line;
}

// REG_SZ is written as "text" up to its first zero, as reg.exe does. Text that a quoted string
// can not carry (a line break, bytes that are not UTF-8, more text after a zero) is written as
// hex(1) instead, which reg.exe and this program read back unchanged.
bool quotable(const std::vector<std::uint8_t>& d) {
    std::size_t end = 0;
    while (end < d.size() && d[end] != 0)
        ++end;
    if (end + 1 < d.size())
        return false;
    const std::string text(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(end));
    return !hasLineBreak(text) && regtext::isValidUtf8(text);
}

std::vector<std::uint8_t> asUtf16(const std::vector<std::uint8_t>& utf8) {
    return regtext::utf16DataFromText(
        std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
}

void appendKey(RegistryBackend& store, Hive hive, const std::string& path, const std::string& full,
               std::u16string& out, std::string& error) {
    if (hasLineBreak(full)) {
        error = "The key name \"" + full + "\" holds a line break, which a .reg file can not hold.";
        return;
    }
    // What import would refuse (a key kept from an old store beyond Windows' limits) is not
    // exported either: the file would be a backup that can not be restored.
    std::size_t depth = 0;
    for (std::size_t from = 0; from <= path.size() && !path.empty(); ++depth) {
        const std::size_t end = std::min(path.find('\\', from), path.size());
        if (nameLength(std::string_view(path).substr(from, end - from)) > 255) {
            error = "The key " + full +
                    " has a name of more than 255 characters, which import (as reg.exe) refuses.";
            return;
        }
        from = end + 1;
    }
    if (depth > 512) {
        error = "The key " + full.substr(0, 200) + "... lies " + std::to_string(depth) +
                " levels deep, more than the 512 that import (as reg.exe) takes.";
        return;
    }
    out += u"[" + regtext::utf8ToUtf16(full) + u"]\r\n";
    for (const auto& v : store.values(hive, path)) {
        if (nameLength(v.name) > 16383) {
            error = "The key " + full +
                    " has a value name of more than 16,383 characters, which import refuses.";
            return;
        }
        std::u16string line = regValueText(v, error);
        if (!error.empty()) {
            error += " (key " + full + ")";
            return;
        }
        out += line + u"\r\n";
    }
    out += u"\r\n";
    auto subkeys = store.subkeys(hive, path);
    sortKeyNames(subkeys);
    for (const auto& sub : subkeys) {
        appendKey(store, hive, path.empty() ? sub : path + "\\" + sub, full + "\\" + sub, out,
                  error);
        if (!error.empty())
            return;
    }
}

} // namespace

std::u16string regValueText(const RegValue& v, std::string& error) {
    if (hasLineBreak(v.name)) {
        error = "The value name \"" + v.name +
                "\" holds a line break, which a .reg file can not "
                "hold.";
        return {};
    }
    std::u16string line = v.name.empty() ? u"@=" : u"\"" + escaped(v.name) + u"\"=";
    const auto& d = v.data;
    if (v.type == RegSz && quotable(d)) {
        std::size_t end = 0;
        while (end < d.size() && d[end] != 0)
            ++end;
        return line + u"\"" +
               escaped(std::string(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(end))) +
               u"\"";
    }
    if (v.type == RegDword && d.size() == 4) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x",
                      static_cast<unsigned>(d[0] | (d[1] << 8) | (d[2] << 16) |
                                            (static_cast<unsigned>(d[3]) << 24)));
        return line + ascii(buf);
    }
    if (v.type == RegBinary)
        return hexText(line + u"hex:", d);
    char buf[24];
    std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
    if (v.type == RegSz || v.type == RegExpandSz || v.type == RegMultiSz)
        return hexText(line + ascii(buf), asUtf16(d));
    return hexText(line + ascii(buf), d);
}

bool buildRegFile(RegistryBackend& store, const KeyName& key, std::string& bytes,
                  std::string& error) {
    std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n";
    error.clear();
    appendKey(store, key.hive, key.path, key.full(), text, error);
    if (!error.empty())
        return false;
    const auto le = regtext::utf16ToLittleEndian(text);
    bytes.assign(le.begin(), le.end());
    return true;
}

} // namespace velmar::regtool
