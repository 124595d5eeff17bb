#pragma once
// The other end of the launcher's datagrams, for tests and benchmarks alike: a UDP socket on
// 127.0.0.1 that can be read and answered step by step from the test's own thread, or serve as
// a game server on a thread of its own (so the launcher's event loop is idle and blocked when
// the reply arrives, as with a server in another process). Needs no test framework.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <netinet/in.h>

namespace velmar::test {

using Bytes = std::vector<std::uint8_t>;

struct Datagram {
    Bytes bytes;
    int fromPort = 0;
    std::uint32_t fromAddr = 0; // host order
};

class UdpStandIn {
public:
    using Clock = std::chrono::steady_clock;

    // Bound to 127.0.0.1:port (0: a port the system picks). When the port is held by another
    // program, binding is retried until `waitForPort` has passed.
    explicit UdpStandIn(int port = 0,
                        std::chrono::milliseconds waitForPort = std::chrono::milliseconds(0));
    ~UdpStandIn();
    UdpStandIn(const UdpStandIn&) = delete;
    UdpStandIn& operator=(const UdpStandIn&) = delete;

    bool bound() const { return bound_; }
    int port() const;

    // Step by step, from the caller's thread (not while serving on the thread):
    // Waits up to `ms` for one datagram; its sender becomes the one `reply` answers.
    std::optional<Datagram> receive(int ms = 2000);
    // Takes in every datagram waiting now, without waiting.
    std::vector<Bytes> drain();
    // Answers the sender of the last datagram taken in; false when there was none.
    bool reply(const Bytes& bytes);
    void sendTo(int port, const Bytes& bytes) const;

    // As a game server on a thread of its own: every datagram of `querySize` bytes is stamped
    // on arrival and, while `answer` is set, answered `replyDelay` later with `replyWith`.
    void serveOnThread(std::size_t querySize);
    std::atomic<bool> answer{false};
    std::chrono::microseconds replyDelay{0};
    Bytes replyWith;
    std::vector<Clock::time_point> arrivals() const; // of queries
    std::vector<Clock::time_point> sends() const;    // just before each reply left
    void clearStamps();

private:
    void serve(std::size_t querySize);

    int fd_ = -1;
    bool bound_ = false;
    bool haveFrom_ = false;
    sockaddr_in from_{};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<Clock::time_point> arrivals_;
    std::vector<Clock::time_point> sends_;
};

// A UDP port that is free on all local addresses right now.
int freeUdpPort();

// `n` bytes of a recognisable pattern.
Bytes patternBytes(std::size_t n, std::uint8_t seed);

// A game server's reply: ten zero bytes, the version text and its NUL, filler up to 58 bytes,
// then the session name in UTF-16LE (one byte per character here, each followed by a zero).
Bytes serverReply(const std::string& version, const std::string& sessionName);

} // namespace velmar::test
