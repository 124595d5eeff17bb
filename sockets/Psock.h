#pragma once
// TPowersock: the stream socket component. The launcher uses only its construction, LocalIP and
// destruction; the status channel, the error check and the error-text table come with it.
#include <QObject>

#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmar {

class ESockError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// An IPv4 address as its four bytes in network order (192.168.0.7 is {192, 168, 0, 7}).
using IPv4Bytes = std::array<std::uint8_t, 4>;

// "%d.%d.%d.%d" of the four bytes, each as an unsigned number (200.1.2.3 stays positive).
std::string FormatDottedQuad(const IPv4Bytes& addr);

// One IPv4 address of a network interface, with what tells a real LAN card from others.
struct InterfaceAddress {
    std::string name; // "eth0", "docker0", ...
    IPv4Bytes address{};
    bool up = true;            // administratively up
    bool carrier = true;       // the link is there (a cable, an associated radio)
    bool defaultRoute = false; // the interface of the default route
};

// The interfaces' IPv4 addresses as the machine lists them, with the default route marked.
std::vector<InterfaceAddress> MachineInterfaces();

// The LAN address the interfaces themselves give: the interface of the default route, otherwise
// the first one; only interfaces that are up and have a carrier, and never loopback, 0.0.0.0,
// link-local (169.254.x.x) addresses or the bridges of containers and virtual machines.
// "" when no interface qualifies.
std::string ChooseInterfaceAddress(const std::vector<InterfaceAddress>& interfaces);

// The machine's LAN address from what the resolver lists for the host name (in its order) and
// the interfaces. The resolver's first address, unless that is a loopback address (127.x.x.x, as
// many systems map their own host name): then ChooseInterfaceAddress, and only when that finds
// nothing the resolver's answer. "" when the resolver listed nothing.
std::string PickLanAddress(const std::vector<IPv4Bytes>& resolverAddrs,
                           const std::vector<InterfaceAddress>& interfaces);

// How long LocalIP waits for the resolver before it answers from the interfaces.
inline constexpr int HostLookupWaitMs = 500;

class TPowersock : public QObject {
    Q_OBJECT
public:
    using TOnStatus = std::function<void(QObject* Sender, const std::string& status)>;
    using TErrorEvent =
        std::function<void(QObject* Sender, std::uint16_t errorNo, const std::string& msg)>;

    // Raises ESockError "Initializaton of windows sockets failed" when start-up fails.
    explicit TPowersock(QObject* owner);
    ~TPowersock() override;

    // The machine's own IPv4 address as a dotted quad; "" when it can not be found. The
    // resolver's answer for the host name (the first address in the resolver's order) when it
    // comes within HostLookupWaitMs; otherwise the interfaces' address, and the same for every
    // later call for that host name, so the address shown does not change from one call to the
    // next. The window never waits longer than that moment for a resolver.
    std::string LocalIP();

    // The resolver LocalIP asks (tests put a stand-in here); empty: the system's resolver.
    using Resolver = std::function<std::vector<IPv4Bytes>(const std::string& hostName)>;
    static void setResolver(Resolver resolver);
    // True while a lookup that LocalIP stopped waiting for is still running.
    static bool hostLookupPending();

    std::string SocketCheck(std::uint16_t ignore);
    std::string ErrorMessage(std::uint16_t code);
    void StatusMessage(int level, const std::string& text);

    static int WinsockUsers();
    const std::vector<std::string>& WinsockInfo() const { return info_; }

    std::string Host;
    std::uint16_t Port = 0;
    int TimeOut = 0;
    int ReportLevel = 0;
    int LastErrorNo = 0;
    const std::string& StatusText() const { return status_; }
    TOnStatus OnStatus;
    TErrorEvent OnErrorEvent;

private:
    void InitWinsock();
    void closeSocket();

    int fd_ = -1;
    bool destroying_ = false;
    bool canceled_ = false;
    std::vector<std::string> info_;
    std::string status_;
};

} // namespace velmar
