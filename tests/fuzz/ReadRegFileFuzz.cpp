// libFuzzer target: reading a .reg file as velmar-reg import does. The input is copied into a
// heap block of exactly its size, so any read past the file is caught by the sanitizer.
#include "tools/RegFileReader.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 20)
        return 0;
    std::unique_ptr<char[]> block(new char[size ? size : 1]);
    if (size > 0)
        std::memcpy(block.get(), data, size);
    const auto content = velmar::regtool::readRegFile(std::string_view(block.get(), size));
    using velmar::regtool::RegFileFormat;
    const bool readable =
        content.format == RegFileFormat::Regedit4 || content.format == RegFileFormat::Version5;
    if (!readable && (!content.steps.empty() || !content.skipped.empty()))
        std::abort();
    for (const auto& step : content.steps) {
        // Paths never begin or end with '\' and hold no empty key name.
        const std::string& p = step.path;
        if (!p.empty() &&
            (p.front() == '\\' || p.back() == '\\' || p.find("\\\\") != std::string::npos))
            std::abort();
        if (step.line < 2)
            std::abort();
    }
    return 0;
}
