#pragma once
// A thin layer over POSIX sockets that keeps the Windows Sockets habits the socket components
// were written against: a per-process start-up count, error codes in the WinSock numbering,
// and handles that are never inherited by child processes.
#include <cstdint>

namespace velmar::net {

constexpr int WSAEWOULDBLOCK = 10035;

// Start-up and clean-up are counted per process; startup() returns 0 on success.
int startup();
void cleanup();
int startupCount();
// Test hook: the next `n` calls of startup() fail (as when the platform refuses).
void failNextStartups(int n);
// Test hook: the next `n` socket creations fail with 10024 (too many open files).
void failNextSockets(int n);

// The last error of a socket call on this thread, in the WinSock numbering (errno mapped,
// e.g. EADDRINUSE -> 10048, EWOULDBLOCK -> 10035; 0 when there was none).
int lastError();
void setLastError(int wsaCode);
// Maps an errno value to the WinSock numbering.
int wsaErrorFromErrno(int err);

// -1 on failure (lastError() tells why). Created close-on-exec and non-blocking. Like the
// platform they stand for, they fail with 10093 while no start-up is held in the process.
int udpSocket();
int tcpSocket();
int closeSocket(int fd);

} // namespace velmar::net
