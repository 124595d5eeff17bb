// The PCRE2 calls live alone in this file: glibc's <regex.h> declares the same POSIX names
// (regex_t, regcomp, ...) and must never be seen together with pcre2posix.h, or the wrong
// engine is linked in and `\d` quietly stands for the letter d.
#include "address/DottedQuad.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#include <pcre2posix.h>

#include <string>
#include <string_view>

namespace velmar {

namespace {
// With its length known, a pattern is told apart from it without a strlen.
constexpr std::string_view dottedQuadText = "\\d+\\.\\d+\\.\\d+\\.\\d+";
} // namespace

const char* const DottedQuadPattern = dottedQuadText.data();

namespace {

// One compiled expression, released with the object. No flags: case-sensitive, ^ and $ anchor
// at the ends of the whole text, offsets wanted.
class CompiledPattern {
public:
    // `translate` also turns the compiled expression into machine code, which regexec then runs
    // in place of PCRE2's interpreter: the same matches, but a search touches a few hundred bytes
    // of code instead of many pages of the interpreter. Worth it only for an expression that is
    // kept. Where PCRE2 has no JIT (or may not map executable memory) the interpreter stays.
    explicit CompiledPattern(const char* pattern, bool translate = false)
        : compiled_(pcre2_regcomp(&expression_, pattern, 0) == 0) {
        if (compiled_ && translate)
            pcre2_jit_compile(static_cast<pcre2_code*>(expression_.re_pcre2_code),
                              PCRE2_JIT_COMPLETE);
    }
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
        if (std::string_view(pattern) == dottedQuadText) {
            thread_local const CompiledPattern dottedQuad(DottedQuadPattern, true);
            return dottedQuad.firstMatch(text);
        }
        return CompiledPattern(pattern.c_str()).firstMatch(text);
    } catch (...) {
        // Only an allocation of the result can throw; the caller wants "" rather than an error.
        return {};
    }
}

} // namespace velmar
