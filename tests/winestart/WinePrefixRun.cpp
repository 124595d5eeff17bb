#include "tests/winestart/WinePrefixRun.h"

#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>

namespace velmar::test {

namespace {

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

class WinePrefixEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Without a UTF-8 locale Wine garbles names beyond ASCII; its debugging output is noise.
        setenv("LANG", "C.UTF-8", 1);
        setenv("WINEDEBUG", "-all", 1);
        if (std::filesystem::exists(VELMAR_TEST_WINEPREFIX "/system.reg")) {
            prefix_ = VELMAR_TEST_WINEPREFIX;
        } else {
            own_ = std::make_unique<TempDir>();
            prefix_ = own_->path() + "/prefix";
            const std::string command = std::string(VELMAR_PREFIX_SCRIPT) + " setup " +
                                        quote(prefix_) + " " + quote(VELMAR_STANDIN);
            ASSERT_EQ(std::system(command.c_str()), 0) << readFile(prefix_ + ".log");
        }
        setenv("WINEPREFIX", prefix_.c_str(), 1);
    }
    void TearDown() override {
        if (own_) {
            const std::string command =
                std::string(VELMAR_PREFIX_SCRIPT) + " cleanup " + quote(prefix_);
            EXPECT_EQ(std::system(command.c_str()), 0);
            own_.reset();
        }
    }
    std::string prefix_;

private:
    std::unique_ptr<TempDir> own_;
};

WinePrefixEnvironment* const environment = static_cast<WinePrefixEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new WinePrefixEnvironment));

} // namespace

const std::string& winePrefix() {
    return environment->prefix_;
}

void installStandIn(const std::string& file) {
    std::filesystem::copy_file(VELMAR_STANDIN, file,
                               std::filesystem::copy_options::overwrite_existing);
}

std::string waitForRecord(const std::string& file, int seconds) {
    const std::filesystem::path path(file);
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0)
        return {};
    // Watch first, then look: a record that arrives in between is not missed.
    inotify_add_watch(fd, path.parent_path().c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    std::string record;
    for (;;) {
        if (std::filesystem::exists(path)) {
            record = readFile(file);
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) > 0) {
            char events[4096];
            [[maybe_unused]] const ssize_t n = read(fd, events, sizeof events);
        }
    }
    close(fd);
    return record;
}

int runWithWine(const std::string& command, const std::string& outputFile) {
    const std::string line = "WINEPREFIX=" + quote(winePrefix()) + " LANG=C.UTF-8 WINEDEBUG=-all " +
                             command + " > " + quote(outputFile) + " 2>&1 < /dev/null";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string windows32BitProgram() {
    std::string image(0x400, '\0');
    auto put16 = [&](std::size_t at, std::uint16_t v) {
        image[at] = static_cast<char>(v);
        image[at + 1] = static_cast<char>(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        put16(at, static_cast<std::uint16_t>(v));
        put16(at + 2, static_cast<std::uint16_t>(v >> 16));
    };
    image[0] = 'M';
    image[1] = 'Z';
    put32(0x3c, 0x40); // where the PE header starts
    image.replace(0x40, 4, std::string("PE\0\0", 4));
    // File header: i386, one section, a PE32 optional header, an executable image.
    put16(0x44, 0x14c);
    put16(0x46, 1);
    put16(0x54, 0xe0);
    put16(0x56, 0x0102);
    const std::size_t opt = 0x58;
    put16(opt + 0, 0x10b);     // PE32
    put32(opt + 4, 0x200);     // size of code
    put32(opt + 16, 0x1000);   // entry point
    put32(opt + 20, 0x1000);   // base of code
    put32(opt + 24, 0x1000);   // base of data
    put32(opt + 28, 0x400000); // image base
    put32(opt + 32, 0x1000);   // section alignment
    put32(opt + 36, 0x200);    // file alignment
    put16(opt + 40, 4);        // operating system version
    put16(opt + 48, 4);        // subsystem version
    put32(opt + 56, 0x2000);   // size of image
    put32(opt + 60, 0x200);    // size of headers
    put16(opt + 68, 3);        // console subsystem
    put32(opt + 72, 0x100000); // stack reserve
    put32(opt + 76, 0x1000);   // stack commit
    put32(opt + 80, 0x100000); // heap reserve
    put32(opt + 84, 0x1000);   // heap commit
    put32(opt + 92, 16);       // number of data directories (all empty)
    const std::size_t section = opt + 0xe0;
    image.replace(section, 5, ".text");
    put32(section + 8, 0x1000);  // virtual size
    put32(section + 12, 0x1000); // virtual address
    put32(section + 16, 0x200);  // size of raw data
    put32(section + 20, 0x200);  // pointer to raw data
    put32(section + 36, 0x60000020);
    image.replace(0x200, 3, "\x31\xc0\xc3"); // xor eax, eax; ret
    return image;
}

} // namespace velmar::test
