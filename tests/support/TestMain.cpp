// Test entry point: a QApplication on the offscreen platform, so widget tests and event loops
// work without a display.
#include "platform/toolkit/Application.h"
#include <gtest/gtest.h>

#include <cstdlib>

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
    velmar::Application app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
