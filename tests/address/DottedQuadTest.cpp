#include "address/DottedQuad.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace velmar {
namespace {

std::string Quad(const std::string& text) {
    return FindFirstMatch(text, DottedQuadPattern);
}

TEST(DottedQuad, PatternIsFourDigitRunsJoinedByDots) {
    EXPECT_STREQ(DottedQuadPattern, "\\d+\\.\\d+\\.\\d+\\.\\d+");
}

TEST(DottedQuad, BackslashDIsADigitAndNotTheLetterD) {
    // An engine that reads \d as a plain "d" (a POSIX-only one) would match here.
    EXPECT_EQ(Quad("d.d.d.d"), "");
    EXPECT_EQ(Quad("dd.d.d.d 5.6.7.8"), "5.6.7.8");
    EXPECT_EQ(FindFirstMatch("abc 7 def", "\\d"), "7");
}

TEST(DottedQuad, WholeAndSurroundedAddresses) {
    EXPECT_EQ(Quad(""), "");
    EXPECT_EQ(Quad("192.168.0.10"), "192.168.0.10");
    EXPECT_EQ(Quad("  192.168.0.10 \t"), "192.168.0.10");
    EXPECT_EQ(Quad("Your address: 84.133.2.17 (cached)"), "84.133.2.17");
    EXPECT_EQ(Quad("a12.34.56.78b"), "12.34.56.78");
    EXPECT_EQ(Quad("first 1.1.1.1 then 2.2.2.2"), "1.1.1.1");
}

TEST(DottedQuad, RunsOfNumbers) {
    EXPECT_EQ(Quad("1.2.3.4.5"), "1.2.3.4");
    EXPECT_EQ(Quad("10.0.0"), "");
    EXPECT_EQ(Quad("1..2.3.4"), "");
    EXPECT_EQ(Quad("1..2.3.4.5"), "2.3.4.5");
    EXPECT_EQ(Quad("300.400.500.600"), "300.400.500.600");
    EXPECT_EQ(Quad("0001.2.3.4"), "0001.2.3.4");
    EXPECT_EQ(Quad("123456789012.3.4.5"), "123456789012.3.4.5");
    EXPECT_EQ(Quad("1.2.3."), "");
}

TEST(DottedQuad, TextsWithoutAnAddress) {
    EXPECT_EQ(Quad("server.example.org"), "");
    EXPECT_EQ(Quad("ABC.def.GHI.jkl"), "");
    EXPECT_EQ(Quad("fe80::1:2:3:4"), "");
    EXPECT_EQ(Quad("2001:db8::1"), "");
    EXPECT_EQ(Quad("1,2,3,4"), "");
    // Digits of other scripts are not ASCII digits (Arabic-Indic digits in UTF-8).
    EXPECT_EQ(Quad("\xd9\xa1.\xd9\xa2.\xd9\xa3.\xd9\xa4"), "");
}

TEST(DottedQuad, SearchEndsAtTheFirstNulByte) {
    EXPECT_EQ(Quad(std::string("see\0 84.133.2.17", 16)), "");
    EXPECT_EQ(Quad(std::string("84.133.2.17\0 9.9.9.9", 20)), "84.133.2.17");
    EXPECT_EQ(Quad(std::string("84.133\0.2.17", 12)), "");
}

TEST(DottedQuad, NonAsciiBytesAroundTheAddressAreKept) {
    // Text in a single-byte code page (ISO-8859-1 "Ihre Adresse für ..."): bytes, no UTF-8.
    EXPECT_EQ(Quad("f\xfcr\xa0"
                   "84.133.2.17\xe4"),
              "84.133.2.17");
}

TEST(DottedQuad, PatternThatDoesNotCompileGivesEmpty) {
    EXPECT_EQ(FindFirstMatch("1.2.3.4", "("), "");
    EXPECT_EQ(FindFirstMatch("1.2.3.4", "\\d+["), "");
    EXPECT_EQ(FindFirstMatch("aaa", "a{2,1}"), "");
}

TEST(DottedQuad, OtherPatternsFollowPerlRules) {
    // No flags: case-sensitive, ^ and $ at the ends of the whole text.
    EXPECT_EQ(FindFirstMatch("Velmar", "velmar"), "");
    EXPECT_EQ(FindFirstMatch("one\ntwo", "^two"), "");
    EXPECT_EQ(FindFirstMatch("one\ntwo", "two$"), "two");
    // The empty pattern matches the empty string at the start.
    EXPECT_EQ(FindFirstMatch("abc", ""), "");
    // A group does not change what is returned: the whole match.
    EXPECT_EQ(FindFirstMatch("xx 10.0.0.1 yy", "(\\d+)\\.\\d+\\.\\d+\\.\\d+"), "10.0.0.1");
    EXPECT_EQ(FindFirstMatch("abcabc", "b(c)"), "bc");
}

TEST(DottedQuad, LongTextsAreSearchedToTheEnd) {
    std::string text(100000, 'x');
    text += "10.20.30.40";
    EXPECT_EQ(Quad(text), "10.20.30.40");
    std::string digits(50000, '7');
    EXPECT_EQ(Quad(digits + "." + digits + ".1.2"), digits + "." + digits + ".1.2");
}

TEST(DottedQuad, KeptPatternAnswersLikeAFreshOneCallAfterCall) {
    // The dotted quad stays compiled between calls; other patterns, failing ones included,
    // come in between without changing its answers or theirs.
    const std::string samePatternText(DottedQuadPattern);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(Quad("a 1.2.3.4 b"), "1.2.3.4");
        EXPECT_EQ(FindFirstMatch("x 9.8.7.6", samePatternText), "9.8.7.6");
        EXPECT_EQ(FindFirstMatch("1.2.3.4", "("), "");
        EXPECT_EQ(Quad("10.0.0"), "");
        EXPECT_EQ(FindFirstMatch("abc 7 def", "\\d"), "7");
        EXPECT_EQ(Quad(std::string("84.133\0.2.17", 12)), "");
        EXPECT_EQ(Quad("0001.2.3.4"), "0001.2.3.4");
    }
}

