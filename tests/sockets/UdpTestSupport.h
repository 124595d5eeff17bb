#pragma once
// Helpers for the socket tests: a plain UDP socket on 127.0.0.1 playing the other end, a free
// port for an endpoint to bind, and waiting on the Qt event loop.
#include "tests/support/ScriptedDialogs.h"

#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmar::test {

struct Datagram {
    std::vector<std::uint8_t> bytes;
    int fromPort = 0;
    std::uint32_t fromAddr = 0; // host order
};

class UdpPeer {
public:
    // Bound to 127.0.0.1:port (0: a port the system picks).
    explicit UdpPeer(int port = 0) {
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            throw std::runtime_error("socket");
        int big = 1 << 20;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<std::uint16_t>(port));
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~UdpPeer() { ::close(fd_); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;

    bool bound() const { return bound_; }
    int port() const {
        sockaddr_in a{};
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        return ntohs(a.sin_port);
    }
    void sendTo(int port, const std::vector<std::uint8_t>& bytes) const {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        to.sin_port = htons(static_cast<std::uint16_t>(port));
        if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                     sizeof to) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("sendto");
    }
    // Waits up to `ms` for one datagram.
    std::optional<Datagram> receive(int ms = 2000) const {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return std::nullopt;
        Datagram d;
        d.bytes.resize(70000);
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, d.bytes.data(), d.bytes.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return std::nullopt;
        d.bytes.resize(static_cast<std::size_t>(n));
        d.fromPort = ntohs(from.sin_port);
        d.fromAddr = ntohl(from.sin_addr.s_addr);
        return d;
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

// A UDP port that is free on all local addresses right now.
inline int freeUdpPort() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

inline std::vector<std::uint8_t> patternBytes(std::size_t n, std::uint8_t seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

} // namespace velmar::test
