#pragma once
// Values the store tests write: a REG_SZ as the launcher writes it, with its terminating zero.
#include "platform/registry/RegistryBackend.h"

#include <string>
#include <vector>

namespace velmar::test {

inline RegValue text(const std::string& name, const std::string& s) {
    std::vector<std::uint8_t> data(s.begin(), s.end());
    data.push_back(0);
    return {name, RegSz, data};
}

} // namespace velmar::test
