#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace velmar {

// The form under which key names and value names are compared: every UTF-8 encoded letter
// mapped to its upper-case form ("ä" and "Ä" fold alike). Bytes that are not valid UTF-8 are
// kept as they are, so distinct names of that kind stay distinct.
std::string foldName(std::string_view name);

// The length of a name as Windows counts it, in UTF-16 code units (a character beyond U+FFFF
// counts two). A byte that is not part of valid UTF-8 counts one.
std::size_t nameLength(std::string_view name);

} // namespace velmar
