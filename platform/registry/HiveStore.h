#pragma once
// The SQLite hive store: both hives of the emulated registry in one database file. The class is
// seen only by the store's own files; callers have RegistryBackend and openHiveStore().
//   HiveStore.cpp              opening the file, its checks, statements, openHiveStore()
//   HiveStoreLocks.cpp         waits for other programs' locks, and the messages of failures
//   HiveStoreSchema.cpp        the tables and their conversion from older versions
//   HiveStoreTransactions.cpp  write transactions, groups of changes, what is synced when
//   HiveStoreKeysValues.cpp    keys and values, with Windows' limits on them
#include "platform/registry/RegistryBackend.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

namespace velmar::hivestore {

constexpr int ApplicationId = 0x56524547; // "VREG"
constexpr int SchemaVersion = 2;
constexpr int ReadWaitMs = 2000;
constexpr int WriteWaitMs = 15000;

// A prepared statement taken from the store's cache; reset and unbound when it goes.
class Statement {
public:
    explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~Statement() {
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return stmt_ != nullptr; }

    void bind(int index, std::int64_t v) { sqlite3_bind_int64(stmt_, index, v); }
    void bindBytes(int index, const void* data, std::size_t size) {
        static const char empty = 0;
        // A null pointer would bind NULL; a zero-length blob needs a real pointer.
        sqlite3_bind_blob64(stmt_, index, size ? data : &empty, size, SQLITE_TRANSIENT);
    }
    void bindBytes(int index, const std::string& s) { bindBytes(index, s.data(), s.size()); }

    int step() { return sqlite3_step(stmt_); }

    std::int64_t intColumn(int col) { return sqlite3_column_int64(stmt_, col); }
    std::string textColumn(int col) {
        const void* p = sqlite3_column_blob(stmt_, col);
        int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n))
                 : std::string();
    }
    std::vector<std::uint8_t> bytesColumn(int col) {
        const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, col));
        int n = sqlite3_column_bytes(stmt_, col);
        return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
    }

private:
    sqlite3_stmt* stmt_;
};

struct KeyPath {
    std::vector<std::string> parts;
    std::vector<std::string> folds; // foldName() of each part
    std::string text;               // parts joined by '\'
};

// How far a key path leads down from its hive's root: the id of the deepest key that exists and
// how many parts of the path it took to get there.
struct Walk {
    std::int64_t id = 0;
    std::size_t found = 0;
};

class HiveStore final : public RegistryBackend {
public:
    explicit HiveStore(std::string file) : file_(std::move(file)) {
        call(false, [&] { return ensureOpen(); });
    }
    ~HiveStore() override { closeDb(); }

    bool keyExists(Hive hive, const std::string& path) override {
        return call(false, [&] { return keyExistsOnce(hive, path); });
    }
    bool createKey(Hive hive, const std::string& path) override {
        return call(true, [&] { return createKeyOnce(hive, path); });
    }
    bool deleteKey(Hive hive, const std::string& path) override {
        return call(true, [&] { return deleteKeyOnce(hive, path); });
    }
    std::optional<RegValue> readValue(Hive hive, const std::string& path,
                                      const std::string& name) override {
        return call(false, [&] { return readValueOnce(hive, path, name); });
    }
    bool writeValue(Hive hive, const std::string& path, const RegValue& value) override {
        return call(true, [&] { return writeValueOnce(hive, path, value); });
    }
    bool deleteValue(Hive hive, const std::string& path, const std::string& name) override {
        return call(true, [&] { return deleteValueOnce(hive, path, name); });
    }
    std::vector<RegValue> values(Hive hive, const std::string& path) override {
        return call(false, [&] { return valuesOnce(hive, path); });
    }
    std::vector<std::string> subkeys(Hive hive, const std::string& path) override {
        return call(false, [&] { return subkeysOnce(hive, path); });
    }
    bool beginTransaction(Sync sync) override;
    bool commitTransaction() override;
    void rollbackTransaction() override;
    std::string lastError() const override { return error_; }

private:
    using Clock = std::chrono::steady_clock;

