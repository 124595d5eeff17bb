#include "platform/files/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar::files {

namespace {

// What a file that is not a regular one is, for a message; "" for a regular file.
std::string kindOf(mode_t mode) {
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a named pipe (FIFO)";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a file";
}

} // namespace

RegularFile::RegularFile(const std::string& path) : path_(path) {
    // Looked at before it is opened, so that opening a device has no effect on it; looked at
    // again once open, in case it was replaced in between.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        missing_ = errno == ENOENT || errno == ENOTDIR;
        error_ = path + ": " + std::strerror(errno);
        return;
    }
    std::string kind = kindOf(info.st_mode);
    if (kind.empty()) {
        fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) {
            error_ = path + ": " + std::strerror(errno);
            return;
        }
        if (::fstat(fd_, &info) != 0)
            info.st_mode = 0;
        kind = kindOf(info.st_mode);
    }
    if (!kind.empty()) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        error_ = path + " is " + kind + ", not a regular file";
        return;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

RegularFile::~RegularFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

long RegularFile::read(char* buffer, std::size_t size) {
    if (fd_ < 0)
        return -1;
    ssize_t n;
    do {
        n = ::read(fd_, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        error_ = path_ + ": " + std::strerror(errno);
        return -1;
    }
    return static_cast<long>(n);
}

} // namespace velmar::files
