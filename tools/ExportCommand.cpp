#include "tools/CommandSupport.h"

#include "tools/CommandLine.h"
#include "tools/RegFileWriter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar::regtool::cli {

int exportFile(const std::vector<std::string>& words, std::ostream& out) {
    Options o =
        parseOptions("export", words, {"The key name", "The file name"}, {" ", " Y "}, true);
    KeyName key = keyArgument("export", o.positional[0]);
    const std::string& file = o.positional[1];
    RegistryBackend& store = defaultRegistryBackend();
    checkStore(store);
    requireKey(store, key);
    std::string bytes, error;
    if (!buildRegFile(store, key, bytes, error))
        throw Failure{"ERROR: " + error + " Nothing was exported."};
    if (bytes.size() > MaxImportFileSize)
        throw Failure{"ERROR: The export would be " + std::to_string(bytes.size() >> 20) +
                      " MiB, more than the 64 MiB that import reads. Export a key further down. "
                      "Nothing was exported."};
    // A link to a file is followed: the file it names is replaced, and the link stays a link.
    std::string target = file;
    struct stat link {};
    if (::lstat(file.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(file.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    struct stat st {};
    const bool present = ::stat(target.c_str(), &st) == 0;
    const bool existed = present && S_ISREG(st.st_mode);
    if (existed && !o.has("Y") &&
        !confirm(out, "File " + file + " already exists. Overwrite (Yes/No)?",
                 "The file " + file + " exists and was not overwritten."))
        cancelled();
    int why = 0;
    const auto writeAll = [&bytes, &why](int fd) {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                why = n < 0 ? errno : ENOSPC;
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    };
    // Something that is not a file (a terminal, a pipe, a device) is written to as it is: there
    // is no old file to keep, and it is never replaced.
    if (present && !S_ISREG(st.st_mode)) {
        const int fd = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        bool ok = fd >= 0;
        if (!ok)
            why = errno;
        ok = ok && writeAll(fd);
        if (fd >= 0 && ::close(fd) != 0 && ok) {
            ok = false;
            why = errno;
        }
        if (!ok)
            throw Failure{"ERROR: The file " + file + " can not be written: " + std::strerror(why) +
                          "."};
        out << Done << "\n";
        return 0;
    }
    // Written whole into a new file beside the old one, synced, then put in its place: a full
    // disk or a power cut leaves the old file as it was, never one cut off.
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    std::string temp = (slash == std::string::npos ? "" : target.substr(0, slash + 1)) + "." +
                       target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    bool ok = fd >= 0;
    if (!ok)
        why = errno;
    ok = ok && writeAll(fd);
    // The new file gets the old one's permissions, or those a newly created file would get
    // (mkostemp makes it 0600).
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const mode_t mode = existed ? (st.st_mode & 07777) : (0666 & ~mask);
    if (ok && ::fchmod(fd, mode) != 0) {
        ok = false;
        why = errno;
    }
    if (ok && ::fsync(fd) != 0) {
        ok = false;
        why = errno;
    }
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        ok = false;
        why = errno;
    }
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) {
        ok = false;
        why = errno;
    }
    if (!ok) {
        if (fd >= 0)
            ::unlink(temp.c_str());
        throw Failure{"ERROR: The file " + file + " can not be written: " + std::strerror(why) +
                      ". Nothing was changed."};
    }
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir); // the rename itself reaches the disk
        ::close(dir);
    }
    out << Done << "\n";
    return 0;
}

} // namespace velmar::regtool::cli
