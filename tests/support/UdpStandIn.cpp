#include "tests/support/UdpStandIn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>

namespace velmar::test {

namespace {
sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    return a;
}
} // namespace

UdpStandIn::UdpStandIn(int port, std::chrono::milliseconds waitForPort) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw std::runtime_error("socket");
    int big = 1 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    const sockaddr_in a = loopback(port);
    const Clock::time_point until = Clock::now() + waitForPort;
    while (!(bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) &&
           Clock::now() < until) {
        // Nothing to wait on for another program's socket to close: look again shortly.
        ::poll(nullptr, 0, 50);
    }
}

UdpStandIn::~UdpStandIn() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    ::close(fd_);
}

int UdpStandIn::port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
}

std::optional<Datagram> UdpStandIn::receive(int ms) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return std::nullopt;
    Datagram d;
    d.bytes.resize(70000);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, d.bytes.data(), d.bytes.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0)
        return std::nullopt;
    d.bytes.resize(static_cast<std::size_t>(n));
    d.fromPort = ntohs(from.sin_port);
    d.fromAddr = ntohl(from.sin_addr.s_addr);
    from_ = from;
    haveFrom_ = true;
    return d;
}

std::vector<Bytes> UdpStandIn::drain() {
    std::vector<Bytes> got;
    while (std::optional<Datagram> d = receive(0))
        got.push_back(std::move(d->bytes));
    return got;
}

bool UdpStandIn::reply(const Bytes& bytes) {
    if (!haveFrom_)
        return false;
    return ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&from_),
                    sizeof from_) == static_cast<ssize_t>(bytes.size());
}

void UdpStandIn::sendTo(int port, const Bytes& bytes) const {
    const sockaddr_in to = loopback(port);
    if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                 sizeof to) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("sendto");
}

void UdpStandIn::serveOnThread(std::size_t querySize) {
    if (!bound_ || thread_.joinable())
        throw std::logic_error("the stand-in serves once, and only when bound");
    thread_ = std::thread([this, querySize] { serve(querySize); });
}

void UdpStandIn::serve(std::size_t querySize) {
    std::vector<std::uint8_t> buf(70000);
    while (!stop_) {
        // Looks at stop_ at least every 50 ms; a datagram wakes it at once.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = ::recvfrom(fd_, buf.data(), buf.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &len);
        const Clock::time_point arrived = Clock::now();
        if (n < 0 || static_cast<std::size_t>(n) != querySize)
            continue;
        {
            std::lock_guard lock(mutex_);
            arrivals_.push_back(arrived);
        }
        if (!answer)
            continue;
        std::this_thread::sleep_for(replyDelay);
        const Clock::time_point sending = Clock::now();
        {
            std::lock_guard lock(mutex_);
            sends_.push_back(sending);
        }
        ::sendto(fd_, replyWith.data(), replyWith.size(), 0, reinterpret_cast<sockaddr*>(&from),
                 len);
    }
}

std::vector<UdpStandIn::Clock::time_point> UdpStandIn::arrivals() const {
    std::lock_guard lock(mutex_);
    return arrivals_;
}

std::vector<UdpStandIn::Clock::time_point> UdpStandIn::sends() const {
    std::lock_guard lock(mutex_);
    return sends_;
}

void UdpStandIn::clearStamps() {
    std::lock_guard lock(mutex_);
    arrivals_.clear();
    sends_.clear();
}

int freeUdpPort() {
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

Bytes patternBytes(std::size_t n, std::uint8_t seed) {
    Bytes v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(seed + i * 7 + (i >> 8));
    return v;
}

Bytes serverReply(const std::string& version, const std::string& sessionName) {
    Bytes r(std::max<std::size_t>(58, 10 + version.size() + 1), 0xEE);
    for (std::size_t i = 0; i < 10; ++i)
        r[i] = 0;
    std::copy(version.begin(), version.end(), r.begin() + 10);
    r[10 + version.size()] = 0;
    for (char c : sessionName) {
        r.push_back(static_cast<std::uint8_t>(c));
        r.push_back(0);
    }
    return r;
}

} // namespace velmar::test
