#pragma once
// Text conversions at the edges of the registry: the store keeps text as UTF-8; .reg files
// carry it as UTF-16LE (5.00) or Windows-1252 (REGEDIT4), a Wine prefix's registry files hold
// strings as UTF-16 data. Plain C++, no Qt, so the readers built on it can be fuzzed alone.
//
// Bytes that are not valid UTF-8 are carried through UTF-16 as the lone low surrogates
// U+DC80..U+DCFF (one per byte) and turned back into the same bytes on the way in, so a name
// or text that can not be decoded survives an export and an import byte for byte.
// The other way round, a lone surrogate in UTF-16 text made on Windows is kept in the store as
// the three-byte form of the unit (ED A0..BF 80..BF, not UTF-8) and written back as that unit,
// so such text survives an import and an export unit for unit.
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
    KeepBytes, // U+DC80..U+DCFF become the byte they carry, the others their three-byte form
    Replace,   // every one becomes U+FFFD
};

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text, LoneSurrogates lone = LoneSurrogates::KeepBytes);
std::string windows1252ToUtf8(std::string_view text);

// Windows' string data (UTF-16LE bytes, as hex(1), hex(2) and hex(7) hold it) as the store
// keeps text, and back: exact both ways, an odd last byte included (it is kept at the end of
// the text in a form no UTF-16 makes).
std::string textFromUtf16Data(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> utf16DataFromText(std::string_view text);

// UTF-16LE bytes <-> code units. An odd last byte is dropped.
std::u16string utf16FromLittleEndian(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> utf16ToLittleEndian(std::u16string_view text);

} // namespace velmar::regtext
