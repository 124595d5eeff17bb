#include "tools/RegFileReader.h"

#include "platform/regtext/RegSyntax.h"
#include "platform/regtext/TextEncoding.h"
#include "tools/RegKeyName.h"

#include <optional>

namespace velmar::regtool {

namespace {

constexpr std::string_view Version5Header = "Windows Registry Editor Version 5.00";

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimLeft(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i]))
        ++i;
    return s.substr(i);
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (isBlank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

using regtext::hexDigit;

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Whatever follows data on its line may only be blanks and a ';' comment.
bool endsClean(std::string_view s, std::size_t pos) {
    while (pos < s.size() && isBlank(s[pos]))
        ++pos;
    return pos == s.size() || s[pos] == ';';
}

enum class Quoted { Read, Unclosed, ZeroEscape };

// Reads "..." starting at s[pos] == '"'; \\ and \" are the escapes, any other backslash stands
// for itself, except \0, with which reg.exe refuses the line.
Quoted readQuoted(std::string_view s, std::size_t& pos, std::string& out) {
    for (++pos; pos < s.size(); ++pos) {
        char c = s[pos];
        if (c == '"') {
            ++pos;
            return Quoted::Read;
        }
        if (c == '\\' && pos + 1 < s.size()) {
            if (s[pos + 1] == '0')
                return Quoted::ZeroEscape;
            if (s[pos + 1] == '\\' || s[pos + 1] == '"')
                c = s[++pos];
        }
        out += c;
    }
    return Quoted::Unclosed;
}

constexpr const char* ZeroEscapeReason =
    "\\0 stands inside the quotes, which reg.exe does not read";

class Reader {
public:
    Reader(std::string_view text, RegFileFormat format) : lines_(text), format_(format) {}

    void run(RegFileContent& content) {
        content_ = &content;
        std::string_view line;
        nextLine(line); // the header, checked by the caller
        while (nextLine(line))
            readLine(trimLeft(line));
    }

private:
    bool nextLine(std::string_view& line) {
        if (!lines_.next(line))
            return false;
        ++lineNo_;
        return true;
    }

    void skip(std::size_t line, std::string reason) {
        if (++content_->skippedCount <= MaxSkippedLines)
            content_->skipped.push_back({line, std::move(reason)});
    }

    void readLine(std::string_view line) {
        if (line.empty() || line[0] == ';' || line[0] == '#')
            return;
        if (line[0] == '[')
            return readKeyLine(line);
        if (line[0] == '"' || line[0] == '@')
            return readValueLine(line);
        skip(lineNo_, "it is neither a [key] line, a value line nor a comment");
    }

    void readKeyLine(std::string_view line) {
        current_.reset();
        const std::size_t close = line.rfind(']');
        if (close == std::string_view::npos)
            return skip(lineNo_, "the key line has no closing ]");
        std::string_view name = line.substr(1, close - 1);
        const bool remove = !name.empty() && name[0] == '-';
        if (remove)
            name.remove_prefix(1);
        auto key = parseKeyName(name, KeyNameRules::RegFile);
        if (!key)
            return skip(lineNo_, "\"" + std::string(name) +
                                     "\" is not a key of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE");
        if (remove) {
            if (key->path.empty())
                return skip(lineNo_, "the root of a hive can not be deleted");
            content_->steps.push_back({ImportStep::DeleteKey, key->hive, key->path, {}, lineNo_});
            return;
        }
        content_->steps.push_back({ImportStep::CreateKey, key->hive, key->path, {}, lineNo_});
        current_ = key;
    }

    void readValueLine(std::string_view line) {
        const std::size_t first = lineNo_;
        RegValue value;
        std::size_t p = 0;
        if (line[0] == '@') {
            p = 1;
        } else if (const Quoted q = readQuoted(line, p, value.name); q != Quoted::Read) {
            return skip(first, q == Quoted::ZeroEscape ? ZeroEscapeReason
                                                       : "the value name has no closing \"");
        }
        while (p < line.size() && isBlank(line[p]))
            ++p;
        if (p >= line.size() || line[p] != '=')
            return skip(first, "= does not follow the value name");
        ++p;
        while (p < line.size() && isBlank(line[p]))
            ++p;
        const std::string_view data = line.substr(p);
        std::string why;
        ImportStep::Kind kind = ImportStep::SetValue;
        if (!data.empty() && data[0] == '-') {
            if (!endsClean(data, 1))
                return skip(first, "only a comment may follow =-");
            kind = ImportStep::DeleteValue;
        } else if (!data.empty() && data[0] == '"') {
            std::size_t q = 0;
            std::string text;
            if (const Quoted read = readQuoted(data, q, text); read != Quoted::Read)
                return skip(first, read == Quoted::ZeroEscape ? ZeroEscapeReason
                                                              : "the text has no closing \"");
            if (!endsClean(data, q))
                return skip(first, "something other than a ; comment follows the closing \"");
            value.type = RegSz;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
        } else if (startsWithNoCase(data, "dword:")) {
            std::size_t start = 6; // blanks may stand between the colon and the digits
            while (start < data.size() && isBlank(data[start]))
                ++start;
            std::size_t q = start;
            std::uint32_t n = 0;
            while (q < data.size() && hexDigit(data[q]) >= 0 && q < start + 9) {
                n = (n << 4) | static_cast<std::uint32_t>(hexDigit(data[q]));
                ++q;
            }
            if (q == start || q > start + 8 || !endsClean(data, q))
                return skip(first, "dword: needs one to eight hexadecimal digits");
            value.type = RegDword;
            value.data = regtext::dwordBytes(n);
        } else if (startsWithNoCase(data, "hex")) {
            std::size_t q = 3;
            value.type = RegBinary;
            if (q < data.size() && data[q] == '(') {
                std::uint64_t t = 0;
                std::size_t digits = 0;
                for (++q; q < data.size() && hexDigit(data[q]) >= 0 && digits <= 8; ++q, ++digits)
                    t = (t << 4) | static_cast<std::uint64_t>(hexDigit(data[q]));
                if (digits == 0 || digits > 8 || q >= data.size() || data[q] != ')')
                    return skip(first, "hex( needs a type of one to eight hexadecimal digits");
                value.type = static_cast<std::uint32_t>(t);
                ++q;
            }
            if (q >= data.size() || data[q] != ':')
                return skip(first, "the data is not \"text\", dword:, hex:, hex(N): or -");
            if (!readHex(data.substr(q + 1), value.data, why))
                return skip(first, why);
            value.data = textFromHex(value.type, std::move(value.data));
        } else {
            return skip(first, "the data is not \"text\", dword:, hex:, hex(N): or -");
        }
        if (!current_)
            return skip(first, "no key is open: the last key line deleted a key or could not be "
                               "read");
        content_->steps.push_back({kind, current_->hive, current_->path, std::move(value), first});
    }

    // hex(1), hex(2) and hex(7) hold text: UTF-16LE in 5.00 files, the ANSI code page in
    // REGEDIT4 files. The store keeps it as UTF-8; UTF-16 that is not text (an odd last byte, a
    // lone surrogate) is kept in a form that is written back as it came.
    std::vector<std::uint8_t> textFromHex(std::uint32_t type, std::vector<std::uint8_t> bytes) {
        if (type != RegSz && type != RegExpandSz && type != RegMultiSz)
            return bytes;
        std::string text;
        if (format_ == RegFileFormat::Regedit4)
            text = regtext::windows1252ToUtf8(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        else
            text = regtext::textFromUtf16Data(bytes.data(), bytes.size());
        return std::vector<std::uint8_t>(text.begin(), text.end());
    }

    // A comma-separated list of bytes; a line that ends in ",\" (a comment may follow) goes on
    // in the next line that is not blank or a ';' comment, if the file has one.
    bool readHex(std::string_view s, std::vector<std::uint8_t>& out, std::string& why) {
        const char* bad = "the hexadecimal data is not a list of bytes like 0a,ff,\\";
        bool firstLine = true;
        while (true) {
            std::size_t p = 0;
            bool afterComma = true; // an item, the end or (first line only) '\' may come
            bool continues = false;
            while (true) {
                while (p < s.size() && isBlank(s[p]))
                    ++p;
                if (p == s.size() || s[p] == ';')
                    return true;
                if (s[p] == '\\') {
                    const bool atStart = p == 0 || trimLeft(s.substr(0, p)).empty();
                    if (!afterComma || (atStart && !firstLine) || !endsClean(s, p + 1)) {
                        why = bad;
                        return false;
                    }
                    continues = true;
                    break;
                }
                if (!afterComma || hexDigit(s[p]) < 0) {
                    why = bad;
                    return false;
                }
                int v = hexDigit(s[p++]);
                if (p < s.size() && hexDigit(s[p]) >= 0)
                    v = v * 16 + hexDigit(s[p++]);
                if (p < s.size() && hexDigit(s[p]) >= 0) {
                    why = bad;
                    return false;
                }
                out.push_back(static_cast<std::uint8_t>(v));
                if (p < s.size() && s[p] == ',') {
                    ++p;
                    afterComma = true;
                    continue;
                }
                if (!endsClean(s, p)) {
                    why = bad;
                    return false;
                }
                return true;
            }
            if (!continues)
                return true;
            std::string_view next;
            while (true) {
                // A continuation on the file's last line ends the data there: reg.exe stores
                // the bytes read so far.
                if (!nextLine(next))
                    return true;
                next = trimLeft(next);
                if (next.empty() || next[0] == ';')
                    continue;
                if (next[0] == '#') {
                    why = "a # comment stands inside the hexadecimal data";
                    return false;
                }
                break;
            }
            s = next;
            firstLine = false;
        }
    }

    regtext::LineCursor lines_;
    RegFileFormat format_;
    std::size_t lineNo_ = 0;
    RegFileContent* content_ = nullptr;
    std::optional<KeyName> current_;
};

RegFileFormat headerFormat(std::string_view firstLine) {
    const std::string_view line = trimRight(trimLeft(firstLine));
    if (line == "REGEDIT4")
        return RegFileFormat::Regedit4;
    if (line == Version5Header)
        return RegFileFormat::Version5;
    if (line.substr(0, 7) == "REGEDIT")
        return RegFileFormat::Ignored;
    return RegFileFormat::Invalid;
}

} // namespace

RegFileContent readRegFile(std::string_view raw) {
    RegFileContent content;
    std::string decoded;
    std::string_view text = raw;
    bool unicode = false;
    if (raw.size() >= 2 && static_cast<unsigned char>(raw[0]) == 0xFF &&
        static_cast<unsigned char>(raw[1]) == 0xFE) {
        decoded = regtext::utf16ToUtf8(regtext::utf16FromLittleEndian(
            reinterpret_cast<const std::uint8_t*>(raw.data()) + 2, raw.size() - 2));
        text = decoded;
        unicode = true;
    } else if (raw.substr(0, 3) == "\xEF\xBB\xBF") {
        text = raw.substr(3);
        unicode = true;
    }
    content.format = headerFormat(text.substr(0, text.find('\n')));
    if (content.format == RegFileFormat::Invalid || content.format == RegFileFormat::Ignored)
        return content;
    // A file without a byte order mark is in the ANSI code page, unless a 5.00 file is valid
    // UTF-8.
    if (!unicode && (content.format == RegFileFormat::Regedit4 || !regtext::isValidUtf8(text))) {
        decoded = regtext::windows1252ToUtf8(text);
        text = decoded;
    }
    Reader(text, content.format).run(content);
    return content;
}

} // namespace velmar::regtool
