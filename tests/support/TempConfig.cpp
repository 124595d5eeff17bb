#include "tests/support/TempConfig.h"

#include "platform/registry/RegistryBackend.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velmar::test {

namespace {
std::string makeTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmar-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    return pattern;
}
} // namespace

std::string readFile(const std::string& file) {
    std::ifstream f(file, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void writeFile(const std::string& file, const std::string& bytes) {
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    f << bytes;
}

TempDir::TempDir() : path_(makeTempDir()) {}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
}

TempConfig::TempConfig() : dir_(makeTempDir()) {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) {
        hadOld_ = true;
        oldValue_ = old;
    }
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
    resetDefaultRegistryBackend();
}

TempConfig::~TempConfig() {
    resetDefaultRegistryBackend();
    if (hadOld_)
        setenv("XDG_CONFIG_HOME", oldValue_.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string TempConfig::hiveFile() const {
    return defaultHiveFile();
}

} // namespace velmar::test
