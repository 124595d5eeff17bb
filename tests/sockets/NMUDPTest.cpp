#include "sockets/NMUDP.h"

#include "sockets/SocketShim.h"
#include "tests/sockets/UdpTestSupport.h"

#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

using namespace velmar;
using velmar::test::Datagram;
using velmar::test::freeUdpPort;
using velmar::test::patternBytes;
using velmar::test::processFor;
using velmar::test::processUntil;
using velmar::test::UdpStandIn;

namespace {

struct Received {
    int numberBytes = 0;
    std::string fromIP;
    int port = 0;
    std::vector<std::uint8_t> bytes;
};

// An endpoint bound to a free port that records every datagram it reports.
struct BoundEndpoint {
    BoundEndpoint() : udp(std::make_unique<TNMUDP>(nullptr)) {
        udp->OnDataReceived = [this](QObject* sender, int n, std::string fromIP, int port) {
            EXPECT_EQ(sender, udp.get());
            Received r{n, fromIP, port, {}};
            if (n > 0) {
                r.bytes.resize(static_cast<std::size_t>(n));
                int length = 0;
                udp->ReadBuffer(r.bytes.data(), length);
                EXPECT_EQ(length, n);
            }
            received.push_back(std::move(r));
        };
        port = freeUdpPort();
        udp->setLocalPort(port);
    }
    std::unique_ptr<TNMUDP> udp;
    std::vector<Received> received;
    int port = 0;
};

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const UDPSockError& e) {
        return std::string("UDPSockError:") + e.what();
    } catch (const InvalidBufferError& e) {
        return std::string("InvalidBufferError:") + e.what();
    }
    return "no error";
}

} // namespace

TEST(NMUDP, RoundTripReportsSenderAndPayloadBothWays) {
    BoundEndpoint ep;
    ASSERT_EQ(ep.udp->boundPort(), ep.port);
    UdpStandIn peer;

    const auto payload = patternBytes(37, 3);
    peer.sendTo(ep.port, payload);
    ASSERT_TRUE(processUntil([&] { return ep.received.size() == 1; }));
    EXPECT_EQ(ep.received[0].numberBytes, 37);
    EXPECT_EQ(ep.received[0].fromIP, "127.0.0.1");
    EXPECT_EQ(ep.received[0].port, peer.port()); // host order
    EXPECT_EQ(ep.received[0].bytes, payload);

    int sends = 0;
    ep.udp->OnDataSend = [&](QObject* sender) {
        EXPECT_EQ(sender, ep.udp.get());
        ++sends;
    };
    ep.udp->setRemoteHost("127.0.0.1");
    ep.udp->setRemotePort(peer.port());
    const auto answer = patternBytes(26, 9);
    ep.udp->SendBuffer(answer.data(), static_cast<int>(answer.size()));
    const auto got = peer.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, answer);
    EXPECT_EQ(got->fromPort, ep.port);
    EXPECT_EQ(sends, 1);
}

TEST(NMUDP, SendWorksOnItsOwnCopyOfTheBytes) {
    BoundEndpoint ep;
    UdpStandIn peer;
    auto bytes = patternBytes(10, 1);
    const auto original = bytes;
    ep.udp->setRemoteHost("localhost");
    ep.udp->setRemotePort(peer.port());
    // The caller's bytes change (and go away) while the send waits for the name.
    QObject context;
    QMetaObject::invokeMethod(
        &context, [&] { bytes.assign(100000, 0xEE); }, Qt::QueuedConnection);
    ep.udp->SendBuffer(bytes.data(), 10);
    const auto got = peer.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, original);
}

TEST(NMUDP, DatagramSizesAtTheBufferLimit) {
    BoundEndpoint ep;
    UdpStandIn peer;
    const auto full = patternBytes(2048, 5);
    peer.sendTo(ep.port, full);
    peer.sendTo(ep.port, patternBytes(2049, 6));
    peer.sendTo(ep.port, {});
    peer.sendTo(ep.port, {0x41});
    ASSERT_TRUE(processUntil([&] { return ep.received.size() == 4; }));
    processFor(50);
    ASSERT_EQ(ep.received.size(), 4u);

    EXPECT_EQ(ep.received[0].numberBytes, 2048);
    EXPECT_EQ(ep.received[0].bytes, full);
    // Too long for the receive buffer: a failed receive, and nothing is handed out.
    EXPECT_EQ(ep.received[1].numberBytes, -1);
    EXPECT_EQ(ep.received[2].numberBytes, 0);
    EXPECT_EQ(ep.received[2].fromIP, "127.0.0.1");
    EXPECT_EQ(ep.received[3].numberBytes, 1);
    EXPECT_EQ(ep.received[3].bytes, std::vector<std::uint8_t>{0x41});
}

