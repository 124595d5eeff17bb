#include "sockets/SocketShim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace velmar;

TEST(SocketShim, StartupCountingAndRefusal) {
    const int base = net::startupCount();
    ASSERT_EQ(net::startup(), 0);
    ASSERT_EQ(net::startup(), 0);
    EXPECT_EQ(net::startupCount(), base + 2);
    net::cleanup();
    net::cleanup();
    EXPECT_EQ(net::startupCount(), base);

    net::failNextStartups(2);
    EXPECT_NE(net::startup(), 0);
    EXPECT_EQ(net::lastError(), 10091);
    EXPECT_NE(net::startup(), 0);
    EXPECT_EQ(net::startupCount(), base);
    EXPECT_EQ(net::startup(), 0);
    net::cleanup();
    EXPECT_EQ(net::startupCount(), base);
}

TEST(SocketShim, NoSocketWithoutAStartUp) {
    ASSERT_EQ(net::startupCount(), 0);
    net::setLastError(0);
    EXPECT_EQ(net::udpSocket(), -1);
    EXPECT_EQ(net::lastError(), 10093);
    // A clean-up too many does not drive the count below zero.
    net::cleanup();
    EXPECT_EQ(net::startupCount(), 0);
    EXPECT_EQ(net::tcpSocket(), -1);
}

TEST(SocketShim, SocketsAreNonBlockingAndNotInherited) {
    ASSERT_EQ(net::startup(), 0);
    const int udp = net::udpSocket();
    const int tcp = net::tcpSocket();
    ASSERT_GE(udp, 0);
    ASSERT_GE(tcp, 0);
    for (int fd : {udp, tcp}) {
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
        EXPECT_TRUE(fcntl(fd, F_GETFL) & O_NONBLOCK);
    }
    // A started program sees neither handle.
    const std::string script = "test -e /proc/self/fd/" + std::to_string(udp) +
                               " || test -e /proc/self/fd/" + std::to_string(tcp) +
                               "; [ $? -ne 0 ]";
    const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a socket leaked into a child";

    EXPECT_EQ(net::closeSocket(udp), 0);
    EXPECT_EQ(net::closeSocket(tcp), 0);
    EXPECT_EQ(net::closeSocket(udp), -1);
    EXPECT_EQ(net::lastError(), 10009);
    net::cleanup();
}

TEST(SocketShim, ErrnoInWinSockNumbers) {
    EXPECT_EQ(net::wsaErrorFromErrno(0), 0);
    EXPECT_EQ(net::wsaErrorFromErrno(EADDRINUSE), 10048);
    EXPECT_EQ(net::wsaErrorFromErrno(EWOULDBLOCK), 10035);
    EXPECT_EQ(net::wsaErrorFromErrno(EAGAIN), 10035);
    EXPECT_EQ(net::wsaErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(net::wsaErrorFromErrno(EMSGSIZE), 10040);
    EXPECT_EQ(net::wsaErrorFromErrno(EMFILE), 10024);
    EXPECT_EQ(net::wsaErrorFromErrno(EHOSTUNREACH), 10065);
    EXPECT_EQ(net::wsaErrorFromErrno(EADDRNOTAVAIL), 10049);
    // An errno without a counterpart never turns into a code that means something else
    // (EDEADLK is 35 on Linux; 10035 would read as "would block").
    EXPECT_EQ(net::wsaErrorFromErrno(EDEADLK), 10022);
    EXPECT_EQ(net::wsaErrorFromErrno(ENOTSOCK), 10038);
}
