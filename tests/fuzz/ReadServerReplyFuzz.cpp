// libFuzzer target: reading a received datagram as a server reply. The input is copied into a
// heap block of exactly its size, so any read past the datagram is caught by the sanitizer.
#include "servertest/QueryDatagram.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 4096)
        return 0;
    const int n = static_cast<int>(size);
    std::unique_ptr<std::uint8_t[]> block;
    if (size > 0) {
        block = std::make_unique<std::uint8_t[]>(size);
        std::memcpy(block.get(), data, size);
    }
    const auto reply = velmar::ReadServerReply(block.get(), n);
    if ((n <= velmar::QuerySize) != !reply)
        std::abort();
    if (reply) {
        if (reply->version.size() > size - 10)
            std::abort();
        const std::size_t chars = n >= 60 ? static_cast<std::size_t>((n - 58) / 2) : 0;
        if (reply->sessionName.size() != chars)
            std::abort();
    }
    return 0;
}
