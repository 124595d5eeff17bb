#include "sockets/Psock.h"

#include "sockets/SocketShim.h"
#include "sockets/SystemResolver.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmar {

namespace {

// Live components in this process; the first starts the socket layer, the last one gone shuts
// it down. Only the UI thread touches it.
int winsockUsers = 0;

constexpr const char* InitFailed = "Initializaton of windows sockets failed";
constexpr int NoSocket = 65535;

struct ErrorText {
    std::int32_t code;
    const char* text;
};

constexpr ErrorText ErrorTexts[] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};
static_assert(std::size(ErrorTexts) == 50);

bool isLoopback(const IPv4Bytes& a) {
    return a[0] == 127;
}

IPv4Bytes bytesOf(const in_addr& addr) {
    IPv4Bytes b{};
    std::memcpy(b.data(), &addr.s_addr, 4);
    return b;
}

// The interface of the IPv4 default route with the lowest metric, from the kernel's routing
// table; "" when there is none (or no such table).
std::string defaultRouteInterface() {
    std::ifstream table("/proc/net/route");
    std::string line;
    std::getline(table, line); // the header
    std::string best;
    unsigned long bestMetric = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string iface, destination, gateway, mask;
        unsigned long flags = 0, refCount = 0, use = 0, metric = 0;
        if (!(fields >> iface >> destination >> gateway >> std::hex >> flags >> std::dec >>
              refCount >> use >> metric >> mask))
            continue;
        constexpr unsigned long RouteUp = 0x1;
        if (destination != "00000000" || mask != "00000000" || !(flags & RouteUp))
            continue;
        if (best.empty() || metric < bestMetric) {
            best = iface;
            bestMetric = metric;
        }
    }
    return best;
}

