#pragma once
#include <string>

namespace velmar::test {

// The whole content of a file, byte for byte; empty when it can not be read.
std::string readFile(const std::string& file);
// Replaces the whole content of a file with `bytes`, byte for byte.
void writeFile(const std::string& file, const std::string& bytes);

// A fresh temporary folder made the XDG_CONFIG_HOME of this process for the object's lifetime,
// so every test works on a hive store of its own. The process-wide registry store is reopened
// on entry and on exit.
class TempConfig {
public:
    TempConfig();
    ~TempConfig();
    TempConfig(const TempConfig&) = delete;
    TempConfig& operator=(const TempConfig&) = delete;

    const std::string& dir() const { return dir_; }
    std::string hiveFile() const;

private:
    std::string dir_;
    std::string oldValue_;
    bool hadOld_ = false;
};

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace velmar::test