TEST(NMUDP, FailedReceiveCopiesNothing) {
    BoundEndpoint ep;
    std::vector<std::uint8_t> target(4096, 0xAB);
    int length = 123;
    ep.udp->OnDataReceived = [&](QObject*, int n, std::string, int) {
        ep.udp->ReadBuffer(target.data(), length);
        ep.received.push_back({n, {}, 0, {}});
    };
    UdpStandIn peer;
    peer.sendTo(ep.port, patternBytes(3000, 1));
    ASSERT_TRUE(processUntil([&] { return ep.received.size() == 1; }));
    EXPECT_EQ(length, -1);
    EXPECT_EQ(target, std::vector<std::uint8_t>(4096, 0xAB));
}

TEST(NMUDP, OneEventPerDatagramOfABurst) {
    BoundEndpoint ep;
    UdpStandIn peer;
    constexpr int Count = 25;
    for (int i = 0; i < Count; ++i)
        peer.sendTo(ep.port,
                    patternBytes(static_cast<std::size_t>(30 + i), static_cast<std::uint8_t>(i)));
    ASSERT_TRUE(processUntil([&] { return ep.received.size() >= Count; }));
    processFor(100);
    ASSERT_EQ(ep.received.size(), static_cast<std::size_t>(Count));
    for (int i = 0; i < Count; ++i) {
        EXPECT_EQ(ep.received[i].numberBytes, 30 + i);
        EXPECT_EQ(ep.received[i].bytes,
                  patternBytes(static_cast<std::size_t>(30 + i), static_cast<std::uint8_t>(i)));
    }
}

TEST(NMUDP, DestroyedInsideItsOwnReceiveHandler) {
    const int base = net::startupCount();
    const int port = freeUdpPort();
    QPointer<TNMUDP> udp = new TNMUDP(nullptr);
    int events = 0;
    std::vector<std::uint8_t> copy;
    udp->OnDataReceived = [&](QObject* sender, int n, std::string, int) {
        ++events;
        copy.resize(static_cast<std::size_t>(n));
        int length = 0;
        static_cast<TNMUDP*>(sender)->ReadBuffer(copy.data(), length);
        delete sender; // as the server test does on a reply
    };
    udp->setLocalPort(port);
    UdpStandIn peer;
    // Several datagrams wait already: none after the first may be reported.
    for (int i = 0; i < 4; ++i)
        peer.sendTo(port, patternBytes(40, static_cast<std::uint8_t>(i)));
    ASSERT_TRUE(processUntil([&] { return events > 0; }));
    processFor(150);
    EXPECT_EQ(events, 1);
    EXPECT_TRUE(udp.isNull());
    EXPECT_EQ(copy, patternBytes(40, 0));
    EXPECT_EQ(net::startupCount(), base);
    // The port is free again.
    TNMUDP again(nullptr);
    again.setLocalPort(port);
    EXPECT_EQ(again.boundPort(), port);
}

TEST(NMUDP, DestroyedByItsOwnerAlongWithIt) {
    const int base = net::startupCount();
    auto owner = std::make_unique<QObject>();
    QPointer<TNMUDP> udp = new TNMUDP(owner.get());
    udp->setLocalPort(freeUdpPort());
    EXPECT_EQ(net::startupCount(), base + 1);
    owner.reset();
    EXPECT_TRUE(udp.isNull());
    EXPECT_EQ(net::startupCount(), base);
}

TEST(NMUDP, NullRemoteAddressFailsTheSendOnly) {
    BoundEndpoint ep;
    UdpStandIn peer;
    const auto bytes = patternBytes(26, 0);
    ep.udp->setRemoteHost("0.0.0.0");
    ep.udp->setRemotePort(peer.port());
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(bytes.data(), 26); }),
              "UDPSockError:Null Remote Address");
    EXPECT_FALSE(peer.receive(100));
    // The endpoint is unchanged and sends again.
    ep.udp->setRemoteHost("127.0.0.1");
    ep.udp->SendBuffer(bytes.data(), 26);
    EXPECT_TRUE(peer.receive());
    EXPECT_FALSE(ep.udp->sending());
}

