#include "servertest/QueryDatagram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

using namespace velmar;

namespace {

// Reads `bytes` from a heap block of exactly their size, so a read past the end is caught by
// the address sanitizer.
std::optional<ServerReply> readExact(const std::vector<std::uint8_t>& bytes) {
    const int n = static_cast<int>(bytes.size());
    if (n == 0)
        return ReadServerReply(nullptr, 0);
    auto block = std::make_unique<std::uint8_t[]>(bytes.size());
    std::memcpy(block.get(), bytes.data(), bytes.size());
    return ReadServerReply(block.get(), n);
}

std::vector<std::uint8_t> reply(std::size_t n, std::uint8_t fill = 'x') {
    return std::vector<std::uint8_t>(n, fill);
}

} // namespace

TEST(ServerQuery, IsTheFixedTwentySixBytes) {
    const std::uint8_t expected[] = {0x00, 0x00, 0x1A, 0x00, 0x11, 0xA2, 0xFF, 0xFF, 0x00,
                                     0x01, 0x4B, 0xE9, 0x21, 0x7C, 0xD3, 0x5A, 0x18, 0x4F,
                                     0xB6, 0xE0, 0x93, 0xA4, 0xC5, 0xD7, 0x0E, 0x2F};
    static_assert(sizeof expected == QuerySize);
    EXPECT_TRUE(std::equal(ServerQuery.begin(), ServerQuery.end(), std::begin(expected)));
    EXPECT_EQ(ServerQuery[2] | (ServerQuery[3] << 8), QuerySize);
    EXPECT_EQ(ServerPort, 53917);
}

TEST(ServerReplyReading, ShortDatagramsAndFailedReceivesAreNoReply) {
    EXPECT_FALSE(ReadServerReply(nullptr, -1));
    EXPECT_FALSE(ReadServerReply(nullptr, 0));
    EXPECT_FALSE(readExact(reply(1)));
    EXPECT_FALSE(readExact(reply(26)));
    // The query itself coming back.
    EXPECT_FALSE(readExact(std::vector<std::uint8_t>(ServerQuery.begin(), ServerQuery.end())));
    EXPECT_TRUE(readExact(reply(27)));
}

TEST(ServerReplyReading, VersionTextEndsAtItsZeroByte) {
    auto bytes = reply(27, 'q');
    bytes[10] = 0;
    auto r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->version, "");
    EXPECT_EQ(r->sessionName, "");

    bytes = reply(40, 0);
    const char version[] = "1.07b";
    std::memcpy(bytes.data() + 10, version, 5);
    bytes[16] = 'z'; // after the zero byte: not part of it
    bytes[0] = 'a';  // before offset 10: not examined
    r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->version, "1.07b");

    // High ANSI bytes pass as they are.
    bytes = reply(30, 0);
    bytes[10] = 0xE4;
    bytes[11] = 0xFF;
    r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->version, "\xE4\xFF");
}

TEST(ServerReplyReading, VersionWithoutZeroEndsAtTheDatagramsEnd) {
    // No zero byte anywhere after offset 10: the text is cut at the last received byte.
    auto r = readExact(reply(27, 'v'));
    ASSERT_TRUE(r);
    EXPECT_EQ(r->version, std::string(17, 'v'));

    // It runs on past offset 58 into the session name, which is still read from 58.
    auto bytes = reply(64, 'v');
    bytes[58] = 'A';
    bytes[60] = 'b';
    bytes[62] = 'c';
    r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->version.size(), 54u);
    EXPECT_EQ(r->version.substr(48), "Avbvcv");
    EXPECT_EQ(r->sessionName, "Abc");
}

TEST(ServerReplyReading, SessionNameLengthFollowsTheDatagramSize) {
    auto bytes = reply(59, 0);
    bytes[58] = 'N';
    auto r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sessionName, "");

    bytes = reply(60, 0);
    bytes[58] = 'N';
    bytes[59] = 0x01;
    r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sessionName, "N");

    // The odd last byte of a 61-byte reply is not read.
    bytes = reply(61, 0);
    bytes[58] = 'N';
    bytes[60] = 'X';
    r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sessionName, "N");

    for (int n : {27, 40, 57, 58}) {
        r = readExact(reply(static_cast<std::size_t>(n)));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->sessionName, "") << n;
    }
}

TEST(ServerReplyReading, SessionNameKeepsLowBytesAndZeros) {
    auto bytes = reply(64, 0);
    const std::uint8_t name[] = {0x41, 0x00, 0x62, 0x00, 0x63, 0x00};
    std::memcpy(bytes.data() + 58, name, sizeof name);
    auto r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sessionName, "Abc");

    // U+0141 reads as its low byte, 'A'; a zero character stays in the name.
    const std::uint8_t wide[] = {0x41, 0x01, 0x00, 0x00, 0x7A, 0x00};
    std::memcpy(bytes.data() + 58, wide, sizeof wide);
    r = readExact(bytes);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->sessionName, std::string("A\0z", 3));
}

TEST(ServerReplyReading, EveryLengthWithRandomContentsStaysInsideTheDatagram) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> sparse(0, 15);
    for (int n = 0; n <= 2049; ++n) {
        for (int round = 0; round < 3; ++round) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(n));
            for (auto& b : bytes) // round 0: zeros are rare, so texts run to the end
                b = static_cast<std::uint8_t>(
                    round == 0 ? (sparse(random) ? 1 + byte(random) % 255 : 0) : byte(random));
            const auto r = readExact(bytes);
            if (n <= QuerySize) {
                EXPECT_FALSE(r) << n;
                continue;
            }
            ASSERT_TRUE(r) << n;
            const auto zero = std::find(bytes.begin() + 10, bytes.end(), 0);
            EXPECT_EQ(r->version, std::string(bytes.begin() + 10, zero)) << n;
            const std::size_t chars = n >= 60 ? static_cast<std::size_t>((n - 58) / 2) : 0;
            ASSERT_EQ(r->sessionName.size(), chars) << n;
            for (std::size_t i = 0; i < chars; ++i)
                ASSERT_EQ(static_cast<std::uint8_t>(r->sessionName[i]), bytes[58 + 2 * i]) << n;
        }
    }
}
