#include "sockets/Psock.h"

#include "sockets/SocketShim.h"
#include "tests/sockets/UdpTestSupport.h"
#include "tests/support/ScriptedDialogs.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <regex>
#include <string>

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

using namespace velmar;

namespace {

std::string sockErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const EAbortError& e) {
        return std::string("EAbortError:") + e.what();
    } catch (const ESockError& e) {
        return std::string("ESockError:") + e.what();
    }
    return "no error";
}

// The LAN address chosen from bare addresses of interfaces that are up, in the order listed.
std::string ChooseLanAddress(const std::vector<IPv4Bytes>& resolverAddrs,
                             const std::vector<IPv4Bytes>& interfaceAddrs) {
    std::vector<InterfaceAddress> interfaces;
    for (const IPv4Bytes& a : interfaceAddrs) {
        InterfaceAddress entry;
        entry.address = a;
        interfaces.push_back(entry);
    }
    return PickLanAddress(resolverAddrs, interfaces);
}

} // namespace

TEST(Powersock, ErrorTextTable) {
    TPowersock sock(nullptr);
    EXPECT_EQ(sock.ErrorMessage(10004), "10004:Interrupted system call");
    EXPECT_EQ(sock.ErrorMessage(10061), "10061:Connection refused");
    EXPECT_EQ(sock.ErrorMessage(10093), "10093:Successful WSAStartup not yet performed");
    EXPECT_EQ(sock.ErrorMessage(11001), "11001:Host not found");
    EXPECT_EQ(sock.ErrorMessage(11003), "11003:Non-Recoverable error: FORMERR, REFUSED, NOTIMP");
    EXPECT_EQ(sock.ErrorMessage(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(sock.ErrorMessage(10092), "10092:Incompatible version of WINSOCK.DLL");
    EXPECT_EQ(sock.ErrorMessage(10065), "10065:No route to Host");
    EXPECT_EQ(sock.ErrorMessage(0), "");
    EXPECT_EQ(sock.ErrorMessage(10072), "Unknown Error No. 10072");
    EXPECT_EQ(sock.ErrorMessage(11005), "Unknown Error No. 11005");
    EXPECT_EQ(sock.ErrorMessage(65535), "Unknown Error No. 65535");

    // Exactly 50 codes have a text, each at most 51 bytes long.
    int known = 0;
    for (int code = 1; code <= 65535; ++code) {
        const std::string text = sock.ErrorMessage(static_cast<std::uint16_t>(code));
        if (text.rfind("Unknown Error No. ", 0) == 0)
            continue;
        ++known;
        const std::string prefix = std::to_string(code) + ":";
        ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
        EXPECT_LE(text.size() - prefix.size(), 51u) << text;
    }
    EXPECT_EQ(known, 50);
}

TEST(Powersock, SocketCheckIgnoresTheGivenCodeAndSmallCodes) {
    TPowersock sock(nullptr);
    std::vector<std::pair<int, std::string>> events;
    sock.OnErrorEvent = [&](QObject* sender, std::uint16_t code, const std::string& msg) {
        EXPECT_EQ(sender, &sock);
        events.emplace_back(code, msg);
    };

    net::setLastError(10035);
    EXPECT_EQ(sock.SocketCheck(10035), "");
    EXPECT_EQ(sock.LastErrorNo, 10035);

    net::setLastError(10048);
    EXPECT_EQ(sockErrorOf([&] { sock.SocketCheck(10035); }),
              "ESockError:10048:Address already in use");
    EXPECT_EQ(sock.LastErrorNo, 10048);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], (std::pair<int, std::string>{10048, "10048:Address already in use"}));

    for (int small : {0, 5, 10000}) {
        net::setLastError(small);
        EXPECT_EQ(sock.SocketCheck(10035), "") << small;
        EXPECT_EQ(sock.LastErrorNo, small);
    }
    net::setLastError(10035);
    EXPECT_EQ(sockErrorOf([&] { sock.SocketCheck(10048); }),
              "ESockError:10035:Operation would block");
    net::setLastError(10099);
    EXPECT_EQ(sockErrorOf([&] { sock.SocketCheck(10035); }), "ESockError:Unknown Error No. 10099");
    EXPECT_EQ(events.size(), 3u);
}

