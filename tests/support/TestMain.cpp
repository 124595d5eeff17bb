// Test entry point: a QApplication on the offscreen platform, so widget tests and event loops
// work without a display.
#include "platform/toolkit/Application.h"
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // A safety net: a request that was meant for a real web host goes to a closed port on this
    // machine instead (loopback requests never use a proxy).
    setenv("http_proxy", "http://127.0.0.1:9", 1);
    setenv("https_proxy", "http://127.0.0.1:9", 1);
    // No test reads or runs the user's own Wine prefix (~/.wine): tests that need a prefix make
    // one and name it themselves.
    setenv("WINEPREFIX", "/nonexistent/velmar-tests-have-no-wine-prefix", 1);
    // Nor the prefixes of the user's game launchers, nor the user's state folder: HOME is an
    // empty folder of the test program's own.
    char home[] = "/tmp/velmar-test-home-XXXXXX";
    if (!mkdtemp(home))
        return 1;
    setenv("HOME", home, 1);
    unsetenv("XDG_STATE_HOME");
    int result = 0;
    {
        velmar::Application app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return result;
}
