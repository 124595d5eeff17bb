#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace velmar {

constexpr int ServerPort = 53917;
constexpr int QuerySize = 26;

// The server query: the same 26 bytes every time.
extern const std::array<std::uint8_t, QuerySize> ServerQuery;

struct ServerReply {
    std::string version;     // ANSI bytes from offset 10 up to the first zero byte
    std::string sessionName; // low bytes of the 16-bit characters from offset 58; may hold zeros
};

// Reads a received datagram of `n` bytes. A datagram of 26 bytes or fewer (or a failed receive,
// n <= 0) is no reply. Never reads past data[n - 1].
std::optional<ServerReply> ReadServerReply(const std::uint8_t* data, int n);

} // namespace velmar
