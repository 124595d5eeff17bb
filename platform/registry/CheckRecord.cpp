#include "platform/registry/CheckRecord.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace velmar::hivestore {

namespace {

constexpr const char* Tag = "velmar-registry-checked 1 ";
constexpr std::size_t MaxRecord = 512;

std::string recordFile(const std::string& file) {
    return file + "-checked";
}

bool before(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

std::string describe(const struct stat& st) {
    return std::to_string(st.st_dev) + ' ' + std::to_string(st.st_ino) + ' ' +
           std::to_string(st.st_size) + ' ' + std::to_string(st.st_mtim.tv_sec) + '.' +
           std::to_string(st.st_mtim.tv_nsec) + ' ' + std::to_string(st.st_ctim.tv_sec) + '.' +
           std::to_string(st.st_ctim.tv_nsec);
}

// Up to `limit` bytes of a regular file; nullopt when it can not be read or is longer.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit,
                                         struct stat* st = nullptr) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat own {};
    std::string text;
    bool ok = ::fstat(fd, &own) == 0 && S_ISREG(own.st_mode);
    char buf[4096];
    while (ok) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        text.append(buf, static_cast<std::size_t>(n));
        ok = text.size() <= limit;
    }
    ::close(fd);
    if (!ok)
        return std::nullopt;
    if (st)
        *st = own;
    return text;
}

} // namespace

std::optional<std::string> fileState(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    return describe(st);
}

bool checkedBefore(const std::string& file, const std::string& state) {
    const auto text = readSmallFile(recordFile(file), MaxRecord);
    const std::string head = Tag + state + " at ";
    if (!text || text->rfind(head, 0) != 0 || text->back() != '\n')
        return false;
    long long sec = 0, nsec = 0;
    char end = 0;
    if (std::sscanf(text->c_str() + head.size(), "%lld.%lld%c", &sec, &nsec, &end) != 3 ||
        end != '\n')
        return false;
    const timespec began{static_cast<time_t>(sec), static_cast<long>(nsec)};
    struct stat now {};
    if (::stat(file.c_str(), &now) != 0 || describe(now) != state)
        return false;
    return before(now.st_mtim, began) && before(now.st_ctim, began);
}

CheckNote::CheckNote(const std::string& file) : file_(file) {
    std::string temp = recordFile(file) + "." + std::to_string(::getpid());
    ::unlink(temp.c_str()); // made anew, so that its time is the time of this check
    fd_ = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    struct stat st {};
    if (fd_ < 0)
        return;
    temp_ = std::move(temp);
    if (::fstat(fd_, &st) == 0)
        began_ = std::to_string(st.st_mtim.tv_sec) + '.' + std::to_string(st.st_mtim.tv_nsec);
}

CheckNote::~CheckNote() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

void CheckNote::keep(const std::string& state) {
    if (fd_ < 0 || began_.empty())
        return;
    const std::string text = Tag + state + " at " + began_ + '\n';
    const bool written =
        ::write(fd_, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    if (written && closed && std::rename(temp_.c_str(), recordFile(file_).c_str()) == 0)
        temp_.clear();
}

void forgetChecked(const std::string& file) {
    ::unlink(recordFile(file).c_str());
}

bool logLeftBehind(const std::string& file) {
    struct stat wal {
    }, shm{};
    if (::stat((file + "-wal").c_str(), &wal) != 0 || wal.st_size == 0)
        return false;
    if (::stat((file + "-shm").c_str(), &shm) != 0)
        return true;
    // Every connection to the file holds a shared lock on the log's index (the -shm file) for
    // as long as it is open; the kernel lists every lock in /proc/locks, as
    // "1: POSIX  ADVISORY  READ 1234 fd:01:5678 128 128" (device in hex, then the inode). The
    // index file is not opened here: closing it would drop this process's own SQLite locks.
    const auto locks = readSmallFile("/proc/locks", 16u << 20);
    if (!locks)
        return true;
    char device[64];
    std::snprintf(device, sizeof device, "%02x:%02x:", major(shm.st_dev), minor(shm.st_dev));
    const std::string wanted = device + std::to_string(shm.st_ino);
    std::istringstream lines(*locks);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        while (words >> word)
            if (word == wanted)
                return false;
    }
    return true;
}

} // namespace velmar::hivestore
