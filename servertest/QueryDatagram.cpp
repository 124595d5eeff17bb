#include "servertest/QueryDatagram.h"

namespace velmar {

const std::array<std::uint8_t, QuerySize> ServerQuery = {
    0x00, 0x00,                         // zero
    0x1A, 0x00,                         // the query's own length, 26, little-endian
    0x11, 0xA2, 0xFF, 0xFF, 0x00, 0x01, // fixed bytes
    // {7C21E94B-5AD3-4F18-B6E0-93A4C5D70E2F} as a GUID lies in memory
    0x4B, 0xE9, 0x21, 0x7C, 0xD3, 0x5A, 0x18, 0x4F, 0xB6, 0xE0, 0x93, 0xA4, 0xC5, 0xD7, 0x0E, 0x2F};

namespace {
constexpr int VersionOffset = 10;
constexpr int SessionNameOffset = 58;
} // namespace

std::optional<ServerReply> ReadServerReply(const std::uint8_t* data, int n) {
    // The server's reply is longer than the query; anything of the query's size or less
    // (the query itself coming back, say) is not one.
    if (n <= QuerySize || !data)
        return std::nullopt;

    ServerReply reply;
    // The version text ends at its zero byte, or at the end of the datagram when it has none.
    for (int i = VersionOffset; i < n && data[i] != 0; ++i)
        reply.version.push_back(static_cast<char>(data[i]));

    // The session name: 16-bit little-endian characters from offset 58, of which the low byte is
    // kept; a last odd byte is ignored. Zero characters stay in the name.
    const int characters = (n - SessionNameOffset) / 2;
    for (int i = 0; i < characters; ++i)
        reply.sessionName.push_back(static_cast<char>(data[SessionNameOffset + 2 * i]));
    return reply;
}

} // namespace velmar
