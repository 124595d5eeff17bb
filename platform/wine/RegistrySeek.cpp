// Whether a registry file that Wine wrote holds a key, decided from a few small reads instead of
// the whole file (a fresh prefix's system.reg is about 2 MB).
//
// Wine's server saves a branch depth-first (save_subkeys in its server/registry.c): a key gets a
// "[path] time" line when it has values, a class or no subkeys, or is a link, and then its
// subkeys follow in the order the server keeps them, which find_subkey's binary search defines:
// the names' UTF-16 units compared one by one after lower-casing (memicmp_strW in
// server/unicode.c, over the shorter name), and a name before every longer name it begins. So
// the file's key lines are in ascending order of their paths compared name by name:
// "Holm\Sub" before "Holm 2" before "Holm_Tools" before "HolmA" before "Holmgard" ('_' sorts
// before the letters, which compare as lower case, and a whole key before its longer siblings
// whatever character follows), and a binary search over byte offsets finds the place where a
// key's line would be.
//
// Names are written with the escapes of Wine's dump_strW: "\\" between names, "\[" and "\]",
// control characters as "\n" or octal, every unit beyond ASCII as "\x" and up to four hex digits.
#include "platform/wine/WinePrefix.h"

#include "platform/regtext/RegSyntax.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <optional>

