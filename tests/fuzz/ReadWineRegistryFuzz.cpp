// libFuzzer target: reading the game key from a Wine prefix's registry file, as the launcher does
// at start-up. The text is read twice: from memory, and from a file the way a prefix's system.reg
// is read (line by line, within bounds); both must give the same values.
#include "platform/wine/WinePrefix.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

bool sameValues(const std::optional<std::vector<velmar::RegValue>>& a,
                const std::optional<std::vector<velmar::RegValue>>& b) {
    if (a.has_value() != b.has_value())
        return false;
    if (!a)
        return true;
    if (a->size() != b->size())
        return false;
    for (std::size_t i = 0; i < a->size(); ++i)
        if ((*a)[i].name != (*b)[i].name || (*a)[i].type != (*b)[i].type ||
            (*a)[i].data != (*b)[i].data)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20)
        return 0;
    std::unique_ptr<char[]> block(new char[size ? size : 1]);
    if (size > 0)
        std::memcpy(block.get(), data, size);
    const std::string_view text(block.get(), size);
    static const int fd = memfd_create("system.reg", 0);
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, block.get(), size, 0) != ssize_t(size))
        std::abort();
    const std::string file = "/proc/self/fd/" + std::to_string(fd);
    for (const char* key : {"Software\\Holmgard\\VELMARTIDES", "a"}) {
        const auto fromText = velmar::wine::parseRegistryKey(text, key);
        std::string error;
        const auto fromFile = velmar::wine::readRegistryKey(file, key, error);
        if (!error.empty() || !sameValues(fromText, fromFile))
            std::abort();
        if (fromText)
            for (const auto& v : *fromText)
                if ((v.type == velmar::RegSz || v.type == velmar::RegExpandSz) &&
                    (v.data.empty() || v.data.back() != 0))
                    std::abort(); // strings always end with their zero
    }
    return 0;
}
