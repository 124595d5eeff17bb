#pragma once
#include <string>
#include <string_view>

namespace velmar {

// The form under which key names and value names are compared: every UTF-8 encoded letter
// mapped to its upper-case form ("ä" and "Ä" fold alike). Bytes that are not valid UTF-8 are
// kept as they are, so distinct names of that kind stay distinct.
std::string foldName(std::string_view name);

} // namespace velmar
