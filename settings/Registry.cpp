#include "settings/Registry.h"

#include "platform/registry/NameFolding.h"

namespace velmar {

namespace {

std::string quoted(const char* what, const std::string& name) {
    return std::string(what) + " '" + name + "'";
}

} // namespace

Registry::Registry(RegistryBackend& backend) : backend_(backend) {}

void Registry::setRootKey(Hive root) {
    if (root == root_)
        return;
    closeKey();
    root_ = root;
}

bool Registry::openKey(const std::string& path, bool canCreate) {
    std::string target;
    if (!open_ || (!path.empty() && path.front() == '\\')) {
        target = path;
    } else if (path.empty()) {
        target = path_;
    } else {
        target = path_.empty() ? path : path_ + '\\' + path;
    }
    // Keep the path in the form the store names keys: no '\' at either end.
    const std::size_t begin = target.find_first_not_of('\\');
    const std::size_t end = target.find_last_not_of('\\');
    target = begin == std::string::npos ? std::string() : target.substr(begin, end - begin + 1);

    const bool ok =
        canCreate ? backend_.createKey(root_, target) : backend_.keyExists(root_, target);
    openError_ = ok || canCreate ? std::string() : backend_.lastError();
    if (!ok) {
        // A key that could not be created says why at the next write (a locked or read-only
        // store, a name Windows would refuse).
        if (canCreate && !open_)
            openFailure_ = backend_.lastError();
        return false;
    }
    openFailure_.clear();
    open_ = true;
    path_ = std::move(target);
    return true;
}

void Registry::closeKey() {
    openFailure_.clear();
    open_ = false;
    path_.clear();
}

std::optional<RegValue> Registry::lookup(const std::string& name) {
    auto value = backend_.readValue(root_, path_, name);
    if (value)
        return value;
    // The store answers "missing" and "could not read" alike here; the key's listing tells them
    // apart (a call that succeeds leaves no error), and it is what is stored now.
    std::vector<RegValue> all = backend_.values(root_, path_);
    const std::string why = backend_.lastError();
    if (why.empty()) {
        const std::string folded = foldName(name);
        for (RegValue& v : all)
            if (foldName(v.name) == folded)
                return std::move(v);
        return std::nullopt;
    }
    // The key may be gone meanwhile (another program deleted it): then the value is missing.
    if (!backend_.keyExists(root_, path_) && backend_.lastError().empty())
        return std::nullopt;
    readFailed(name, why);
}

void Registry::readFailed(const std::string& name, const std::string& why) const {
    throw RegistryReadError(quoted("Failed to get data for", name) + ": " + why);
}

bool Registry::valueExists(const std::string& name) {
    return open_ && lookup(name).has_value();
}

std::string Registry::readString(const std::string& name) {
    if (!open_)
        return {};
    auto value = lookup(name);
    if (!value || value->data.empty())
        return {};
    if (value->type != RegSz && value->type != RegExpandSz)
        throw RegistryError(quoted("Invalid data type for", name));
    const auto& d = value->data;
    std::size_t len = 0;
    while (len < d.size() && d[len] != 0)
        ++len;
    return std::string(reinterpret_cast<const char*>(d.data()), len);
}

std::int32_t Registry::readInteger(const std::string& name) {
    std::optional<RegValue> value;
    if (open_)
        value = lookup(name);
    if (!value)
        throw RegistryError(quoted("Failed to get data for", name));
    // A REG_DWORD of any size other than four bytes can not be read as one.
    if (value->type != RegDword || value->data.size() != 4)
        throw RegistryError(quoted("Invalid data type for", name));
    const auto& d = value->data;
    const std::uint32_t u = std::uint32_t(d[0]) | (std::uint32_t(d[1]) << 8) |
                            (std::uint32_t(d[2]) << 16) | (std::uint32_t(d[3]) << 24);
    return static_cast<std::int32_t>(u);
}

void Registry::write(const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data) {
    if (open_ && backend_.writeValue(root_, path_, RegValue{name, type, std::move(data)}))
        return;
    // Say why when the store itself is the reason (an unreadable registry file, for one): a
    // user can act on that, not on the bare failure.
    std::string why;
    if (open_)
        why = backend_.lastError();
    else if (!openFailure_.empty())
        why = openFailure_;
    else if (!backend_.keyExists(root_, ""))
        why = backend_.lastError();
    throw RegistryError(quoted("Failed to set data for", name) + (why.empty() ? "" : ": " + why));
}

namespace {
std::vector<std::uint8_t> stringData(const std::string& value) {
    std::vector<std::uint8_t> data(value.begin(), value.end());
    data.push_back(0);
    return data;
}
} // namespace

void Registry::writeString(const std::string& name, const std::string& value) {
    write(name, RegSz, stringData(value));
}

void Registry::writeExpandString(const std::string& name, const std::string& value) {
    write(name, RegExpandSz, stringData(value));
}

void Registry::writeInteger(const std::string& name, std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    write(name, RegDword,
          {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
           static_cast<std::uint8_t>(u >> 16), static_cast<std::uint8_t>(u >> 24)});
}

bool Registry::deleteValue(const std::string& name) {
    return open_ && backend_.deleteValue(root_, path_, name);
}

std::vector<std::string> Registry::getValueNames() {
    std::vector<std::string> names;
    if (!open_)
        return names;
    std::vector<RegValue> values = backend_.values(root_, path_);
    if (values.empty() && !backend_.lastError().empty()) {
        const std::string why = backend_.lastError();
        if (backend_.keyExists(root_, path_) || !backend_.lastError().empty())
            throw RegistryReadError("Failed to list the values of '" + path_ + "': " + why);
    }
    for (auto& v : values)
        names.push_back(std::move(v.name));
    return names;
}

} // namespace velmar
