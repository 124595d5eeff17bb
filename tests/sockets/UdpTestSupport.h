#pragma once
// Helpers for the socket tests: the shared UDP stand-in on 127.0.0.1 playing the other end, a
// free port for an endpoint to bind, and waiting on the Qt event loop.
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/UdpStandIn.h"
#include "tests/support/TempConfig.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace velmar::test {

// Runs the tests `filter` of this program again in user and mount namespaces of their own, with
// a file holding `hosts` as /etc/hosts (they find it in VELMAR_TEST_HOSTS and may rewrite it) and
// host names looked up in it alone. The run's exit status (-1: no such namespaces here).
inline int runWithOwnHostsFile(const std::string& hosts, const std::string& filter) {
    if (std::system("unshare -rm true 2>/dev/null") != 0)
        return -1;
    const TempDir dir;
    const std::string file = dir.path() + "/hosts";
    std::ofstream(file) << hosts;
    std::ofstream(file + ".nss") << "hosts: files\n";
    return std::system(("VELMAR_TEST_HOSTS=" + file + " unshare -rm sh -c 'mount --bind $0 " +
                        "/etc/hosts && mount --bind $0.nss /etc/nsswitch.conf && exec $1 " +
                        "--gtest_filter=$2' " + file + " " +
                        std::filesystem::read_symlink("/proc/self/exe").string() + " " + filter)
                           .c_str());
}

} // namespace velmar::test
