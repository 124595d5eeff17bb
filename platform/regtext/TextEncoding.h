#pragma once
// Text conversions at the edges of the registry: the store keeps text as UTF-8; .reg files
// carry it as UTF-16LE (5.00) or Windows-1252 (REGEDIT4), a Wine prefix's registry files hold
// strings as UTF-16 data. Plain C++, no Qt, so the readers built on it can be fuzzed alone.
//
// Bytes that are not valid UTF-8 are carried through UTF-16 as the lone low surrogates
// U+DC80..U+DCFF (one per byte) and turned back into the same bytes on the way in, so a name
// or text that can not be decoded survives an export and an import byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar::regtext {

// Decodes one UTF-8 sequence at text[i]; returns its length, or 0 when it is not valid
// (overlong forms, surrogates and values past U+10FFFF are not valid).
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& cp);
void appendUtf8(std::string& out, char32_t cp);
bool isValidUtf8(std::string_view text);

// What utf16ToUtf8 makes of a unit of a broken surrogate pair.
enum class LoneSurrogates {
    KeepBytes, // U+DC80..U+DCFF become the byte they carry (see above), the others U+FFFD
    Replace,   // every one becomes U+FFFD
};

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text, LoneSurrogates lone = LoneSurrogates::KeepBytes);
std::string windows1252ToUtf8(std::string_view text);

// UTF-16LE bytes <-> code units. An odd last byte is dropped.
std::u16string utf16FromLittleEndian(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> utf16ToLittleEndian(std::u16string_view text);

} // namespace velmar::regtext
