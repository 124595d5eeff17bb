// The whole program started with Qt's own command-line options and at another text size.
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/wait.h>

using namespace velmar::test;

namespace {

std::string run(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    std::array<char, 4096> buf{};
    while (std::size_t n = fread(buf.data(), 1, buf.size(), p))
        out.append(buf.data(), n);
    pclose(p);
    return out;
}

class CommandLine : public ::testing::Test {
protected:
    // The driver's report of the window; `platform` is the QT_QPA_PLATFORM value.
    std::string report(const std::string& arguments, const std::string& platform = "offscreen",
                       const std::string& extraEnv = "") {
        return run("XDG_CONFIG_HOME='" + config.path() + "' QT_QPA_PLATFORM='" + platform + "' " +
                   extraEnv + " " + VELMAR_BIN_DIR + "/velmar-launcher-driver report " + arguments);
    }
    TempDir config;
    TempDir scratch;
};

} // namespace

TEST_F(CommandLine, NoOptionChangesTheWindow) {
    const std::string plain = report("");
    ASSERT_NE(plain.find("caption=Tobrel's Velmar Launch Tool - Version 1.1\n"), std::string::npos)
        << plain;
    for (const char* arguments : {"-reverse", "-qwindowtitle Anders", "-geometry 200x100+40+50",
                                  "-qwindowgeometry 200x100+40+50", "-style windows", "/s"})
        EXPECT_EQ(report(arguments), plain) << arguments;
    // The environment still chooses, as it chooses the platform for every test.
    EXPECT_NE(report("", "offscreen", "QT_STYLE_OVERRIDE=windows").find("style=windows\n"),
              std::string::npos);
}

TEST_F(CommandLine, TheWindowsPositionScalesWithTheTextSize) {
    // A screen of 192 dpi whose text is not scaled by Qt itself: the program scales.
    const std::string file = scratch.path() + "/screen.json";
    std::ofstream(file) << R"({ "screens": [ { "name": "big", "x": 0, "y": 0, "width": 2560,
        "height": 1600, "logicalDpi": 192, "logicalBaseDpi": 96, "dpr": 1 } ] })";
    const std::string out =
        report("", "offscreen:configfile=" + file, "QT_ENABLE_HIGHDPI_SCALING=0");
    ASSERT_NE(out.find("size=782x814\n"), std::string::npos) << out; // 391 x 407, doubled
    EXPECT_NE(out.find("pos=466,556\n"), std::string::npos) << out;
}
