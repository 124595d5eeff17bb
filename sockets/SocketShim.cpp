#include "sockets/SocketShim.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

#include <netinet/in.h>

namespace velmar::net {

namespace {
// Everything here runs on the UI thread, like the counters of the socket components; the last
// error is kept per thread all the same, as the platform keeps it.
int startups = 0;
int failingStartups = 0;
int failingSockets = 0;
thread_local int lastErrorCode = 0;

constexpr int WSAEINVAL = 10022;
constexpr int WSAEMFILE = 10024;
constexpr int WSASYSNOTREADY = 10091;
constexpr int WSANOTINITIALISED = 10093;

int makeSocket(int type, int protocol) {
    if (startups <= 0) {
        lastErrorCode = WSANOTINITIALISED;
        return -1;
    }
    if (failingSockets > 0) {
        --failingSockets;
        lastErrorCode = WSAEMFILE;
        return -1;
    }
    // Close-on-exec: the game the launcher starts must not inherit any socket of ours.
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
    if (fd < 0)
        lastErrorCode = wsaErrorFromErrno(errno);
    return fd;
}
} // namespace

int startup() {
    if (failingStartups > 0) {
        --failingStartups;
        lastErrorCode = WSASYSNOTREADY;
        return WSASYSNOTREADY;
    }
    ++startups;
    return 0;
}

void cleanup() {
    if (startups > 0) {
        --startups;
    } else {
        lastErrorCode = WSANOTINITIALISED;
    }
}

int startupCount() {
    return startups;
}

void failNextStartups(int n) {
    failingStartups = n > 0 ? n : 0;
}

void failNextSockets(int n) {
    failingSockets = n > 0 ? n : 0;
}

int lastError() {
    return lastErrorCode;
}

void setLastError(int wsaCode) {
    lastErrorCode = wsaCode;
}

int wsaErrorFromErrno(int err) {
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EACCES:
    case EPERM:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case ESOCKTNOSUPPORT:
        return 10044;
#if EOPNOTSUPP != ENOTSUP
    case ENOTSUP:
#endif
    case EOPNOTSUPP:
        return 10045;
    case EPFNOSUPPORT:
        return 10046;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return 10049;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return 10051;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return 10053;
    case ECONNRESET:
        return 10054;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return 10057;
    case ESHUTDOWN:
    case EPIPE:
        return 10058;
    case ETOOMANYREFS:
        return 10059;
    case ETIMEDOUT:
        return 10060;
    case ECONNREFUSED:
        return 10061;
    case ELOOP:
        return 10062;
    case ENAMETOOLONG:
        return 10063;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return 10065;
    case ENOTEMPTY:
        return 10066;
    case EUSERS:
        return 10068;
    case EDQUOT:
        return 10069;
    case ESTALE:
        return 10070;
    case EREMOTE:
        return 10071;
    default:
        // No WinSock counterpart: report it as the general "invalid argument" failure rather
        // than as a number that could collide with a real WinSock code.
        return WSAEINVAL;
    }
}

int udpSocket() {
    return makeSocket(SOCK_DGRAM, 0);
}

int tcpSocket() {
    return makeSocket(SOCK_STREAM, IPPROTO_TCP);
}

int closeSocket(int fd) {
    if (::close(fd) != 0) {
        lastErrorCode = wsaErrorFromErrno(errno);
        return -1;
    }
    return 0;
}

} // namespace velmar::net