TEST(NMUDP, UnresolvableHostCancelsTheLookup) {
    BoundEndpoint ep;
    const auto bytes = patternBytes(26, 0);
    // An empty label makes the resolver refuse the name on this machine: no query leaves it.
    ep.udp->setRemoteHost("velmar-test-host..invalid");
    ep.udp->setRemotePort(9);
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(bytes.data(), 26); }),
              "UDPSockError:Host Lookup Canceled");

    // A handler that marks the failure handled buys exactly one more lookup.
    int invalidHostCalls = 0;
    ep.udp->OnInvalidHost = [&](bool& handled) {
        ++invalidHostCalls;
        handled = true;
    };
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(bytes.data(), 26); }),
              "UDPSockError:Host Lookup Canceled");
    EXPECT_EQ(invalidHostCalls, 1);
    EXPECT_FALSE(ep.udp->sending());
}

TEST(NMUDP, AHostNameIsLookedUpAgainAtEverySend) {
    if (const char* hosts = std::getenv("VELMAR_TEST_HOSTS")) { // it resolves, then no longer
        BoundEndpoint ep;
        UdpStandIn peer;
        ep.udp->setRemotePort(peer.port());
        ep.udp->setRemoteHost("velmar-moving-host");
        ep.udp->SendBuffer(patternBytes(26, 0).data(), 26);
        EXPECT_TRUE(peer.receive());
        std::ofstream(hosts, std::ios::trunc) << "127.0.0.1 localhost\n";
        EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(patternBytes(26, 0).data(), 26); }),
                  "UDPSockError:Host Lookup Canceled");
        return;
    }
    const int status =
        test::runWithOwnHostsFile("127.0.0.1 localhost velmar-moving-host\n", "NMUDP.AHostName*");
    if (status == -1)
        GTEST_SKIP() << "no user and mount namespaces on this machine";
    EXPECT_EQ(status, 0);
}

TEST(NMUDP, OverlongRemoteHostIsRefusedNotCut) {
    BoundEndpoint ep;
    UdpStandIn peer;
    const auto bytes = patternBytes(26, 0);
    ep.udp->setRemotePort(peer.port());
    // A dotted quad followed by blanks still reads as that address, so cutting the text at 130
    // characters would send the datagram to 127.0.0.1.
    std::string host = "127.0.0.1";
    host.resize(130, ' ');
    ep.udp->setRemoteHost(host);
    ep.udp->SendBuffer(bytes.data(), 26);
    EXPECT_TRUE(peer.receive()); // 130 characters are taken

    host.push_back(' ');
    ep.udp->setRemoteHost(host);
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(bytes.data(), 26); }),
              "UDPSockError:Host Lookup Canceled");
    EXPECT_FALSE(peer.receive(100));

    // Nor is a text with a zero byte sent to what stands before the zero.
    ep.udp->setRemoteHost(std::string("127.0.0.1\0.invalid", 18));
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(bytes.data(), 26); }),
              "UDPSockError:Host Lookup Canceled");
    EXPECT_FALSE(peer.receive(100));
}

TEST(NMUDP, HostNameLookupLetsOtherEventsRun) {
    BoundEndpoint ep;
    UdpStandIn peer;
    const auto bytes = patternBytes(26, 4);
    ep.udp->setRemoteHost("localhost");
    ep.udp->setRemotePort(peer.port());

    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start();
    // Posted before the send, so it is handled while the send waits for the name.
    bool sawSending = false;
    QObject context;
    QMetaObject::invokeMethod(
        &context, [&] { sawSending = ep.udp->sending(); }, Qt::QueuedConnection);

    ep.udp->SendBuffer(bytes.data(), 26);
    ticker.stop();
    EXPECT_TRUE(sawSending);
    EXPECT_GE(ticks, 1);
    EXPECT_FALSE(ep.udp->sending());
    const auto got = peer.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, bytes);
    EXPECT_EQ(got->fromPort, ep.port);
}

TEST(NMUDP, DestroyedWhileItsSendWaitsForTheName) {
    const int base = net::startupCount();
    UdpStandIn peer;
    QPointer<TNMUDP> udp = new TNMUDP(nullptr);
    udp->setLocalPort(freeUdpPort());
    udp->setRemoteHost("localhost");
    udp->setRemotePort(peer.port());
    int sends = 0;
    udp->OnDataSend = [&](QObject*) {
        ++sends;
    };
    QObject context;
    QMetaObject::invokeMethod(
        &context, [&] { delete udp.data(); }, Qt::QueuedConnection);
    const auto bytes = patternBytes(26, 0);
    TNMUDP* raw = udp.data();
    EXPECT_EQ(errorOf([&] { raw->SendBuffer(bytes.data(), 26); }),
              "UDPSockError:Host Lookup Canceled");
    EXPECT_TRUE(udp.isNull());
    EXPECT_EQ(sends, 0);
    EXPECT_EQ(net::startupCount(), base);
    EXPECT_FALSE(peer.receive(100));
}

