#pragma once
// The store behind the registry wrapper. On Windows builds this would be the real registry;
// on Linux it is the SQLite hive store (HiveStore).
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmar {

enum class Hive { CurrentUser, LocalMachine };

// Value types, numbered as the Windows registry numbers them.
enum RegType : std::uint32_t {
    RegNone = 0,
    RegSz = 1,
    RegExpandSz = 2,
    RegBinary = 3,
    RegDword = 4,
    RegMultiSz = 7,
    RegQword = 11,
};

struct RegValue {
    std::string name; // "" is the unnamed default value
    std::uint32_t type = RegNone;
    std::vector<std::uint8_t> data;
};

// Key paths are names joined by '\', relative to the hive's root, without a leading or trailing
// '\'. Key paths and value names are compared without regard to letter case (non-ASCII letters
// included); they are kept as first written. Enumeration is in creation order. Every change is
// committed before the call returns. Windows' limits hold: a key name has at most 255
// characters, a value name at most 16,383 (counted in UTF-16 units), keys nest at most 512
// levels; a call beyond them fails with Windows' error text first in lastError(). A call that
// fails returns false / nothing and leaves a text in lastError(); one that succeeds leaves it
// empty, keyExists() of a missing key included (readValue() of a missing value fails), so that
// a caller can tell a failed read from a missing value.
class RegistryBackend {
public:
    virtual ~RegistryBackend() = default;

    virtual bool keyExists(Hive hive, const std::string& path) = 0;
    // Creates the key and any missing parents. True when the key exists afterwards.
    virtual bool createKey(Hive hive, const std::string& path) = 0;
    // Deletes the key with all its subkeys and values.
    virtual bool deleteKey(Hive hive, const std::string& path) = 0;

    virtual std::optional<RegValue> readValue(Hive hive, const std::string& path,
                                              const std::string& name) = 0;
    // The key must exist. Overwriting keeps the value's place in the enumeration order and its
    // first-written name.
    virtual bool writeValue(Hive hive, const std::string& path, const RegValue& value) = 0;
    virtual bool deleteValue(Hive hive, const std::string& path, const std::string& name) = 0;

    virtual std::vector<RegValue> values(Hive hive, const std::string& path) = 0;
    virtual std::vector<std::string> subkeys(Hive hive, const std::string& path) = 0;

    // When a group's commit reaches the disk.
    enum class Sync {
        AtCommit, // before commitTransaction() returns, as every single write does
        // With the next commit that is synced, or when the file is checkpointed as its last user
        // closes it. For writes that are made again when missing (a first start's defaults): a
        // power cut before then loses the whole group and damages nothing.
        Later,
    };

    // Groups writes: from beginTransaction() to commitTransaction() every change made through
    // this backend takes effect together at the commit, or not at all (rollbackTransaction(),
    // or a commit that fails). Reads inside see the group's own changes. Not nested. Return
    // false with lastError() when the store can not be locked or used.
    virtual bool beginTransaction(Sync sync = Sync::AtCommit) = 0;
    virtual bool commitTransaction() = 0;
    virtual void rollbackTransaction() = 0;

    virtual std::string lastError() const = 0;
};

// A group of writes that is undone unless commit() is called and succeeds:
//     RegistryTransaction group(store);
//     if (!group.active()) ... store.lastError() ...
//     ... writes ...
//     if (!group.commit()) ... nothing of the group was stored ...
class RegistryTransaction {
public:
    explicit RegistryTransaction(RegistryBackend& backend,
                                 RegistryBackend::Sync sync = RegistryBackend::Sync::AtCommit)
        : backend_(backend), active_(backend.beginTransaction(sync)) {}
    ~RegistryTransaction() { rollback(); }
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // The group was begun and is neither committed nor rolled back yet.
    bool active() const { return active_; }
    bool commit() {
        if (!active_)
            return false;
        active_ = false;
        return backend_.commitTransaction();
    }
    void rollback() {
        if (active_)
            backend_.rollbackTransaction();
        active_ = false;
    }

private:
    RegistryBackend& backend_;
    bool active_;
};

// The hive file of this user: $XDG_CONFIG_HOME/VelmarLauncher/registry.db
// (XDG_CONFIG_HOME defaults to ~/.config).
std::string defaultHiveFile();

// Opens (creating when missing) the SQLite hive store at `file`. Never fails: a store whose file
// can not be used answers every call with failure and says why in lastError(); such a file is
// never overwritten, moved or deleted.
std::unique_ptr<RegistryBackend> openHiveStore(const std::string& file);

// The process-wide store at defaultHiveFile(), opened on first use.
RegistryBackend& defaultRegistryBackend();
// Drops the process-wide store so that the next use opens defaultHiveFile() anew (tests that
// change XDG_CONFIG_HOME).
void resetDefaultRegistryBackend();

} // namespace velmar
