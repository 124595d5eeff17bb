#include "platform/regtext/TextEncoding.h"

namespace velmar::regtext {

std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) {
        return static_cast<unsigned char>(text[k]);
    };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool isValidUtf8(std::string_view text) {
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = decodeUtf8(text, i, cp);
        if (len == 0)
            return false;
        i += len;
    }
    return true;
}

namespace {

bool isHighSurrogate(char16_t u) {
    return u >= 0xD800 && u <= 0xDBFF;
}
bool isLowSurrogate(char16_t u) {
    return u >= 0xDC00 && u <= 0xDFFF;
}

// The three-byte form of a surrogate unit at text[i] (ED A0..BF 80..BF), other than one of
// U+DC80..U+DCFF, which stand for bytes. 0 when there is none.
char16_t surrogateForm(std::string_view text, std::size_t i) {
    if (i + 3 > text.size() || static_cast<unsigned char>(text[i]) != 0xED)
        return 0;
    const auto b1 = static_cast<unsigned char>(text[i + 1]);
    const auto b2 = static_cast<unsigned char>(text[i + 2]);
    if (b1 < 0xA0 || b1 > 0xBF || (b2 & 0xC0) != 0x80)
        return 0;
    const auto unit = static_cast<char16_t>(0xD000 | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
    return unit >= 0xDC80 && unit <= 0xDCFF ? 0 : unit;
}

// An odd last byte of UTF-16 data is kept at the end of the text as the four-byte form of
// U+110000 plus the byte: no UTF-16 text makes that sequence, which is not UTF-8.
constexpr unsigned char OddByteLead[2] = {0xF4, 0x90};

} // namespace

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    // Units that stand for a lone surrogate; such a high one is written as the bytes it is made
    // of when a low unit follows it, so that the two do not become a pair on the way back.
    struct Lone {
        std::size_t unit;
        std::size_t byte;
    };
    std::vector<Lone> highs;
    char32_t cp = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t len = decodeUtf8(text, i, cp);
        if (len == 0) {
            if (const char16_t unit = surrogateForm(text, i)) {
                if (isHighSurrogate(unit))
                    highs.push_back({out.size(), i});
                out += unit;
                i += 3;
                continue;
            }
            out += static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(text[i]));
            ++i;
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (cp >> 10));
            out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    if (highs.empty())
        return out;
    // From the end: a high unit followed by a low one, or by a high one that became bytes (low
    // units), becomes bytes itself.
    std::vector<bool> asBytes(highs.size(), false);
    for (std::size_t k = highs.size(); k-- > 0;) {
        const std::size_t next = highs[k].unit + 1;
        if (next >= out.size())
            continue;
        asBytes[k] = isLowSurrogate(out[next]) ||
                     (k + 1 < highs.size() && highs[k + 1].unit == next && asBytes[k + 1]);
    }
    std::u16string result;
    result.reserve(out.size() + 2 * highs.size());
    std::size_t from = 0;
    for (std::size_t k = 0; k < highs.size(); ++k) {
        if (!asBytes[k])
            continue;
        result.append(out, from, highs[k].unit - from);
        for (std::size_t b = 0; b < 3; ++b)
            result +=
                static_cast<char16_t>(0xDC00 | static_cast<unsigned char>(text[highs[k].byte + b]));
        from = highs[k].unit + 1;
    }
    result.append(out, from, std::u16string::npos);
    return result;
}

std::string utf16ToUtf8(std::u16string_view text, LoneSurrogates lone) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (isHighSurrogate(u) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            appendUtf8(out, 0x10000 + ((char32_t(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (lone == LoneSurrogates::KeepBytes && u >= 0xDC80 && u <= 0xDCFF) {
            out += static_cast<char>(u & 0xFF); // a byte that was not UTF-8
        } else if (lone == LoneSurrogates::KeepBytes && u >= 0xD800 && u <= 0xDFFF) {
            // The three-byte form of the unit itself, which utf8ToUtf16 reads back as it.
            out += static_cast<char>(0xED);
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

std::string textFromUtf16Data(const std::uint8_t* data, std::size_t size) {
    std::string text = utf16ToUtf8(utf16FromLittleEndian(data, size));
    if (size % 2) {
        const std::uint8_t odd = data[size - 1];
        text += static_cast<char>(OddByteLead[0]);
        text += static_cast<char>(OddByteLead[1]);
        text += static_cast<char>(0x80 | (odd >> 6));
        text += static_cast<char>(0x80 | (odd & 0x3F));
    }
    return text;
}

std::vector<std::uint8_t> utf16DataFromText(std::string_view text) {
    const std::size_t n = text.size();
    const auto at = [&](std::size_t k) {
        return static_cast<unsigned char>(text[k]);
    };
    if (n >= 4 && at(n - 4) == OddByteLead[0] && at(n - 3) == OddByteLead[1] &&
        (at(n - 2) & 0xFC) == 0x80 && (at(n - 1) & 0xC0) == 0x80) {
        std::vector<std::uint8_t> data = utf16ToLittleEndian(utf8ToUtf16(text.substr(0, n - 4)));
        data.push_back(static_cast<std::uint8_t>(((at(n - 2) & 0x03) << 6) | (at(n - 1) & 0x3F)));
        return data;
    }
    return utf16ToLittleEndian(utf8ToUtf16(text));
}

std::string windows1252ToUtf8(std::string_view text) {
    // 0x80..0x9F of Windows-1252; the five unassigned positions map to the C1 controls, as
    // Windows' own conversion does.
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 && b < 0xA0)
            appendUtf8(out, high[b - 0x80]);
        else
            appendUtf8(out, b);
    }
    return out;
}

std::u16string utf16FromLittleEndian(const std::uint8_t* data, std::size_t size) {
    std::u16string out;
    out.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        out += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    return out;
}

std::vector<std::uint8_t> utf16ToLittleEndian(std::u16string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (char16_t u : text) {
        out.push_back(static_cast<std::uint8_t>(u & 0xFF));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
    }
    return out;
}

} // namespace velmar::regtext
