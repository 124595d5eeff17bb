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

#include "platform/files/RegularFile.h"
#include "platform/regtext/RegSyntax.h"
#include "platform/regtext/TextEncoding.h"

#include <QString>

#include <cstdint>
#include <algorithm>

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

// What the reader keeps in memory at most: a line (longer ones are read past and count as
// unreadable values), the text of one value with its continuation lines, and all of the key's
// values together. A file is read up to the key and not beyond MaxFileBytes: a real system.reg
// is a few megabytes.
constexpr std::size_t MaxLine = std::size_t(1) << 20;
constexpr std::size_t MaxValueText = std::size_t(1) << 20;
constexpr std::size_t MaxKeyText = std::size_t(16) << 20;
constexpr std::size_t MaxFileBytes = std::size_t(256) << 20;

// Takes a registry file line by line, finds the key and collects its values; it needs no line
// after the key.
class KeyScanner {
public:
    explicit KeyScanner(const std::string& keyPath) : keyPath_(keyPath) {}

    // One line without its line break; `cut` when only its start is given (it was too long),
    // `last` its last character then. False once no further line is needed.
    bool line(std::string_view text, bool cut, char last) {
        switch (state_) {
        case State::Signature:
            state_ = text.substr(0, Signature.size()) == Signature ? State::Searching
                                                                   : State::NotRegistry;
            return state_ == State::Searching;
        case State::Searching:
            if (!cut && !text.empty() && text.front() == '[') {
                std::size_t at = 1;
                std::u16string name;
                if (unescape(text, at, ']', name) && sameKeyName(name, keyPath_))
                    state_ = State::InKey;
            }
            return true;
        case State::InKey:
            return keyLine(text, cut, last);
        case State::NotRegistry:
        case State::Done:
        case State::TooLarge:
            break;
        }
        return false;
    }

    // At the end of the file.
    void finish() {
        if (continued_) {
            joined_ += '\\'; // a continuation with nothing after it: the value is incomplete
            value();
        }
        if (state_ == State::InKey)
            state_ = State::Done;
    }

    bool isRegistry() const { return state_ != State::NotRegistry && state_ != State::Signature; }
    bool tooLarge() const { return state_ == State::TooLarge; }
    std::optional<std::vector<RegValue>> values() {
        if (state_ != State::Done)
            return std::nullopt;
        return std::move(values_);
    }

private:
    enum class State { Signature, Searching, InKey, Done, NotRegistry, TooLarge };

    bool keyLine(std::string_view text, bool cut, char last) {
        const bool continues = cut ? last == '\\' : !text.empty() && text.back() == '\\';
        if (continued_) {
            // A continuation line goes on from its first non-blank character.
            const std::size_t first = text.find_first_not_of(" \t");
            if (cut || joined_.size() + text.size() > MaxValueText)
                joinedCut_ = true;
            else if (first != std::string_view::npos)
                joined_ += text.substr(first);
        } else {
            if (!cut && (text.empty() || text.front() == '[')) {
                state_ = State::Done; // the key ends with a blank line (or the next key)
                return false;
            }
            if (!cut && (text.front() == '#' || text.front() == ';'))
                return true;
            joined_.assign(cut ? std::string_view() : text);
            joinedCut_ = cut;
        }
        continued_ = continues;
        if (continued_) {
            if (!joined_.empty() && joined_.back() == '\\')
                joined_.pop_back();
            return true;
        }
        value();
        if (keyText_ > MaxKeyText) {
            state_ = State::TooLarge;
            return false;
        }
        return true;
    }

    // The value line collected in joined_.
    void value() {
        continued_ = false;
        if (joinedCut_ || joined_.empty())
            return; // a value too long to keep is left out, as one this reader does not know
        std::size_t at = 0;
        std::u16string name;
        if (joined_.front() == '@') {
            at = 1;
        } else if (joined_.front() == '"') {
            at = 1;
            if (!unescape(joined_, at, '"', name))
                return;
        } else {
            return;
        }
        if (at >= joined_.size() || joined_[at] != '=')
            return;
        auto parsed = parseData(std::string_view(joined_).substr(at + 1));
        if (!parsed)
            return; // a value this reader does not understand is left out, not guessed at
        parsed->name = utf16ToUtf8(name);
        keyText_ += joined_.size();
        values_.push_back(std::move(*parsed));
    }

    const std::string& keyPath_;
    State state_ = State::Signature;
    std::vector<RegValue> values_;
    std::string joined_;
    bool joinedCut_ = false;
    bool continued_ = false;
    std::size_t keyText_ = 0;
};

} // namespace

std::optional<std::vector<RegValue>> parseRegistryKey(std::string_view text,
                                                      const std::string& keyPath) {
    KeyScanner scanner(keyPath);
    regtext::LineCursor lines(text);
    std::string_view line;
    while (lines.next(line))
        if (!scanner.line(line, false, 0))
            break;
    scanner.finish();
    return scanner.values();
}

std::optional<std::vector<RegValue>>
readRegistryKey(const std::string& file, const std::string& keyPath, std::string& error) {
    error.clear();
    files::RegularFile in(file);
    if (!in.isOpen()) {
        if (!in.missing())
            error = in.error();
        return std::nullopt;
    }
    KeyScanner scanner(keyPath);
    // Lines are cut out of a buffer of the file; a line longer than MaxLine is read past, only
    // its start kept.
    std::vector<char> buffer(std::size_t(64) << 10);
    std::string line;
    bool cut = false;
    char last = 0; // the line's last two characters, which a cut line no longer holds
    char beforeLast = 0;
    std::size_t total = 0;
    bool more = true;
    bool needed = true;
    auto endLine = [&] {
        if (!cut && !line.empty() && line.back() == '\r')
            line.pop_back();
        needed = scanner.line(line, cut, last == '\r' ? beforeLast : last);
        line.clear();
        cut = false;
        last = beforeLast = 0;
    };
    while (more && needed) {
        const long n = in.read(buffer.data(), buffer.size());
        if (n < 0) {
            error = in.error();
            return std::nullopt;
        }
        more = n > 0;
        total += static_cast<std::size_t>(n);
        if (total > MaxFileBytes) {
            error = file + " is larger than " + std::to_string(MaxFileBytes >> 20) +
                    " MiB without the end of the key " + keyPath +
                    ": no Wine registry is that large";
            return std::nullopt;
        }
        std::string_view chunk(buffer.data(), static_cast<std::size_t>(n));
        while (needed && !chunk.empty()) {
            const std::size_t end = chunk.find('\n');
            const std::string_view piece = chunk.substr(0, end);
            if (piece.size() >= 2)
                beforeLast = piece[piece.size() - 2];
            else if (!piece.empty())
                beforeLast = last;
            if (!piece.empty())
                last = piece.back();
            if (cut || line.size() + piece.size() > MaxLine) {
                cut = true;
                std::string().swap(line);
            } else {
                line.append(piece);
            }
            if (end == std::string_view::npos)
                break;
            chunk.remove_prefix(end + 1);
            endLine();
        }
        if (!more && needed && (!line.empty() || cut))
            endLine();
    }
    scanner.finish();
    if (scanner.tooLarge())
        error = "the key " + keyPath + " of " + file + " holds more than " +
                std::to_string(MaxKeyText >> 20) + " MiB of values: no game key is that large";
    return scanner.values();
}

std::optional<std::vector<RegValue>> readRegistryKey(const std::string& file,
                                                     const std::string& keyPath) {
    std::string error;
    return readRegistryKey(file, keyPath, error);
}

} // namespace velmar::wine