TEST(NMUDP, EmptyBufferIsInvalidUnlessAHandlerRepairsIt) {
    BoundEndpoint ep;
    UdpStandIn peer;
    ep.udp->setRemoteHost("127.0.0.1");
    ep.udp->setRemotePort(peer.port());
    const std::uint8_t one = 1;
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(&one, 0); }), "InvalidBufferError:Invalid buffer");
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(&one, -5); }), "InvalidBufferError:Invalid buffer");
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(nullptr, 10); }),
              "InvalidBufferError:Invalid buffer");

    int calls = 0;
    ep.udp->OnBufferInvalid = [&](bool& handled, std::vector<std::uint8_t>& buff, int& length) {
        ++calls;
        EXPECT_EQ(length, 0);
        buff = {7, 8, 9};
        length = 3;
        handled = true;
    };
    ep.udp->SendBuffer(&one, 0);
    EXPECT_EQ(calls, 1);
    const auto got = peer.receive();
    ASSERT_TRUE(got);
    EXPECT_EQ(got->bytes, (std::vector<std::uint8_t>{7, 8, 9}));

    // Handled, but with a length the supplied bytes do not cover: still invalid.
    ep.udp->OnBufferInvalid = [](bool& handled, std::vector<std::uint8_t>& buff, int& length) {
        buff = {1, 2};
        length = 100;
        handled = true;
    };
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(&one, 0); }), "InvalidBufferError:Invalid buffer");
    // Not handled: invalid.
    ep.udp->OnBufferInvalid = [](bool&, std::vector<std::uint8_t>& buff, int& length) {
        buff = {1, 2};
        length = 2;
    };
    EXPECT_EQ(errorOf([&] { ep.udp->SendBuffer(&one, 0); }), "InvalidBufferError:Invalid buffer");
    EXPECT_FALSE(peer.receive(100));
}

TEST(NMUDP, PortHeldElsewhereStillSendsAndHearsReplies) {
    UdpStandIn holder; // holds the port on 127.0.0.1
    ASSERT_TRUE(holder.bound());
    const int held = holder.port();
    TNMUDP udp(nullptr);
    std::vector<Received> received;
    udp.OnDataReceived = [&](QObject*, int n, std::string ip, int port) {
        received.push_back({n, ip, port, {}});
    };
    EXPECT_NO_THROW(udp.setLocalPort(held));
    EXPECT_EQ(udp.LocalPort(), held);
    EXPECT_EQ(udp.boundPort(), 0);

    UdpStandIn server;
    udp.setRemoteHost("127.0.0.1");
    udp.setRemotePort(server.port());
    const auto query = patternBytes(26, 0);
    udp.SendBuffer(query.data(), 26);
    const auto got = server.receive();
    ASSERT_TRUE(got);
    EXPECT_NE(got->fromPort, held);
    EXPECT_EQ(got->fromPort, udp.boundPort());
    server.sendTo(got->fromPort, patternBytes(64, 2));
    ASSERT_TRUE(processUntil([&] { return !received.empty(); }));
    EXPECT_EQ(received[0].numberBytes, 64);
    EXPECT_EQ(received[0].port, server.port());
    EXPECT_FALSE(holder.receive(50));
}

TEST(NMUDP, SameLocalPortForEndpointsOneAfterTheOther) {
    const int port = freeUdpPort();
    UdpStandIn peer;
    for (int round = 0; round < 2; ++round) {
        TNMUDP udp(nullptr);
        int events = 0;
        udp.OnDataReceived = [&](QObject*, int, std::string, int) {
            ++events;
        };
        udp.setLocalPort(port);
        EXPECT_EQ(udp.boundPort(), port) << "round " << round;
        peer.sendTo(port, patternBytes(27, 0));
        EXPECT_TRUE(processUntil([&] { return events == 1; })) << "round " << round;
    }
}

TEST(NMUDP, SettingLocalPortAgainReplacesTheSocket) {
    const int base = net::startupCount();
    BoundEndpoint ep;
    const int first = ep.port;
    const int second = freeUdpPort();
    ep.udp->setLocalPort(second);
    EXPECT_EQ(ep.udp->boundPort(), second);
    EXPECT_EQ(net::startupCount(), base + 1);
    // The first port is given up.
    UdpStandIn probe;
    TNMUDP other(nullptr);
    other.setLocalPort(first);
    EXPECT_EQ(other.boundPort(), first);
    probe.sendTo(second, patternBytes(5, 0));
    EXPECT_TRUE(processUntil([&] { return ep.received.size() == 1; }));
}