namespace velmar::wine {

namespace {

constexpr std::uint64_t Block = 4096;        // one read
constexpr std::uint64_t Window = 1024;       // below this, the key lines are read in turn
constexpr std::size_t MaxKeyLine = 1u << 17; // 512 names of 255 units, escaped, and then some

using Name = std::u16string;
using Path = std::vector<Name>;

// Wine's order of two names; nothing when it can not be told here. A lower-case form is known
// for ASCII only; a unit beyond ASCII lower-cases to one beyond ASCII as well (so it sorts after
// every ASCII unit), except U+0130 and U+212A, whose lower-case forms are 'i' and 'k'.
std::optional<int> compareNames(const Name& a, const Name& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x == y)
            continue;
        const bool wideX = x >= 0x80;
        const bool wideY = y >= 0x80;
        if (wideX && wideY)
            return std::nullopt;
        if (wideX || wideY) {
            const char16_t wide = wideX ? x : y;
            if (wide == 0x130 || wide == 0x212a)
                return std::nullopt;
            return wideX ? 1 : -1;
        }
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char16_t>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char16_t>(y - 'A' + 'a');
        if (x != y)
            return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Wine's order of two key paths: name by name, a key before its subkeys.
std::optional<int> comparePaths(const Path& a, const Path& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::optional<int> c = compareNames(a[i], b[i]);
        if (!c || *c != 0)
            return c;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool before(const std::optional<Path>& a, const Path& b) {
    if (!a)
        return true;
    const std::optional<int> c = comparePaths(*a, b);
    return c && *c < 0;
}

// A regular file read a block at a time; the blocks read are kept (a search reads a few dozen).
class BlockReader {
public:
    BlockReader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

    // The byte at `pos`; -1 past the end or when the read fails (then failed() is true).
    int at(std::uint64_t pos) {
        if (pos - start_ >= current_.size() && !load(pos))
            return -1;
        return static_cast<unsigned char>(current_[static_cast<std::size_t>(pos - start_)]);
    }
    // The position of the first `byte` at or after `pos` and before `limit`, else `limit`.
    std::uint64_t find(std::uint64_t pos, std::uint64_t limit, char byte) {
        while (pos < limit) {
            if (pos - start_ >= current_.size() && !load(pos))
                return limit;
            const std::size_t offset = static_cast<std::size_t>(pos - start_);
            const std::size_t length = static_cast<std::size_t>(
                std::min<std::uint64_t>(current_.size() - offset, limit - pos));
            if (const void* hit = std::memchr(current_.data() + offset, byte, length))
                return start_ +
                       static_cast<std::size_t>(static_cast<const char*>(hit) - current_.data());
            pos += length;
        }
        return limit;
    }
    bool failed() const { return failed_; }
    std::uint64_t size() const { return size_; }
    std::uint64_t bytesRead = 0;

private:
    bool load(std::uint64_t pos) {
        if (pos >= size_ || failed_)
            return false;
        start_ = pos - pos % Block;
        auto& block = blocks_[start_];
        if (block.empty()) {
            block.resize(static_cast<std::size_t>(std::min(Block, size_ - start_)));
            std::size_t got = 0;
            while (got < block.size()) {
                const ssize_t n = pread(fd_, block.data() + got, block.size() - got,
                                        static_cast<off_t>(start_ + got));
                if (n <= 0)
                    break;
                got += static_cast<std::size_t>(n);
            }
            bytesRead += got;
            if (got < block.size()) {
                failed_ = true; // cut short or unreadable: the file changed or can not be read
                current_ = {};
                return false;
            }
        }
        current_ = block;
        return true;
    }

    int fd_;
    std::uint64_t size_;
    std::map<std::uint64_t, std::string> blocks_;
    std::string_view current_; // the block at start_
    std::uint64_t start_ = 0;
    bool failed_ = false;
};

class KeyLines {
public:
    explicit KeyLines(BlockReader& file) : file_(file) {}

    // True when the file begins with Wine's own first line; the key lines follow it.
    bool readFirstLine() {
        static constexpr std::string_view First = "WINE REGISTRY Version 2";
        std::uint64_t pos = 0;
        for (char c : First)
            if (file_.at(pos++) != c)
                return false;
        if (file_.at(pos) == '\r')
            ++pos;
        if (file_.at(pos) != '\n')
            return false;
        body_ = pos + 1;
        return true;
    }

    // The start of the first key line that begins at or after `from` and before `limit`.
    std::optional<std::uint64_t> next(std::uint64_t from, std::uint64_t limit) {
        std::uint64_t pos = std::max(from, body_);
        if (pos > body_ && file_.at(pos - 1) != '\n')
            pos = lineAfter(pos, limit);
        while (pos < limit) {
            const int c = file_.at(pos);
            if (c == '[')
                return pos;
            if (c < 0)
                return std::nullopt;
            pos = lineAfter(pos, limit);
        }
        return std::nullopt;
    }

    // The path of the key line at `pos`; nothing for a line Wine would not write.
    std::optional<Path> path(std::uint64_t pos) {
        Path path{Name{}};
        const std::uint64_t end = pos + MaxKeyLine;
        for (++pos; pos < end;) {
            int c = file_.at(pos++);
            if (c < 0 || c == '\n' || c == '\r')
                return std::nullopt;
            if (c == ']')
                break;
            if (c >= 0x80)
                return std::nullopt; // Wine writes every unit beyond ASCII as \x
            if (c != '\\') {
                path.back() += static_cast<char16_t>(c);
                continue;
            }
            c = file_.at(pos++);
            switch (c) {
            case '\\':
                if (path.back().empty())
                    return std::nullopt;
                path.emplace_back();
                continue;
            case '[':
            case ']':
                path.back() += static_cast<char16_t>(c);
                continue;
            case 'a':
                path.back() += u'\a';
                continue;
            case 'b':
                path.back() += u'\b';
                continue;
            case 't':
                path.back() += u'\t';
                continue;
            case 'n':
                path.back() += u'\n';
                continue;
            case 'v':
                path.back() += u'\v';
                continue;
            case 'f':
                path.back() += u'\f';
                continue;
            case 'r':
                path.back() += u'\r';
                continue;
            case 'e':
                path.back() += u'\x1b';
                continue;
            case 'x': {
                unsigned unit = 0;
                int digits = 0;
                for (int d;
                     digits < 4 && (d = regtext::hexDigit(static_cast<char>(file_.at(pos)))) >= 0;
                     ++digits, ++pos)
                    unit = unit * 16 + static_cast<unsigned>(d);
                if (digits == 0)
                    return std::nullopt;
                path.back() += static_cast<char16_t>(unit);
                continue;
            }
            default:
                if (c < '0' || c > '7')
                    return std::nullopt;
                unsigned unit = static_cast<unsigned>(c - '0');
                for (int digits = 1; digits < 3 && file_.at(pos) >= '0' && file_.at(pos) <= '7';
                     ++digits, ++pos)
                    unit = unit * 8 + static_cast<unsigned>(file_.at(pos) - '0');
                path.back() += static_cast<char16_t>(unit);
                continue;
            }
        }
        if (pos >= end || path.back().empty())
            return std::nullopt;
        return path;
    }

    std::uint64_t body() const { return body_; }

private:
    // The start of the line after the one `pos` is in, or `limit` when that is further.
    std::uint64_t lineAfter(std::uint64_t pos, std::uint64_t limit) {
        const std::uint64_t end = file_.find(pos, limit, '\n');
        return end < limit ? end + 1 : limit;
    }

    BlockReader& file_;
    std::uint64_t body_ = 0;
};

KeyPresence search(BlockReader& file, const Path& key) {
    KeyLines lines(file);
    if (!file.size() || !lines.readFirstLine())
        return KeyPresence::Unknown;
    // Every key line that begins before `lo` sorts before the key, every one at or after `hi`
    // at or after it; `below` and `above` are the nearest such lines seen. A line found between
    // them that does not sort between them shows a file out of Wine's order.
    std::uint64_t lo = lines.body();
    std::uint64_t hi = file.size();
    std::optional<Path> below;
    std::optional<Path> above;
    while (hi - lo > Window) {
        const std::uint64_t mid = lo + (hi - lo) / 2;
        const std::optional<std::uint64_t> at = lines.next(mid, hi);
        if (file.failed())
            return KeyPresence::Unknown;
        if (!at) {
            hi = mid;
            continue;
        }
        const std::optional<Path> path = lines.path(*at);
        if (!path || !before(below, *path) || (above && !before(path, *above)))
            return KeyPresence::Unknown;
        const std::optional<int> c = comparePaths(*path, key);
        if (!c)
            return KeyPresence::Unknown;
        if (*c < 0) {
            lo = *at + 1;
            below = path;
        } else {
            hi = mid;
            above = path;
        }
    }
    // The key lines from `lo` in turn, up to the first that does not sort before the key.
    std::optional<Path> previous = below;
    for (std::uint64_t pos = lo;;) {
        const std::optional<std::uint64_t> at = lines.next(pos, file.size());
        if (file.failed())
            return KeyPresence::Unknown;
        if (!at) // past the last line: there must be none that `above` was
            return above ? KeyPresence::Unknown : KeyPresence::Absent;
        const std::optional<Path> path = lines.path(*at);
        if (!path || !before(previous, *path))
            return KeyPresence::Unknown;
        const std::optional<int> c = comparePaths(*path, key);
        if (!c)
            return KeyPresence::Unknown;
        if (*c == 0)
            return KeyPresence::Present;
        if (*c > 0) {
            // The line after it must sort after it too: a key put in by hand, out of order,
            // shows here when it is near where Wine would have put it.
            const std::optional<int> last = above ? comparePaths(*path, *above) : 0;
            if (!last || *last > 0)
                return KeyPresence::Unknown;
            const std::optional<std::uint64_t> next = lines.next(*at + 1, file.size());
            if (file.failed())
                return KeyPresence::Unknown;
            if (!next)
                return KeyPresence::Absent;
            const std::optional<Path> after = lines.path(*next);
            return after && before(path, *after) ? KeyPresence::Absent : KeyPresence::Unknown;
        }
        previous = path;
        pos = *at + 1;
    }
}

} // namespace

std::vector<KeyPresence> seekRegistryKeys(const std::string& file,
                                          const std::vector<std::string>& keyPaths,
                                          std::uint64_t* bytesRead) {
    if (bytesRead)
        *bytesRead = 0;
    std::vector<KeyPresence> found(keyPaths.size(), KeyPresence::Unknown);
    // Never blocks on a FIFO or a device put where a prefix's file is expected.
    const int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return found;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        BlockReader reader(fd, static_cast<std::uint64_t>(info.st_size));
        for (std::size_t i = 0; i < keyPaths.size(); ++i) {
            Path key{Name{}};
            bool ascii = true;
            for (char c : keyPaths[i]) {
                ascii = ascii && static_cast<unsigned char>(c) < 0x80;
                if (c != '\\')
                    key.back() += static_cast<char16_t>(c);
                else if (!key.back().empty())
                    key.emplace_back();
            }
            if (key.back().empty())
                key.pop_back();
            if (ascii && !key.empty())
                found[i] = search(reader, key);
        }
        if (bytesRead)
            *bytesRead = reader.bytesRead;
    }
    close(fd);
    return found;
}

KeyPresence seekRegistryKey(const std::string& file, const std::string& keyPath,
                            std::uint64_t* bytesRead) {
    return seekRegistryKeys(file, {keyPath}, bytesRead).front();
}

} // namespace velmar::wine
