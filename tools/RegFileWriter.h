#pragma once
// Writes .reg files as reg.exe exports them: UTF-16LE with a byte order mark, CRLF line ends,
// "Windows Registry Editor Version 5.00", each key followed by its subkeys in the order Windows
// lists them, each value as reg.exe writes its type.
#include "platform/registry/RegistryBackend.h"
#include "tools/RegKeyName.h"

#include <string>

namespace velmar::regtool {

// One value as it stands in the file, long hexadecimal data wrapped with ",\" CRLF and two
// blanks. Empty when the value's name can not be written (it holds a line break); `error` then
// says so.
std::u16string regValueText(const RegValue& value, std::string& error);

// The whole file for `key` and everything below it, as bytes. False, with `error`, when a name
// can not be represented in a .reg file; nothing is written then.
bool buildRegFile(RegistryBackend& store, const KeyName& key, std::string& bytes,
                  std::string& error);

} // namespace velmar::regtool
