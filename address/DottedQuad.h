#pragma once
#include <string>

namespace velmar {

// Four runs of decimal digits joined by single dots, anywhere in a text.
extern const char* const DottedQuadPattern;

// The leftmost match of `pattern` (Perl syntax, through PCRE2) in `text`, byte for byte, or ""
// when the pattern does not compile or nothing matches. The text is searched up to its first
// NUL byte. Never raises.
std::string FindFirstMatch(const std::string& text, const std::string& pattern);

} // namespace velmar
