#pragma once
// The registry wrapper every part of the launcher uses. It keeps the access rules the launcher
// relies on:
//  - integers are written as REG_DWORD (4 bytes), strings as REG_SZ with the terminating zero;
//  - a string read of a missing or empty value is "" and no error; REG_SZ and REG_EXPAND_SZ are
//    read (the latter unexpanded) up to the first zero byte; any other type is a RegistryError;
//  - a read the store could not answer (held by another program, an unreadable file) is never
//    taken for a missing value: it is a RegistryReadError, and so is a listing that failed;
//  - an integer read of a missing value or one that is not REG_DWORD is a RegistryError;
//  - a write to a key that is not open, or that the store refuses, is a RegistryError;
//  - an object starts with HKEY_CURRENT_USER as its root; a successful open replaces the open
//    key, a failed open leaves the object as it was;
//  - deleting a value reports a boolean and never raises.
#include "platform/registry/RegistryBackend.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmar {

class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The store could not be read: nothing may be concluded, or written, from the read.
class RegistryReadError : public RegistryError {
public:
    using RegistryError::RegistryError;
};

class Registry {
public:
    explicit Registry(RegistryBackend& backend = defaultRegistryBackend());

    Hive rootKey() const { return root_; }
    // Changing the root closes the open key.
    void setRootKey(Hive root);

    // `path` is relative to the open key, or to the root when no key is open or it starts
    // with '\'.
    bool openKey(const std::string& path, bool canCreate);
    // After an openKey() that failed: why the store could not tell, or "" when the key is simply
    // not there (or could not be created: that is said at the next write).
    const std::string& openError() const { return openError_; }
    void closeKey();
    bool hasOpenKey() const { return open_; }
    const std::string& currentPath() const { return path_; }

    bool valueExists(const std::string& name);
    std::string readString(const std::string& name);
    std::int32_t readInteger(const std::string& name);
    void writeString(const std::string& name, const std::string& value);
    void writeExpandString(const std::string& name, const std::string& value);
    void writeInteger(const std::string& name, std::int32_t value);
    bool deleteValue(const std::string& name);
    std::vector<std::string> getValueNames();

private:
    void write(const std::string& name, std::uint32_t type, std::vector<std::uint8_t> data);
    // The value, or nothing when it is missing; a RegistryReadError when the store failed.
    std::optional<RegValue> lookup(const std::string& name);
    [[noreturn]] void readFailed(const std::string& name, const std::string& why) const;

    RegistryBackend& backend_;
    Hive root_ = Hive::CurrentUser;
    bool open_ = false;
    std::string path_;
    std::string openFailure_; // why the last openKey() with creation failed, no key being open
    std::string openError_;   // why the last openKey() failed, when the store could not tell
};

} // namespace velmar
