#pragma once
// The pieces of text syntax that .reg files and a Wine prefix's registry files share: lines
// ending in LF or CRLF, hexadecimal digits, and a DWORD's data as the registry stores it.
// Each reader keeps its own rules on top (what a line may hold, which escapes a string has).
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace velmar::regtext {

// The value of a hexadecimal digit (either case), or -1 when `c` is not one.
int hexDigit(char c);

// The four little-endian bytes of a DWORD, as REG_DWORD data holds them.
std::vector<std::uint8_t> dwordBytes(std::uint32_t n);

// The lines of a text, one after the other, each without its "\n" or "\r\n". A text that ends
// with a line break has no empty line after it.
class LineCursor {
public:
    explicit LineCursor(std::string_view text) : text_(text) {}

    // The next line; false when the text is used up.
    bool next(std::string_view& line);

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

} // namespace velmar::regtext
