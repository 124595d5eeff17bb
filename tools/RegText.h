#pragma once
// Text conversions at the edges of the registry store. The store keeps text as UTF-8; .reg
// files carry it as UTF-16LE (5.00) or Windows-1252 (REGEDIT4).
//
// Bytes that are not valid UTF-8 are carried through UTF-16 as the lone low surrogates
// U+DC80..U+DCFF (one per byte) and turned back into the same bytes on the way in, so a name
// or text that can not be decoded survives an export and an import byte for byte.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmar::regtool {

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
std::string windows1252ToUtf8(std::string_view text);
bool isValidUtf8(std::string_view text);

// UTF-16LE bytes <-> code units. An odd last byte is dropped.
std::u16string utf16FromLittleEndian(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> utf16ToLittleEndian(std::u16string_view text);

} // namespace velmar::regtool