// Bridges and virtual links that container engines and virtual machine managers make: their
// addresses are reachable from this machine only.
bool isVirtualBridge(const std::string& name) {
    static const char* const prefixes[] = {"docker",  "br-",   "veth",  "virbr",      "vmnet",
                                           "vboxnet", "lxcbr", "lxdbr", "podman",     "cni",
                                           "flannel", "cali",  "weave", "kube-bridge"};
    for (const char* prefix : prefixes) {
        if (name.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

// A lookup of the host name that LocalIP may stop waiting for: it then runs on in its own thread
// and keeps its answer here.
struct HostLookup {
    std::string name;
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    std::vector<IPv4Bytes> addresses;
};

// All touched on the UI thread only.
std::shared_ptr<HostLookup> pendingLookup;
TPowersock::Resolver customResolver;
// The host name whose lookup once took longer than LocalIP waits: from then on LocalIP answers
// from the interfaces for it, so refreshes show the same address and not, once the late answer
// came, another.
std::string slowHostName;

std::shared_ptr<HostLookup> startLookup(const std::string& name) {
    auto lookup = std::make_shared<HostLookup>();
    lookup->name = name;
    TPowersock::Resolver resolver = customResolver;
    try {
        std::thread([lookup, resolver] {
            std::vector<IPv4Bytes> addresses;
            try {
                addresses = resolver ? resolver(lookup->name) : ResolveIPv4(lookup->name);
            } catch (...) {
                addresses.clear(); // a failed lookup lists nothing
            }
            const std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->addresses = std::move(addresses);
            lookup->done = true;
            lookup->answered.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the lookup counts as one that lists nothing.
        const std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->done = true;
    }
    return lookup;
}

std::string versionText(int major, int minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

} // namespace

std::string FormatDottedQuad(const IPv4Bytes& addr) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", unsigned{addr[0]}, unsigned{addr[1]},
                  unsigned{addr[2]}, unsigned{addr[3]});
    return text;
}

std::vector<InterfaceAddress> MachineInterfaces() {
    std::vector<InterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    const std::string routed = defaultRouteInterface();
    for (const ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET)
            continue;
        InterfaceAddress entry;
        entry.name = ifa->ifa_name ? ifa->ifa_name : "";
        entry.address = bytesOf(reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr);
        entry.up = (ifa->ifa_flags & IFF_UP) != 0;
        entry.carrier = (ifa->ifa_flags & IFF_RUNNING) != 0;
        entry.defaultRoute = !routed.empty() && entry.name == routed;
        result.push_back(std::move(entry));
    }
    ::freeifaddrs(list);
    return result;
}

std::string ChooseInterfaceAddress(const std::vector<InterfaceAddress>& interfaces) {
    const InterfaceAddress* chosen = nullptr;
    for (const InterfaceAddress& i : interfaces) {
        const IPv4Bytes& a = i.address;
        if (!i.up || !i.carrier || isLoopback(a) || a == IPv4Bytes{0, 0, 0, 0} ||
            (a[0] == 169 && a[1] == 254) || isVirtualBridge(i.name))
            continue;
        if (i.defaultRoute)
            return FormatDottedQuad(a);
        if (!chosen)
            chosen = &i;
    }
    return chosen ? FormatDottedQuad(chosen->address) : "";
}

std::string PickLanAddress(const std::vector<IPv4Bytes>& resolverAddrs,
                           const std::vector<InterfaceAddress>& interfaces) {
    if (resolverAddrs.empty())
        return "";
    const IPv4Bytes& first = resolverAddrs.front();
    if (!isLoopback(first))
        return FormatDottedQuad(first);
    const std::string own = ChooseInterfaceAddress(interfaces);
    return own.empty() ? FormatDottedQuad(first) : own;
}

TPowersock::TPowersock(QObject* owner) : QObject(owner) {
    StatusMessage(8, "Create");
    TimeOut = 0;
    canceled_ = false;
    destroying_ = false;
    InitWinsock();
}

void TPowersock::InitWinsock() {
    StatusMessage(8, "Initializing Winsock");
    ++winsockUsers;
    if (winsockUsers == 1) {
        // Unlike the platform, a refused start-up is taken seriously: a component that went on
        // without one would later give back a start-up it never held.
        if (net::startup() != 0) {
            --winsockUsers;
            throw ESockError(InitFailed);
        }
        rlimit files{};
        const long maxSockets =
            ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                ? static_cast<long>(files.rlim_cur)
                : 32767;
        info_.push_back("Version= " + versionText(1, 1));
        info_.push_back("High Version= " + versionText(2, 2));
        info_.push_back("Description= POSIX sockets (Linux)");
        info_.push_back("System= Running");
        info_.push_back("Max Sockets= " + std::to_string(maxSockets));
        info_.push_back("Max Udp pack size= " + std::to_string(65507));
    }
    try {
        fd_ = net::tcpSocket();
        if (fd_ >= NoSocket) {
            // A handle the 16-bit socket field can not hold.
            net::closeSocket(fd_);
            fd_ = -1;
            net::setLastError(10024);
            throw ESockError(InitFailed);
        }
        if (fd_ < 0) {
            SocketCheck(net::WSAEWOULDBLOCK);
        } else {
            // Closing discards unsent data at once.
            linger lingerOn{};
            lingerOn.l_onoff = 1;
            lingerOn.l_linger = 0;
            (void)::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &lingerOn, sizeof lingerOn);
        }
    } catch (...) {
        if (fd_ >= 0) {
            net::closeSocket(fd_);
            fd_ = -1;
        }
        if (--winsockUsers == 0)
            net::cleanup();
        throw ESockError(InitFailed);
    }
}

TPowersock::~TPowersock() {
    StatusMessage(8, "Destroy");
    // Abort, then cancel once more.
    StatusMessage(8, "Abort");
    StatusMessage(8, "Canceling");
    canceled_ = true;
    StatusMessage(8, "Canceling");
    canceled_ = true;
    info_.clear();
    destroying_ = true;
    try {
        closeSocket();
    } catch (...) {
        // A socket that would not close is gone all the same; the count must stay right.
    }
    if (--winsockUsers == 0)
        net::cleanup();
}

void TPowersock::closeSocket() {
    StatusMessage(4, "Request Close Socket");
    if (fd_ < 0)
        return;
    const int fd = fd_;
    fd_ = -1;
    // The component is only ever closed when it is destroyed, so no fresh socket follows.
    if (net::closeSocket(fd) != 0)
        SocketCheck(net::WSAEWOULDBLOCK);
}

std::string TPowersock::LocalIP() {
    StatusMessage(8, "Getting Local IP");
    char name[201] = {};
    if (::gethostname(name, 200) != 0)
        return "";
    name[200] = '\0';

    // A resolver that once missed its moment for this name is not asked again: the interfaces
    // answer, as they did then.
    if (slowHostName == name)
        return ChooseInterfaceAddress(MachineInterfaces());
    std::shared_ptr<HostLookup> lookup = startLookup(name);
    std::unique_lock<std::mutex> lock(lookup->mutex);
    lookup->answered.wait_for(lock, std::chrono::milliseconds(HostLookupWaitMs),
                              [&] { return lookup->done; });
    if (lookup->done) {
        const std::vector<IPv4Bytes> addresses = lookup->addresses;
        lock.unlock();
        return PickLanAddress(addresses, MachineInterfaces());
    }
    lock.unlock();
    pendingLookup = lookup; // it runs on in its thread; its answer is not used
    slowHostName = name;
    return ChooseInterfaceAddress(MachineInterfaces());
}

void TPowersock::setResolver(Resolver resolver) {
    customResolver = std::move(resolver);
    pendingLookup.reset();
    slowHostName.clear();
}

bool TPowersock::hostLookupPending() {
    if (!pendingLookup)
        return false;
    const std::lock_guard<std::mutex> lock(pendingLookup->mutex);
    return !pendingLookup->done;
}

void TPowersock::StatusMessage(int level, const std::string& text) {
    try {
        if (level > ReportLevel)
            return;
        status_ = text;
        if (!destroying_ && OnStatus) {
            const TOnStatus handler = OnStatus;
            handler(this, status_);
        }
    } catch (...) {
        // A status report never fails the operation that made it.
    }
}

std::string TPowersock::SocketCheck(std::uint16_t ignore) {
    const int code = net::lastError();
    LastErrorNo = code;
    if (code != ignore && code > 10000) {
        const std::string message = ErrorMessage(static_cast<std::uint16_t>(code));
        if (OnErrorEvent) {
            const TErrorEvent handler = OnErrorEvent;
            handler(this, static_cast<std::uint16_t>(code), message);
        }
        throw ESockError(message);
    }
    return "";
}

std::string TPowersock::ErrorMessage(std::uint16_t code) {
    StatusMessage(8, "Looking Up Error Message");
    if (code == 0)
        return "";
    for (const ErrorText& row : ErrorTexts) {
        if (row.code == code)
            return std::to_string(code) + ":" + row.text;
    }
    return "Unknown Error No. " + std::to_string(code);
}

int TPowersock::WinsockUsers() {
    return winsockUsers;
}

} // namespace velmar
