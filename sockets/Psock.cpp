#include "sockets/Psock.h"

#include "sockets/SocketShim.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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

std::vector<IPv4Bytes> resolverAddresses(const char* name) {
    std::vector<IPv4Bytes> result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM; // one entry per address
    addrinfo* list = nullptr;
    if (::getaddrinfo(name, nullptr, &hints, &list) != 0)
        return result;
    for (const addrinfo* ai = list; ai; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr)
            result.push_back(bytesOf(reinterpret_cast<const sockaddr_in*>(ai->ai_addr)->sin_addr));
    }
    ::freeaddrinfo(list);
    return result;
}

std::vector<IPv4Bytes> interfaceAddresses() {
    std::vector<IPv4Bytes> result;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !(ifa->ifa_flags & IFF_UP))
            continue;
        result.push_back(bytesOf(reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr));
    }
    ::freeifaddrs(list);
    return result;
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

std::string ChooseLanAddress(const std::vector<IPv4Bytes>& resolverAddrs,
                             const std::vector<IPv4Bytes>& interfaceAddrs) {
    if (resolverAddrs.empty())
        return "";
    const IPv4Bytes& first = resolverAddrs.front();
    if (!isLoopback(first))
        return FormatDottedQuad(first);
    for (const IPv4Bytes& a : interfaceAddrs) {
        if (!isLoopback(a) && a != IPv4Bytes{0, 0, 0, 0})
            return FormatDottedQuad(a);
    }
    return FormatDottedQuad(first);
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
    return ChooseLanAddress(resolverAddresses(name), interfaceAddresses());
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
