// The PCRE2 calls live alone in this file: glibc's <regex.h> declares the same POSIX names
// (regex_t, regcomp, ...) and must never be seen together with pcre2posix.h, or the wrong
// engine is linked in and `\d` quietly stands for the letter d.
#include "address/DottedQuad.h"

#include <pcre2posix.h>

#include <string>

namespace velmar {

const char* const DottedQuadPattern = "\\d+\\.\\d+\\.\\d+\\.\\d+";

namespace {

// One compiled expression, released with the object. No flags: case-sensitive, ^ and $ anchor
// at the ends of the whole text, offsets wanted.
class CompiledPattern {
public:
    explicit CompiledPattern(const char* pattern)
        : compiled_(pcre2_regcomp(&expression_, pattern, 0) == 0) {}
    ~CompiledPattern() {
        if (compiled_)
            pcre2_regfree(&expression_);
    }
    CompiledPattern(const CompiledPattern&) = delete;
    CompiledPattern& operator=(const CompiledPattern&) = delete;

    // The leftmost match in `text` (up to its first NUL byte), or "" when the pattern did not
    // compile, nothing matches or the engine fails.
    std::string firstMatch(const std::string& text) const {
        if (!compiled_)
            return {};
        regmatch_t slots[2]{};
        // c_str(): the search stops at the first NUL byte of the text.
        if (pcre2_regexec(&expression_, text.c_str(), 2, slots, 0) != 0)
            return {};
        if (slots[0].rm_so < 0 || slots[0].rm_eo < slots[0].rm_so)
            return {};
        const auto start = static_cast<std::string::size_type>(slots[0].rm_so);
        const auto length = static_cast<std::string::size_type>(slots[0].rm_eo - slots[0].rm_so);
        if (start > text.size() || length > text.size() - start)
            return {};
        return text.substr(start, length);
    }

private:
    // regexec keeps its match data inside the compiled expression, so an expression is used by
    // one thread at a time: each thread keeps its own.
    mutable regex_t expression_{};
    bool compiled_;
};

} // namespace

std::string FindFirstMatch(const std::string& text, const std::string& pattern) {
    try {
        // The update handlers ask for the dotted quad on every idle pass: it is compiled once,
        // on first use, and kept for the life of the program (of the calling thread).
        if (pattern == DottedQuadPattern) {
            thread_local const CompiledPattern dottedQuad(DottedQuadPattern);
            return dottedQuad.firstMatch(text);
        }
        return CompiledPattern(pattern.c_str()).firstMatch(text);
    } catch (...) {
        // Only an allocation of the result can throw; the caller wants "" rather than an error.
        return {};
    }
}

} // namespace velmar
