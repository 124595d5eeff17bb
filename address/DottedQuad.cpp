// The PCRE2 calls live alone in this file: glibc's <regex.h> declares the same POSIX names
// (regex_t, regcomp, ...) and must never be seen together with pcre2posix.h, or the wrong
// engine is linked in and `\d` quietly stands for the letter d.
#include "address/DottedQuad.h"

#include <pcre2posix.h>

#include <string>

namespace velmar {

const char* const DottedQuadPattern = "\\d+\\.\\d+\\.\\d+\\.\\d+";

std::string FindFirstMatch(const std::string& text, const std::string& pattern) {
    try {
        regex_t expression{};
        // No flags: case-sensitive, ^ and $ anchor at the ends of the whole text, offsets wanted.
        if (pcre2_regcomp(&expression, pattern.c_str(), 0) != 0)
            return {};

        regmatch_t slots[2]{};
        // c_str(): the search stops at the first NUL byte of the text.
        const int result = pcre2_regexec(&expression, text.c_str(), 2, slots, 0);
        pcre2_regfree(&expression);

        if (result != 0 || slots[0].rm_so < 0 || slots[0].rm_eo < slots[0].rm_so)
            return {};
        const auto start = static_cast<std::string::size_type>(slots[0].rm_so);
        const auto length = static_cast<std::string::size_type>(slots[0].rm_eo - slots[0].rm_so);
        if (start > text.size() || length > text.size() - start)
            return {};
        return text.substr(start, length);
    } catch (...) {
        // Only an allocation of the result can throw; the caller wants "" rather than an error.
        return {};
    }
}

} // namespace velmar