TEST(Powersock, ReportLevelZeroReportsNothing) {
    std::vector<std::string> statuses;
    {
        TPowersock sock(nullptr);
        sock.OnStatus = [&](QObject*, const std::string& text) {
            statuses.push_back(text);
        };
        sock.LocalIP();
        sock.ErrorMessage(10061);
    }
    EXPECT_TRUE(statuses.empty());
}

TEST(Powersock, ReportLevelEightReportsLaterTexts) {
    std::vector<std::string> statuses;
    auto sock = std::make_unique<TPowersock>(nullptr);
    // Construction ran at level 0: its texts were never stored or passed on.
    EXPECT_EQ(sock->StatusText(), "");
    sock->ReportLevel = 8;
    sock->OnStatus = [&](QObject*, const std::string& text) {
        statuses.push_back(text);
    };
    sock->LocalIP();
    sock->LocalIP();
    EXPECT_EQ(statuses, (std::vector<std::string>{"Getting Local IP", "Getting Local IP"}));
    statuses.clear();
    sock.reset();
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), "Destroy");
    for (const auto& s : statuses) {
        EXPECT_NE(s, "Create");
        EXPECT_NE(s, "Initializing Winsock");
    }
}

TEST(Powersock, ErrorsInsideTheStatusHandlerAreSwallowed) {
    TPowersock sock(nullptr);
    sock.ReportLevel = 8;
    int calls = 0;
    sock.OnStatus = [&](QObject*, const std::string&) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    std::string ip;
    EXPECT_NO_THROW(ip = sock.LocalIP());
    EXPECT_EQ(sock.ErrorMessage(11001), "11001:Host not found");
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(sock.StatusText(), "Looking Up Error Message");
}

TEST(Powersock, FirstComponentStartsTheSocketLayerLastOneEndsIt) {
    const int base = net::startupCount();
    ASSERT_EQ(TPowersock::WinsockUsers(), 0);
    auto a = std::make_unique<TPowersock>(nullptr);
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
    EXPECT_EQ(net::startupCount(), base + 1);
    const auto& info = a->WinsockInfo();
    ASSERT_EQ(info.size(), 6u);
    EXPECT_EQ(info[0], "Version= 1.1");
    EXPECT_EQ(info[1], "High Version= 2.2");
    EXPECT_EQ(info[2].rfind("Description= ", 0), 0u);
    EXPECT_EQ(info[3].rfind("System= ", 0), 0u);
    EXPECT_TRUE(std::regex_match(info[4], std::regex("Max Sockets= [1-9][0-9]*"))) << info[4];
    EXPECT_EQ(info[5], "Max Udp pack size= 65507");

    auto b = std::make_unique<TPowersock>(nullptr);
    EXPECT_EQ(TPowersock::WinsockUsers(), 2);
    EXPECT_EQ(net::startupCount(), base + 1);
    a.reset();
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
    EXPECT_EQ(net::startupCount(), base + 1);
    b.reset();
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    EXPECT_EQ(net::startupCount(), base);
}

TEST(Powersock, FailedStartUpLeavesTheCountsAsTheyWere) {
    const int base = net::startupCount();
    net::failNextStartups(1);
    EXPECT_EQ(sockErrorOf([] { TPowersock sock(nullptr); }),
              "ESockError:Initializaton of windows sockets failed");
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    EXPECT_EQ(net::startupCount(), base);

    net::failNextSockets(1);
    EXPECT_EQ(sockErrorOf([] { TPowersock sock(nullptr); }),
              "ESockError:Initializaton of windows sockets failed");
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    EXPECT_EQ(net::startupCount(), base);

    // With another component alive, a failing second one leaves the first one's start-up.
    TPowersock first(nullptr);
    net::failNextSockets(1);
    EXPECT_THROW(TPowersock second(nullptr), ESockError);
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
    EXPECT_EQ(net::startupCount(), base + 1);
}

