#pragma once
// How reg.exe shows values: "    NAME    TYPE    DATA".
#include "platform/registry/RegistryBackend.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmar::regtool {

constexpr std::uint32_t RegDwordBigEndian = 5;
constexpr std::uint32_t RegLink = 6;

std::string typeName(std::uint32_t type);
// "REG_SZ" -> 1 (any letter case); nothing for names reg.exe does not know.
std::optional<std::uint32_t> typeFromName(const std::string& name);

std::string displayName(const std::string& name); // "" -> "(Default)"
std::string dataText(const RegValue& value, const std::string& multiSeparator = "\\0");
// One line without its line break; `numericType` adds " (N)" after the type name (/z).
std::string valueLine(const RegValue& value, bool numericType = false,
                      const std::string& multiSeparator = "\\0");

// Subkey names in the order Windows lists them: alphabetical without regard to letter case.
void sortKeyNames(std::vector<std::string>& names);

} // namespace velmar::regtool
