#include "tools/RegKeyName.h"

namespace velmar::regtool {

namespace {

bool sameAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

std::string hiveName(Hive hive) {
    return hive == Hive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string KeyName::full() const {
    return hiveName(hive) + (path.empty() ? "" : "\\" + path);
}

std::optional<KeyName> parseKeyName(std::string_view text, KeyNameRules rules) {
    const std::size_t sep = text.find('\\');
    const std::string_view root = text.substr(0, sep);
    KeyName key;
    if (sameAscii(root, "HKCU") || sameAscii(root, "HKEY_CURRENT_USER"))
        key.hive = Hive::CurrentUser;
    else if (sameAscii(root, "HKLM") || sameAscii(root, "HKEY_LOCAL_MACHINE"))
        key.hive = Hive::LocalMachine;
    else
        return std::nullopt;
    if (sep == std::string_view::npos)
        return key;
    std::string_view rest = text.substr(sep + 1);
    if (rules == KeyNameRules::CommandLine) {
        if (!rest.empty() && rest.back() == '\\')
            rest.remove_suffix(1);
        if (!rest.empty() && (rest.front() == '\\' || rest.back() == '\\' ||
                              rest.find("\\\\") != std::string_view::npos))
            return std::nullopt;
        key.path = std::string(rest);
        return key;
    }
    std::size_t pos = 0;
    while (pos <= rest.size()) {
        std::size_t end = rest.find('\\', pos);
        if (end == std::string_view::npos)
            end = rest.size();
        if (end > pos) {
            if (!key.path.empty())
                key.path += '\\';
            key.path.append(rest.substr(pos, end - pos));
        }
        pos = end + 1;
    }
    return key;
}

} // namespace velmar::regtool
