#include "tools/CommandSupport.h"

#include "tools/CommandLine.h"
#include "tools/RegFileReader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ostream>
#include <unistd.h>

namespace velmar::regtool::cli {

namespace {

// Reads at most MaxImportFileSize bytes; a longer file (or an endless one like /dev/zero) is
// refused without reading it whole.
std::string readImportFile(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw Failure{"ERROR: The file " + file + " can not be read: " + std::strerror(errno) +
                      "."};
    std::string raw;
    char buf[65536];
    while (true) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int why = errno;
            ::close(fd);
            throw Failure{"ERROR: The file " + file + " can not be read: " + std::strerror(why) +
                          "."};
        }
        if (n == 0)
            break;
        if (raw.size() + static_cast<std::size_t>(n) > MaxImportFileSize) {
            ::close(fd);
            throw Failure{"ERROR: The file " + file +
                          " is larger than 64 MiB, more than any registry file of this program "
                          "holds; it was not imported."};
        }
        raw.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return raw;
}

} // namespace

int importFile(const std::vector<std::string>& words, std::ostream& out, std::ostream& err) {
    Options o = parseOptions("import", words, {"The file name"}, {" ", " "}, true);
    const std::string& file = o.positional[0];
    const std::string raw = readImportFile(file);
    const RegFileContent content = readRegFile(raw);
    // A UTF-16 file is an export (regedit's or ours), and an export ends every key with a blank
    // line: one that ends inside a line (or a character) was cut off, by a full disk perhaps,
    // and is not taken for a complete backup.
    const bool utf16 = raw.size() >= 2 && raw[0] == '\xFF' && raw[1] == '\xFE';
    if (utf16 && content.format == RegFileFormat::Version5) {
        const bool wholeUnits = raw.size() % 2 == 0;
        const bool endsLine = raw.size() >= 4 && raw.compare(raw.size() - 2, 2, "\n\0", 2) == 0;
        if (!wholeUnits || !endsLine)
            throw Failure{"ERROR: The file " + file +
                          " ends in the middle of a line: it was cut off, and the keys after "
                          "that point are missing. Nothing was imported."};
        if (raw.size() < 8 || (raw.compare(raw.size() - 8, 8, "\r\0\n\0\r\0\n\0", 8) != 0 &&
                               raw.compare(raw.size() - 4, 4, "\n\0\n\0", 4) != 0))
            err << "WARNING: " << file
                << " does not end with the blank line that ends a key: it may have been cut off "
                   "after its last line.\n";
    }
    if (content.format == RegFileFormat::Invalid)
        throw Failure{"ERROR: The file " + file +
                      " is not a registry file: its first line is neither \"Windows Registry "
                      "Editor Version 5.00\" nor \"REGEDIT4\". Nothing was imported."};
    if (content.format == RegFileFormat::Ignored) {
        err << "WARNING: " << file
            << " is a registry file of an older kind that is read as empty (its first line is "
               "not \"REGEDIT4\" or \"Windows Registry Editor Version 5.00\"). Nothing was "
               "imported.\n";
        out << Done << "\n";
        return 0;
    }
    for (const auto& s : content.skipped)
        err << "WARNING: " << file << ", line " << s.line << " was skipped: " << s.reason << ".\n";
    if (content.skippedCount > content.skipped.size())
        err << "WARNING: " << file << ": " << content.skippedCount - content.skipped.size()
            << " more lines were skipped.\n";

    RegistryBackend& store = defaultRegistryBackend();
    const std::string nothing = " Nothing of " + file + " was imported.";
    if (!store.keyExists(Hive::CurrentUser, ""))
        throw Failure{"ERROR: " + sentence(store.lastError()) + nothing};
    // One group: when the store fails part way, nothing of the file stays applied.
    RegistryTransaction group(store);
    if (!group.active())
        throw Failure{"ERROR: " + sentence(store.lastError()) + nothing};
    for (const auto& s : content.steps) {
        bool ok = true;
        switch (s.kind) {
        case ImportStep::CreateKey:
            ok = store.createKey(s.hive, s.path);
            break;
        case ImportStep::DeleteKey:
            ok = !store.keyExists(s.hive, s.path) || store.deleteKey(s.hive, s.path);
            break;
        case ImportStep::SetValue:
            ok = store.writeValue(s.hive, s.path, s.value);
            break;
        case ImportStep::DeleteValue:
            ok = !store.readValue(s.hive, s.path, s.value.name) ||
                 store.deleteValue(s.hive, s.path, s.value.name);
            break;
        }
        if (!ok)
            throw Failure{"ERROR: " + file + ", line " + std::to_string(s.line) + ": " +
                          sentence(store.lastError()) + nothing};
    }
    if (!group.commit())
        throw Failure{"ERROR: " + sentence(store.lastError()) + nothing};
    out << Done << "\n";
    return 0;
}

} // namespace velmar::regtool::cli