TEST(Powersock, DestroyedWithItsOwner) {
    const int base = net::startupCount();
    auto owner = std::make_unique<QObject>();
    new TPowersock(owner.get());
    EXPECT_EQ(TPowersock::WinsockUsers(), 1);
    owner.reset();
    EXPECT_EQ(TPowersock::WinsockUsers(), 0);
    EXPECT_EQ(net::startupCount(), base);
}

TEST(LanAddress, ResolverAnswerUnlessLoopback) {
    using A = IPv4Bytes;
    EXPECT_EQ(ChooseLanAddress({}, {A{192, 168, 0, 9}}), "");
    EXPECT_EQ(ChooseLanAddress({A{192, 168, 0, 7}}, {}), "192.168.0.7");
    EXPECT_EQ(ChooseLanAddress({A{200, 1, 2, 3}, A{10, 0, 0, 1}}, {A{10, 0, 0, 1}}), "200.1.2.3");
    EXPECT_EQ(ChooseLanAddress({A{255, 255, 255, 254}}, {}), "255.255.255.254");
    // The resolver's order counts, not the interfaces'.
    EXPECT_EQ(ChooseLanAddress({A{10, 1, 1, 1}, A{192, 168, 5, 5}}, {A{192, 168, 5, 5}}),
              "10.1.1.1");
    // A host name mapped to a loopback address: the first real interface address instead.
    EXPECT_EQ(ChooseLanAddress({A{127, 0, 1, 1}},
                               {A{127, 0, 0, 1}, A{0, 0, 0, 0}, A{172, 16, 4, 2}, A{10, 0, 0, 5}}),
              "172.16.4.2");
    // No interface but loopback: the resolver's answer is all there is.
    EXPECT_EQ(ChooseLanAddress({A{127, 0, 1, 1}, A{127, 0, 0, 1}}, {A{127, 0, 0, 1}}), "127.0.1.1");
}

TEST(LanAddress, LocalIPOfThisMachine) {
    TPowersock sock(nullptr);
    const std::string ip = sock.LocalIP();
    if (ip.empty())
        GTEST_SKIP() << "the host name does not resolve here";
    const std::regex quad(
        R"((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(\.(25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)){3})");
    EXPECT_TRUE(std::regex_match(ip, quad)) << ip;

    bool hasLan = false;
    ifaddrs* list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP)) {
            const auto* b = reinterpret_cast<const unsigned char*>(
                &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr);
            if (b[0] != 127 && !(b[0] == 0 && b[1] == 0 && b[2] == 0 && b[3] == 0))
                hasLan = true;
        }
    }
    freeifaddrs(list);
    if (hasLan) {
        EXPECT_NE(ip.rfind("127.", 0), 0u) << "a loopback address was shown as the LAN address";
    }
}

