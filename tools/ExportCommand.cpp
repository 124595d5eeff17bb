#include "tools/CommandSupport.h"

#include "tools/RegFileWriter.h"

#include <cerrno>
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
    if (!store.keyExists(key.hive, key.path))
        throw Failure{NotFound};
    std::string bytes, error;
    if (!buildRegFile(store, key, bytes, error))
        throw Failure{"ERROR: " + error + " Nothing was exported."};
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && !o.has("Y") &&
        !confirm(out, "File " + file + " already exists. Overwrite (Yes/No)?",
                 "The file " + file + " exists and was not overwritten."))
        cancelled();
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    bool ok = fd >= 0;
    int why = errno;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            why = errno;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
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

} // namespace velmar::regtool::cli
