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
    if (!store.keyExists(key.hive, key.path)) {
        if (!store.lastError().empty()) // not missing: the store (or a prefix) could not tell
            storeFailure(store);
        throw Failure{NotFound};
    }
    std::string bytes, error;
    if (!buildRegFile(store, key, bytes, error))
        throw Failure{"ERROR: " + error + " Nothing was exported."};
    if (bytes.size() > MaxImportFileSize)
        throw Failure{"ERROR: The export would be " + std::to_string(bytes.size() >> 20) +
                      " MiB, more than the 64 MiB that import reads. Export a key further down. "
                      "Nothing was exported."};
    struct stat st {};
    const bool existed = ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    if (existed && !o.has("Y") &&
        !confirm(out, "File " + file + " already exists. Overwrite (Yes/No)?",
                 "The file " + file + " exists and was not overwritten."))
        cancelled();
    // Written whole into a new file beside the old one, synced, then put in its place: a full
    // disk or a power cut leaves the old file as it was, never one cut off.
    const std::size_t slash = file.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash + 1);
    std::string temp = (slash == std::string::npos ? "" : file.substr(0, slash + 1)) + "." +
                       file.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    bool ok = fd >= 0;
    int why = errno;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            why = n < 0 ? errno : ENOSPC;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
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
    if (ok && ::rename(temp.c_str(), file.c_str()) != 0) {
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
