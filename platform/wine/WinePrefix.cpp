#include "platform/wine/WinePrefix.h"

#include <QString>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace velmar::wine {

namespace {

bool isFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (home && *home)
        return home;
    const passwd* pw = getpwuid(getuid());
    return pw ? pw->pw_dir : "";
}

std::string prefixPath() {
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix)
        return prefix;
    return homeFolder() + "/.wine";
}

std::string prefixOfFolder(const std::string& folder) {
    if (folder.empty() || folder.front() != '/')
        return {};
    std::string path = std::filesystem::path(folder).lexically_normal().string();
    for (;;) {
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        if (isFile(path + "/system.reg") && isFolder(path + "/drive_c"))
            return path;
        if (path == "/")
            return {};
        path = std::filesystem::path(path).parent_path().string();
    }
}

bool prefixToBeMade(const std::string& prefix) {
    struct stat info {};
    if (lstat(prefix.c_str(), &info) != 0)
        return errno == ENOENT;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(prefix.c_str()), closedir);
    if (!dir)
        return false;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            return false;
    }
    return true;
}

std::string stateFolder() {
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string base =
        state && *state == '/' ? std::string(state) : homeFolder() + "/.local/state";
    return base + "/VelmarLauncher";
}

std::string systemRegistryFile(const std::string& prefix) {
    return prefix + "/system.reg";
}

bool prefixExists(const std::string& prefix) {
    return isFile(systemRegistryFile(prefix));
}

bool isDrivePath(const std::string& path) {
    return path.size() >= 2 && path[1] == ':' &&
           ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::optional<std::string> findEntry(const std::string& folder, const std::string& name) {
    struct stat info {};
    const std::string exact = folder + "/" + name;
    if (lstat(exact.c_str(), &info) == 0)
        return name;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "/" : folder.c_str()),
                                            closedir);
    if (!dir)
        return std::nullopt;
    const QString wanted = QString::fromStdString(name);
    while (const dirent* entry = readdir(dir.get())) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..")
            continue;
        if (QString::fromStdString(candidate).compare(wanted, Qt::CaseInsensitive) == 0)
            return candidate;
    }
    return std::nullopt;
}

std::string unixPath(const std::string& prefix, const std::string& path) {
    if (!isDrivePath(path))
        return path;
    const char letter = static_cast<char>(path[0] | 0x20);
    std::string result = prefix + "/dosdevices/" + letter + ":";
    // The drive's own folder, with the link resolved, so the result reads as the user's files do.
    if (char* real = realpath(result.c_str(), nullptr)) {
        result = real;
        std::free(real);
    }
    const std::size_t root = result.size(); // ".." never leaves the drive
    bool onDisk = true;
    std::size_t pos = 2;
    while (pos <= path.size()) {
        std::size_t end = path.find_first_of("\\/", pos);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            if (result.size() > root)
                result.erase(std::max(result.find_last_of('/'), root));
            continue;
        }
        std::optional<std::string> entry;
        if (onDisk)
            entry = findEntry(result, name);
        onDisk = entry.has_value();
        if (result.empty() || result.back() != '/')
            result += '/';
        result += entry ? *entry : name;
    }
    return result;
}

} // namespace velmar::wine
