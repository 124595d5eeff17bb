#pragma once
// The system's resolver asked for the IPv4 addresses of a host name, as Windows Sockets'
// gethostbyname answers: every lookup asks anew (nothing is cached here), only IPv4 addresses
// are asked for, and they come in the resolver's own order (the hosts file's, the name server's),
// not re-sorted by destination address as getaddrinfo sorts them.
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <netdb.h>
#include <sys/socket.h>

namespace velmar {

// Blocking; safe on any thread. Empty when the name does not resolve to an IPv4 address.
inline std::vector<std::array<std::uint8_t, 4>> ResolveIPv4(const std::string& name) {
    std::vector<std::array<std::uint8_t, 4>> result;
    std::vector<char> work(2048);
    hostent entry{};
    hostent* found = nullptr;
    int error = 0;
    while (::gethostbyname2_r(name.c_str(), AF_INET, &entry, work.data(), work.size(), &found,
                              &error) == ERANGE &&
           work.size() < (1u << 20))
        work.resize(work.size() * 2);
    if (!found || found->h_addrtype != AF_INET || found->h_length != 4)
        return result;
    for (char** address = found->h_addr_list; address && *address; ++address) {
        std::array<std::uint8_t, 4> bytes{};
        std::memcpy(bytes.data(), *address, 4);
        result.push_back(bytes);
    }
    return result;
}

} // namespace velmar