    // Runs one call of the interface with its bound on waiting for other programs' locks.
    // SQLite's busy handler is not called in every case of contention (while another process
    // opens, converts or checkpoints the file, for instance); such a call is tried again, from
    // the start of its transaction, until its time is up.
    template <typename F> std::invoke_result_t<F&> call(bool writes, F&& once) {
        const auto start = Clock::now();
        const int waitMs = start < waitedInVainUntil_ ? 0 : writes ? WriteWaitMs : ReadWaitMs;
        deadline_ = start + std::chrono::milliseconds(waitMs);
        while (true) {
            busy_ = false;
            auto result = once();
            if (!busy_) {
                waitedInVainUntil_ = {};
                return result;
            }
            // Inside a group the write lock is held already; starting over would lose the
            // group's earlier changes.
            if (group_ || Clock::now() >= deadline_) {
                if (!group_)
                    waitedInVainUntil_ = Clock::now() + std::chrono::milliseconds(ReadWaitMs);
                return result;
            }
            rollback();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    static int onBusy(void* self, int count);

    bool keyExistsOnce(Hive hive, const std::string& path);
    bool createKeyOnce(Hive hive, const std::string& path);
    bool deleteKeyOnce(Hive hive, const std::string& path);
    std::optional<RegValue> readValueOnce(Hive hive, const std::string& path,
                                          const std::string& name);
    bool writeValueOnce(Hive hive, const std::string& path, const RegValue& value);
    bool deleteValueOnce(Hive hive, const std::string& path, const std::string& name);
    std::vector<RegValue> valuesOnce(Hive hive, const std::string& path);
    std::vector<std::string> subkeysOnce(Hive hive, const std::string& path);

    bool ensureOpen();
    bool openDb();
    // Brings the tables to SchemaVersion (creating or converting them) in one transaction.
    bool upgradeSchema();
    void closeDb();
    bool fail(std::string text) {
        error_ = std::move(text);
        return false;
    }
    bool sqlFail(int rc);
    std::string fileProblem(int rc);
    // Why the file can not be changed, as a whole sentence for lastError().
    std::string readOnlyText();
    bool exec(const char* sql);
    bool pragmaInt(const char* sql, std::int64_t& out);
    Statement prepare(const char* sql);
    std::optional<KeyPath> parsePath(const std::string& path);
    // The store opened and the path parsed; nullopt, with the error set, when either fails.
    std::optional<KeyPath> openPath(const std::string& path);
    // The id of the child of `parent` with the fold `fold`, 0 when none; nullopt on failure.
    std::optional<std::int64_t> childId(std::int64_t parent, const std::string& fold);
    // Drops the remembered child ids when another connection has committed since they were
    // looked up; false, with the error set, when that can not be found out.
    bool checkChildCache();
    static std::string childCacheKey(std::int64_t parent, const std::string& fold) {
        std::string k(reinterpret_cast<const char*>(&parent), sizeof parent);
        return k + fold;
    }
    std::optional<Walk> walk(Hive hive, const KeyPath& kp);
    // The id of the key, which must exist. nullopt, with the error set, when it does not exist
    // or the lookup fails; an open write transaction is then rolled back first.
    std::optional<std::int64_t> existingKeyId(Hive hive, const KeyPath& kp);
    // The rows that `sql` selects for the existing key at `path` (its id bound to ?1), each
    // made into an item by `row`; empty, with the error set, on failure.
    template <typename Item, typename Row>
    std::vector<Item> keyRows(Hive hive, const std::string& path, const char* sql, Row row) {
        std::vector<Item> out;
        auto kp = openPath(path);
        if (!kp)
            return out;
        auto id = existingKeyId(hive, *kp);
        if (!id)
            return out;
        Statement st = prepare(sql);
        if (!st)
            return out;
        st.bind(1, *id);
        int rc;
        while ((rc = st.step()) == SQLITE_ROW)
            out.push_back(row(st));
        if (rc != SQLITE_DONE) {
            sqlFail(rc);
            out.clear();
            return out;
        }
        error_.clear();
        return out;
    }
    // Begins the write transaction of one call (inside a group: a savepoint of it).
    bool beginWrite();
    // A statement of the open write transaction; a null one, with the error set and the
    // transaction rolled back, on failure.
    Statement prepareInWrite(const char* sql);
    // Runs a statement of the open write transaction to its end; false, with the error set and
    // the transaction rolled back, on failure.
    bool stepInWrite(Statement& st);
    // Commits the open write transaction and clears the error; false, with the error set and
    // the transaction rolled back, on failure.
    bool commit();
    // Before a commit that is synced: syncs the file's first page if this connection has not
    // synced it yet.
    bool syncFileOnce();
    // After a group: commits are synced again.
    void endSyncLater();
    // Undoes the open write transaction of one call, if any; keeps the error text.
    void rollback();
    // Notes that the open group can not be committed: SQLite has undone it on its own, or
    // `failed`, the file failed under it.
    void noteGroupLost(bool failed = false);

    std::string file_;
    sqlite3* db_ = nullptr;
    std::int64_t roots_[2] = {0, 0}; // ids of the hive roots
    bool readOnly_ = false;
    std::string readOnlyWhy_; // set when the file is opened read-only on purpose
    bool busy_ = false;       // the last failure was contention with another connection
    Clock::time_point waitedInVainUntil_{}; // calls before this do not wait for a lock
    Clock::time_point deadline_ = Clock::now();
    bool writing_ = false;      // a call's write transaction (or savepoint) is open
    bool group_ = false;        // between beginTransaction() and its commit or rollback
    bool syncLater_ = false;    // the open group was begun with Sync::Later
    bool fileUnsynced_ = false; // this connection has not synced the file since it opened it
    std::string groupLost_;     // why the open group was undone, empty while it stands
    std::string damaged_; // the damage found in the file; from then on nothing is written to it
    std::string error_;
    std::unordered_map<const char*, sqlite3_stmt*> cache_;
    // Child ids looked up or created (parent id and fold -> id), so that a deep path is not
    // looked up level by level on every call. Valid while PRAGMA data_version (which counts
    // other connections' commits) stays at childCacheVersion_; dropped on every rollback and
    // key deletion of this connection.
    std::unordered_map<std::string, std::int64_t> childCache_;
    std::int64_t childCacheVersion_ = -1;
};

} // namespace velmar::hivestore