TEST(NMUDP, StartupsStayBalancedOnEveryPath) {
    const int base = net::startupCount();
    {
        TNMUDP udp(nullptr);
        EXPECT_EQ(net::startupCount(), base + 1);
        udp.setLocalPort(freeUdpPort());
        udp.setLocalPort(freeUdpPort());
        EXPECT_EQ(net::startupCount(), base + 1);
    }
    EXPECT_EQ(net::startupCount(), base);

    // Creation refused by the platform, then with no socket to be had.
    net::failNextStartups(1);
    EXPECT_EQ(errorOf([] { TNMUDP udp(nullptr); }), "UDPSockError:Unknown Error No. 10091");
    EXPECT_EQ(net::startupCount(), base);
    net::failNextSockets(1);
    EXPECT_EQ(errorOf([] { TNMUDP udp(nullptr); }), "UDPSockError:Unknown Error No. 10024");
    EXPECT_EQ(net::startupCount(), base);

    // A LocalPort change whose restart fails leaves the endpoint with nothing to give back.
    {
        TNMUDP udp(nullptr);
        std::vector<std::pair<int, std::string>> errors;
        udp.OnErrorEvent = [&](QObject*, std::uint16_t code, const std::string& msg) {
            errors.emplace_back(code, msg);
        };
        net::failNextStartups(1);
        EXPECT_EQ(errorOf([&] { udp.setLocalPort(freeUdpPort()); }),
                  "UDPSockError:Unknown Error No. 10091");
        EXPECT_EQ(udp.LastErrorNo, 10091);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], (std::pair<int, std::string>{10091, "Unknown Error No. 10091"}));
        EXPECT_EQ(net::startupCount(), base);
        EXPECT_EQ(udp.boundPort(), 0);

        // A later change that works takes one start-up again.
        const int port = freeUdpPort();
        udp.setLocalPort(port);
        EXPECT_EQ(udp.boundPort(), port);
        EXPECT_EQ(net::startupCount(), base + 1);

        // And one whose socket can not be made gives it back.
        net::failNextSockets(1);
        EXPECT_EQ(errorOf([&] { udp.setLocalPort(freeUdpPort()); }),
                  "UDPSockError:Unknown Error No. 10024");
        EXPECT_EQ(net::startupCount(), base);
    }
    EXPECT_EQ(net::startupCount(), base);
}

TEST(NMUDP, SocketCheckTextsAndStatusLevels) {
    TNMUDP udp(nullptr);
    std::vector<std::string> statuses;
    udp.OnStatus = [&](QObject* sender, const std::string& text) {
        EXPECT_EQ(sender, &udp);
        statuses.push_back(text);
    };

    net::setLastError(10035);
    EXPECT_EQ(errorOf([&] { udp.SocketCheck(10035); }), "no error");
    EXPECT_EQ(udp.LastErrorNo, 10035);

    net::setLastError(10048);
    EXPECT_EQ(errorOf([&] { udp.SocketCheck(10035); }), "UDPSockError:Unknown Error No. 10048");
    EXPECT_EQ(udp.LastErrorNo, 10048);
    // Small codes are not passed over, unlike in the stream socket.
    net::setLastError(5);
    EXPECT_EQ(errorOf([&] { udp.SocketCheck(10035); }), "UDPSockError:Unknown Error No. 5");
    net::setLastError(0);
    EXPECT_EQ(errorOf([&] { udp.SocketCheck(10035); }), "UDPSockError:");
    // At the level creation leaves, nothing of this was reported.
    EXPECT_TRUE(statuses.empty());

    udp.ReportLevel = 16;
    net::setLastError(10048);
    EXPECT_THROW(udp.SocketCheck(10035), UDPSockError);
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Checking Error In Error Manager",
                                        "Looking Up Error MessageUnknown Error No. 10048"}));
    EXPECT_EQ(udp.StatusText(), "Looking Up Error MessageUnknown Error No. 10048");

    statuses.clear();
    UdpStandIn peer;
    udp.setRemoteHost("127.0.0.1");
    udp.setRemotePort(peer.port());
    const auto bytes = patternBytes(3, 0);
    udp.ReportLevel = 1;
    udp.SendBuffer(bytes.data(), 3);
    EXPECT_TRUE(statuses.empty());
    udp.ReportLevel = 2;
    udp.SendBuffer(bytes.data(), 3);
    EXPECT_EQ(statuses, std::vector<std::string>{"Sending Data"});
}