TEST(DottedQuad, KeptPatternRunAsMachineCodeAnswersLikeTheInterpreter) {
    // The kept dotted quad runs as PCRE2's machine code; a pattern that means the same but is
    // spelled differently is compiled per call and interpreted. Texts made of digits, dots and
    // other bytes (NUL and non-ASCII included) must get the same answer from both.
    const std::string interpreted = "\\d+\\.\\d+\\.\\d+\\.\\d+(?:)";
    // Runs of digits, mostly joined by single dots, sometimes by something else.
    const std::string numbers[] = {"1", "23", "0", "456", "0789", "x"};
    const std::string joins[] = {
        ".", ".", ".", ".", ".", ".", "..", "a", " ", std::string(1, '\0'), "\xC3\xA9", ""};
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    int matches = 0;
    for (int i = 0; i < 3000; ++i) {
        std::string text;
        for (std::uint32_t n = next() % 13; n > 0; --n)
            text += numbers[next() % std::size(numbers)] + joins[next() % std::size(joins)];
        const std::string kept = Quad(text);
        ASSERT_EQ(kept, FindFirstMatch(text, interpreted)) << i;
        matches += kept.empty() ? 0 : 1;
    }
    EXPECT_GT(matches, 300); // the texts are not all without an address
}

TEST(DottedQuad, ThreadsMatchAtTheSameTimeWithoutMixingResults) {
    // Every thread searches its own texts; a match slot shared between threads would hand one
    // thread the offsets of another's text.
    auto worker = [](int id, int& wrong) {
        const std::string address = std::to_string(id) + ".0.0." + std::to_string(id);
        const std::string text = std::string(static_cast<std::size_t>(id) * 3, 'x') + address;
        for (int i = 0; i < 2000; ++i) {
            if (Quad(text) != address || Quad("no address") != "")
                ++wrong;
        }
    };
    std::vector<int> wrong(4, 0);
    std::vector<std::thread> threads;
    for (int id = 0; id < 4; ++id)
        threads.emplace_back(worker, id + 1, std::ref(wrong[static_cast<std::size_t>(id)]));
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

} // namespace
} // namespace velmar