TEST(LanAddress, LoopbackMendPrefersTheRealCard) {
    using A = IPv4Bytes;
    auto card = [](const char* name, A address, bool carrier = true, bool routed = false) {
        InterfaceAddress i;
        i.name = name;
        i.address = address;
        i.carrier = carrier;
        i.defaultRoute = routed;
        return i;
    };
    const std::vector<InterfaceAddress> machine = {
        card("lo", A{127, 0, 0, 1}),
        card("docker0", A{172, 17, 0, 1}),
        card("br-5f2c", A{172, 18, 0, 1}),
        card("virbr0", A{192, 168, 122, 1}),
        card("eth0", A{10, 1, 2, 3}, /*carrier=*/false),
        card("wlan0", A{169, 254, 7, 9}),
        card("enp3s0", A{192, 168, 1, 20}),
        card("wlp2s0", A{192, 168, 8, 44}, true, /*routed=*/true),
    };
    // The host name maps to 127.0.1.1: the interface of the default route wins.
    EXPECT_EQ(PickLanAddress({A{127, 0, 1, 1}}, machine), "192.168.8.44");
    // Without a default route: the first card that is up, has a carrier and is no bridge.
    std::vector<InterfaceAddress> unrouted = machine;
    unrouted.back().defaultRoute = false;
    EXPECT_EQ(PickLanAddress({A{127, 0, 1, 1}}, unrouted), "192.168.1.20");
    // An interface that is down counts as little as one without a carrier.
    unrouted[6].up = false;
    EXPECT_EQ(ChooseInterfaceAddress(unrouted), "192.168.8.44");
    // Only bridges, unplugged cards and loopback: the resolver's answer is all there is.
    const std::vector<InterfaceAddress> none(machine.begin(), machine.begin() + 6);
    EXPECT_EQ(ChooseInterfaceAddress(none), "");
    EXPECT_EQ(PickLanAddress({A{127, 0, 1, 1}}, none), "127.0.1.1");
    // A resolver that names a real address is still taken as it is.
    EXPECT_EQ(PickLanAddress({A{172, 17, 0, 1}}, machine), "172.17.0.1");
}

TEST(LanAddress, MachineInterfacesListThisMachine) {
    // Loopback is always there, up, with its carrier, and never the default route.
    bool loopback = false;
    for (const InterfaceAddress& i : MachineInterfaces()) {
        if (i.address == IPv4Bytes{127, 0, 0, 1}) {
            loopback = true;
            EXPECT_TRUE(i.up);
            EXPECT_FALSE(i.defaultRoute);
        }
    }
    EXPECT_TRUE(loopback);
}

TEST(LanAddress, SilentResolverDoesNotHoldTheWindow) {
    // A resolver that stays silent until the test lets it answer (as DNS does when the host name
    // is in no hosts file and the name server does not answer).
    std::mutex mutex;
    std::condition_variable released;
    bool answer = false;
    int lookups = 0;
    TPowersock::setResolver([&](const std::string&) {
        std::unique_lock<std::mutex> lock(mutex);
        ++lookups;
        released.wait(lock, [&] { return answer; });
        return std::vector<IPv4Bytes>{IPv4Bytes{192, 0, 2, 7}};
    });
    TPowersock sock(nullptr);
    // LocalIP returns while the resolver is still silent, with what the interfaces know.
    const std::string first = sock.LocalIP();
    EXPECT_TRUE(TPowersock::hostLookupPending());
    EXPECT_EQ(first, ChooseInterfaceAddress(MachineInterfaces()));
    // Asked again meanwhile: no second lookup, no second wait.
    EXPECT_EQ(sock.LocalIP(), first);
    {
        const std::lock_guard<std::mutex> lock(mutex);
        EXPECT_EQ(lookups, 1);
        answer = true;
    }
    released.notify_all();
    ASSERT_TRUE(test::processUntil([] { return !TPowersock::hostLookupPending(); }));
    EXPECT_EQ(sock.LocalIP(), first); // the late answer changes nothing: the same address
    EXPECT_EQ(lookups, 1);
    TPowersock::setResolver({});
}

TEST(LanAddress, TheResolversFirstAddressInItsOwnOrder) {
    if (std::getenv("VELMAR_TEST_HOSTS")) { // re-sorted, the loopback address would come first
        EXPECT_EQ(TPowersock(nullptr).LocalIP(), "10.1.2.3");
        return;
    }
    char name[256] = {};
    ASSERT_EQ(::gethostname(name, sizeof name - 1), 0);
    const int status = test::runWithOwnHostsFile(
        "10.1.2.3 " + std::string(name) + "\n127.0.0.5 " + name + "\n", "LanAddress.TheRes*");
    if (status == -1)
        GTEST_SKIP() << "no user and mount namespaces on this machine";
    EXPECT_EQ(status, 0);
}
