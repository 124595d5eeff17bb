// The SQLite hive store: both hives of the emulated registry in one database file.
//
// Tables (schema version 2):
//   reg_keys(id, parent, name, fold)  - the keys as a tree: `parent` is the id of the key above
//                                       (0 for the two hive roots), `name` the key's own name as
//                                       first written, `fold` that name folded to upper case.
//                                       The roots have the name '' and the fold x'00' (current
//                                       user) or x'01' (local machine). A key costs its own
//                                       name, however deep it lies; UNIQUE(parent, fold) finds
//                                       a child.
//   reg_values(id, key, name, fold, type, data)
// Version 1 kept the whole folded path of every key in `fold` (UNIQUE(hive, fold)), so storage
// grew with the square of the depth; such a file is converted, in one transaction, the first
// time it is opened for writing.
// Row ids grow with creation (AUTOINCREMENT), so ORDER BY id is the creation order; an overwrite
// updates the row in place and keeps its id. Names and folds are stored as BLOBs so that bytes
// that are not UTF-8 survive unchanged and compare byte for byte.
//
// Durability: the journal is a write-ahead log with synchronous=FULL, so the log is synced to
// the disk at every commit and a call that returns success has its change on the disk (NORMAL
// syncs only at checkpoints and can lose the last commits on power loss). A call that changes
// nothing (a read, a write of the value already stored, creating a key that exists) begins no
// write transaction: it takes no write lock and syncs nothing.
// Two things are written without waiting for the disk, because nothing in them is lost when a
// power cut takes them: a new file with its empty tables (made again on the next start), and a
// group begun with Sync::Later (the caller makes it again when it is missing). The next commit
// that is synced makes them durable with it: it syncs a new file's first page, which marks the
// file as one with a log, before the log, so that the log never outlives its file; the log's
// sync then covers every commit before it.
//
// Waits: a call waits for another program's lock at most ReadWaitMs when it only reads and
// WriteWaitMs when it writes, then fails saying that the settings are locked. Once a call has
// waited in vain, calls that follow within ReadWaitMs try once without waiting (until one gets
// through), so that a run of calls (a start-up) is held up once, not once per call.
#include "platform/registry/RegistryBackend.h"
#include "platform/registry/NameFolding.h"
#include "platform/registry/WinePrefixGameKey.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <type_traits>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace velmar {

namespace {

constexpr int ApplicationId = 0x56524547; // "VREG"
constexpr int SchemaVersion = 2;
constexpr int ReadWaitMs = 2000;
constexpr int WriteWaitMs = 15000;

// Windows' limits, in UTF-16 code units (nameLength()).
constexpr std::size_t MaxKeyName = 255;
constexpr std::size_t MaxValueName = 16383;
constexpr std::size_t MaxDepth = 512;

const char* const SchemaSql = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    UNIQUE(parent, fold));
CREATE TABLE IF NOT EXISTS reg_values(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
INSERT OR IGNORE INTO reg_keys(parent, name, fold) VALUES (0, x'', x'00');
INSERT OR IGNORE INTO reg_keys(parent, name, fold) VALUES (0, x'', x'01');
)sql";

// Version 1 to 2: every key keeps its id, parent and name; its fold becomes the last part of
// the folded path (the path of its parent and one '\' cut off the front).
const char* const ConvertFromVersion1Sql = R"sql(
CREATE TABLE reg_keys_tree(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    UNIQUE(parent, fold));
INSERT INTO reg_keys_tree(id, parent, name, fold)
    SELECT k.id,
           coalesce(k.parent, 0),
           CASE WHEN k.parent IS NULL THEN x'' ELSE k.name END,
           CASE WHEN k.parent IS NULL THEN (CASE k.hive WHEN 0 THEN x'00' ELSE x'01' END)
                WHEN length(p.fold) = 0 THEN k.fold
                ELSE substr(k.fold, length(p.fold) + 2) END
    FROM reg_keys k LEFT JOIN reg_keys p ON p.id = k.parent
    ORDER BY k.id;
DROP TABLE reg_keys;
ALTER TABLE reg_keys_tree RENAME TO reg_keys;
)sql";

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

// The start of a long name for a message, cut at a character boundary.
std::string shortened(const std::string& name) {
    constexpr std::size_t Keep = 40;
    if (name.size() <= Keep)
        return name;
    std::size_t cut = Keep;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, cut) + "…";
}

// `path` as the path part of an SQLite URI: the characters that URIs reserve escaped.
std::string uriPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            static const char hex[] = "0123456789ABCDEF";
            out += '%';
            out += hex[(static_cast<unsigned char>(c) >> 4) & 0xF];
            out += hex[static_cast<unsigned char>(c) & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

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
    // Before a commit that is synced: syncs a new file's first page if it has not been yet.
    bool syncNewFile();
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
    bool writing_ = false;         // a call's write transaction (or savepoint) is open
    bool group_ = false;           // between beginTransaction() and its commit or rollback
    bool syncLater_ = false;       // the open group was begun with Sync::Later
    bool newFileUnsynced_ = false; // this connection made the file and has not synced it yet
    std::string groupLost_;        // why the open group was undone, empty while it stands
    std::string error_;
    std::unordered_map<const char*, sqlite3_stmt*> cache_;
    // Child ids looked up or created (parent id and fold -> id), so that a deep path is not
    // looked up level by level on every call. Valid while PRAGMA data_version (which counts
    // other connections' commits) stays at childCacheVersion_; dropped on every rollback and
    // key deletion of this connection.
    std::unordered_map<std::string, std::int64_t> childCache_;
    std::int64_t childCacheVersion_ = -1;
};

int HiveStore::onBusy(void* self, int count) {
    auto* store = static_cast<HiveStore*>(self);
    const auto now = Clock::now();
    if (now >= store->deadline_)
        return 0;
    // Short pauses first (a commit of another program takes a few milliseconds), then longer.
    const auto pause = std::chrono::milliseconds(count < 10 ? 1 : count < 30 ? 5 : 20);
    std::this_thread::sleep_for(std::min<Clock::duration>(pause, store->deadline_ - now));
    return 1;
}

std::string HiveStore::readOnlyText() {
    if (!readOnlyWhy_.empty())
        return readOnlyWhy_;
    namespace fs = std::filesystem;
    const fs::path path(file_);
    const std::string folder =
        path.has_parent_path() ? path.parent_path().string() : std::string(".");
    struct statvfs vfs {};
    const std::string cannot = ": the settings can be read but not changed";
    if (::statvfs(folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY))
        return "the registry file " + file_ + " is on a read-only file system" + cannot;
    if (::access(file_.c_str(), W_OK) != 0 && errno == EACCES)
        return "the registry file " + file_ + " is read-only" + cannot +
               " (give yourself write permission on it to change them)";
    if (::access(folder.c_str(), W_OK) != 0 && errno == EACCES)
        return "the folder " + folder + " of the registry file is read-only" + cannot +
               " (give yourself write permission on it to change them)";
    return "the registry file " + file_ + " is read-only" + cannot;
}

std::string HiveStore::fileProblem(int rc) {
    const std::string f = "the registry file " + file_;
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
        return f + " is not a database";
    case SQLITE_CORRUPT:
        return f + " is damaged (" + sqlite3_errstr(rc) + ")";
    case SQLITE_READONLY:
        return readOnlyText();
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "the settings are locked by another program: " + f +
               " is in use. Close the other program that holds it (another launcher, "
               "velmar-reg, an SQLite tool) and try again";
    case SQLITE_FULL:
        return f + " can not grow: the disk is full";
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_IOERR: {
        int err = db_ ? sqlite3_system_errno(db_) : 0;
        if (err == EROFS)
            return readOnlyText();
        if (err == ENOSPC)
            return f + " can not grow: the disk is full";
        return f + " can not be opened or read" +
               (err ? std::string(": ") + std::strerror(err) : std::string());
    }
    default:
        return f + " can not be used: " + (db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
    }
}

bool HiveStore::sqlFail(int rc) {
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED)
        busy_ = true;
    fail(fileProblem(rc));
    // After the file failed (full disk, I/O error, damage) the rest of a group can not be
    // trusted to be stored: the whole group fails.
    const int primary = rc & 0xff;
    noteGroupLost(primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_CORRUPT ||
                  primary == SQLITE_NOMEM || primary == SQLITE_CANTOPEN);
    return false;
}

void HiveStore::noteGroupLost(bool failed) {
    if (group_ && groupLost_.empty() && (failed || (db_ && sqlite3_get_autocommit(db_)))) {
        groupLost_ = error_.empty() ? "the registry file " + file_ + " failed" : error_;
        writing_ = false;
    }
}

void HiveStore::rollback() {
    if (!writing_)
        return;
    writing_ = false;
    childCache_.clear();
    if (!db_ || sqlite3_get_autocommit(db_)) {
        noteGroupLost();
        return;
    }
    sqlite3_exec(db_, group_ ? "ROLLBACK TO call; RELEASE call" : "ROLLBACK", nullptr, nullptr,
                 nullptr);
    noteGroupLost();
}

bool HiveStore::beginTransaction(Sync sync) {
    if (group_)
        return fail("a group of changes to the registry file " + file_ + " is open already");
    return call(true, [&] {
        if (!ensureOpen())
            return false;
        if (readOnly_)
            return fail(readOnlyText());
        if (sync == Sync::Later && !exec("PRAGMA synchronous=NORMAL"))
            return false;
        syncLater_ = sync == Sync::Later;
        if (!exec("BEGIN IMMEDIATE")) {
            endSyncLater();
            return false;
        }
        group_ = true;
        groupLost_.clear();
        error_.clear();
        return true;
    });
}

bool HiveStore::commitTransaction() {
    if (!group_)
        return fail("no group of changes to the registry file " + file_ + " is open");
    group_ = false;
    writing_ = false;
    if (groupLost_.empty() && !syncLater_ && !syncNewFile())
        groupLost_ = error_;
    if (!groupLost_.empty()) {
        childCache_.clear();
        if (db_ && !sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        endSyncLater();
        return fail(std::exchange(groupLost_, {}));
    }
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        endSyncLater();
        error_.clear();
        return true;
    }
    sqlFail(rc);
    childCache_.clear();
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    endSyncLater();
    return false;
}

bool HiveStore::syncNewFile() {
    if (!newFileUnsynced_ || !db_)
        return true;
    sqlite3_file* file = nullptr;
    const int rc = sqlite3_file_control(db_, "main", SQLITE_FCNTL_FILE_POINTER, &file);
    if (rc != SQLITE_OK)
        return sqlFail(rc);
    if (file && file->pMethods) {
        const int synced = file->pMethods->xSync(file, SQLITE_SYNC_NORMAL);
        if (synced != SQLITE_OK)
            return sqlFail(synced);
    }
    newFileUnsynced_ = false;
    return true;
}

void HiveStore::endSyncLater() {
    if (!std::exchange(syncLater_, false) || !db_)
        return;
    // Outside any transaction now; should this fail, the next group or call finds it so.
    sqlite3_exec(db_, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
}

void HiveStore::rollbackTransaction() {
    if (!group_)
        return;
    group_ = false;
    writing_ = false;
    groupLost_.clear();
    childCache_.clear();
    if (db_ && !sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    endSyncLater();
}

bool HiveStore::exec(const char* sql) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK || sqlFail(rc);
}

bool HiveStore::pragmaInt(const char* sql, std::int64_t& out) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW)
            out = sqlite3_column_int64(stmt, 0);
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_ROW || rc == SQLITE_DONE || sqlFail(rc);
}

Statement HiveStore::prepare(const char* sql) {
    auto it = cache_.find(sql);
    if (it != cache_.end())
        return Statement(it->second);
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) {
        sqlFail(rc);
        return Statement(nullptr);
    }
    cache_.emplace(sql, stmt);
    return Statement(stmt);
}

void HiveStore::closeDb() {
    childCache_.clear();
    childCacheVersion_ = -1;
    for (auto& [sql, stmt] : cache_)
        sqlite3_finalize(stmt);
    cache_.clear();
    if (db_)
        sqlite3_close_v2(db_);
    db_ = nullptr;
}

bool HiveStore::ensureOpen() {
    if (db_)
        return true;
    if (openDb())
        return true;
    closeDb();
    return false;
}

bool HiveStore::openDb() {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(file_);
    const std::string folder =
        path.has_parent_path() ? path.parent_path().string() : std::string(".");
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
        if (ec || !fs::is_directory(path.parent_path()))
            return fail("the folder " + folder + " for the registry file can not be created" +
                        (ec ? ": " + ec.message() : std::string()));
    }
    struct stat st {};
    const bool exists = ::stat(file_.c_str(), &st) == 0;
    const bool empty = !exists || st.st_size == 0; // nothing to check, nothing to keep safe
    if (exists && !S_ISREG(st.st_mode))
        return fail("the registry file " + file_ + " is not a regular file");

    // The journal beside the file can only be made where the folder can be written. Where it
    // can not (a read-only file system, a read-only folder), the file is read as it is, and
    // every write says why it is refused.
    readOnlyWhy_.clear();
    struct statvfs vfs {};
    const bool readOnlyFs = ::statvfs(folder.c_str(), &vfs) == 0 && (vfs.f_flag & ST_RDONLY);
    const bool folderLocked = !readOnlyFs && ::access(folder.c_str(), W_OK) != 0 && errno == EACCES;
    const std::string cannot = ": the settings can be read but not changed";
    if (readOnlyFs)
        readOnlyWhy_ = "the registry file " + file_ + " is on a read-only file system" + cannot;
    else if (folderLocked)
        readOnlyWhy_ = "the folder " + folder + " of the registry file is read-only" + cannot +
                       " (give yourself write permission on it to change them)";
    if (!readOnlyWhy_.empty() && !exists)
        return fail("the registry file " + file_ + " does not exist and can not be created: " +
                    (readOnlyFs ? "the file system is read-only"
                                : "its folder " + folder + " is read-only"));

    int rc;
    if (!readOnlyWhy_.empty()) {
        // Nothing but this program could have written a log beside the file; without one the
        // file alone holds every commit and is read as unchangeable.
        struct stat wal {};
        const bool noLog = ::stat((file_ + "-wal").c_str(), &wal) != 0 || wal.st_size == 0;
        if (noLog)
            rc = sqlite3_open_v2(("file:" + uriPath(file_) + "?immutable=1").c_str(), &db_,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
        else
            rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr);
    } else {
        rc = sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    }
    if (rc != SQLITE_OK)
        return sqlFail(rc);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_handler(db_, &HiveStore::onBusy, this);

    // Read-only checks first: nothing is written to a file that turns out not to be ours. A file
    // that was missing or empty holds nothing that could be damaged.
    if (!empty) {
        sqlite3_stmt* stmt = nullptr;
        rc = sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &stmt, nullptr);
        if (rc != SQLITE_OK)
            return sqlFail(rc);
        rc = sqlite3_step(stmt);
        std::string verdict;
        if (rc == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(stmt, 0);
            verdict = t ? reinterpret_cast<const char*>(t) : "";
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return sqlFail(rc);
        if (verdict != "ok")
            return fail("the registry file " + file_ + " is damaged (" + verdict + ")");
    }
    std::int64_t appId = 0, version = 0, tables = 0;
    if (!pragmaInt("PRAGMA application_id", appId) || !pragmaInt("PRAGMA user_version", version) ||
        !pragmaInt("SELECT count(*) FROM sqlite_schema", tables))
        return false;
    const bool fresh = appId == 0 && tables == 0;
    if (!fresh && appId != ApplicationId)
        return fail("the registry file " + file_ + " is a database of another program");
    if (version > SchemaVersion)
        return fail("the registry file " + file_ +
                    " was written by a newer version of the launcher");

    readOnly_ = sqlite3_db_readonly(db_, "main") == 1;
    if (readOnly_ && (fresh || version < SchemaVersion))
        return fail(fresh ? readOnlyText()
                          : "the registry file " + file_ +
                                " was written by an older version of the launcher and must be "
                                "converted, but " +
                                readOnlyText());
    if (!readOnly_) {
        // Asking costs no lock; setting the journal only happens on a new file.
        sqlite3_stmt* stmt = nullptr;
        std::string mode;
        rc = sqlite3_prepare_v2(db_, "PRAGMA journal_mode", -1, &stmt, nullptr);
        if (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            const unsigned char* t = sqlite3_column_text(stmt, 0);
            mode = t ? reinterpret_cast<const char*>(t) : "";
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return sqlFail(rc);
        // A file that was empty is made without syncs: the switch to the log and the empty
        // tables hold nothing a power cut could take from anybody (see the top of this file).
        const bool newFile = fresh && mode != "wal" && empty;
        std::int64_t ignored = 0;
        if (!exec(newFile ? "PRAGMA synchronous=OFF" : "PRAGMA synchronous=FULL"))
            return false;
        // Nor does its first page need a rollback journal on the way to the log.
        if (newFile && !pragmaInt("PRAGMA journal_mode=OFF", ignored))
            return false;
        if (mode != "wal" && !pragmaInt("PRAGMA journal_mode=WAL", ignored))
            return false;
        if ((fresh || version < SchemaVersion) && !upgradeSchema())
            return false;
        if (newFile) {
            newFileUnsynced_ = true;
            if (!exec("PRAGMA synchronous=FULL"))
                return false;
        }
    }
    for (int hive = 0; hive < 2; ++hive) {
        const std::string fold(1, static_cast<char>(hive));
        auto id = childId(0, fold);
        if (!id)
            return false;
        if (*id == 0)
            return fail("the registry file " + file_ + " lacks its hive roots");
        roots_[hive] = *id;
    }
    error_.clear();
    return true;
}

bool HiveStore::upgradeSchema() {
    // Another process may be creating or converting the same file right now: the state is read
    // again under the write lock, and IF NOT EXISTS / INSERT OR IGNORE make a second creation
    // a no-op.
    if (!beginWrite())
        return false;
    std::int64_t appId = 0, tables = 0, version = 0;
    if (!pragmaInt("PRAGMA application_id", appId) ||
        !pragmaInt("SELECT count(*) FROM sqlite_schema", tables) ||
        !pragmaInt("PRAGMA user_version", version)) {
        rollback();
        return false;
    }
    if (appId != ApplicationId && tables != 0) {
        rollback();
        return fail("the registry file " + file_ + " is a database of another program");
    }
    const std::string pragmas = "PRAGMA application_id=" + std::to_string(ApplicationId) +
                                ";PRAGMA user_version=" + std::to_string(SchemaVersion) + ";";
    const bool convert = version == 1 && tables != 0;
    if ((convert && !exec(ConvertFromVersion1Sql)) || !exec(SchemaSql) || !exec(pragmas.c_str())) {
        std::string why = error_;
        rollback();
        return fail(why);
    }
    if (!commit())
        return false;
    if (convert) {
        // The old whole-path rows leave free pages behind; give them back to the disk once.
        std::int64_t free = 0, pages = 0;
        if (pragmaInt("PRAGMA freelist_count", free) && pragmaInt("PRAGMA page_count", pages) &&
            free * 4 > pages)
            sqlite3_exec(db_, "VACUUM", nullptr, nullptr, nullptr);
    }
    return true;
}

bool HiveStore::beginWrite() {
    if (readOnly_)
        return fail(readOnlyText());
    if (!exec(group_ ? "SAVEPOINT call" : "BEGIN IMMEDIATE"))
        return false;
    writing_ = true;
    // Under the write lock: what other connections committed before is seen now.
    if (!checkChildCache()) {
        rollback();
        return false;
    }
    return true;
}

Statement HiveStore::prepareInWrite(const char* sql) {
    Statement st = prepare(sql);
    if (!st)
        rollback();
    return st;
}

bool HiveStore::stepInWrite(Statement& st) {
    int rc = st.step();
    if (rc == SQLITE_DONE)
        return true;
    sqlFail(rc);
    rollback();
    return false;
}

bool HiveStore::commit() {
    if (!group_ && !syncNewFile()) {
        rollback();
        return false;
    }
    int rc = sqlite3_exec(db_, group_ ? "RELEASE call" : "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        writing_ = false;
        error_.clear();
        return true;
    }
    sqlFail(rc);
    rollback();
    return false;
}

std::optional<KeyPath> HiveStore::parsePath(const std::string& path) {
    std::size_t begin = path.find_first_not_of('\\');
    std::size_t end = path.find_last_not_of('\\');
    KeyPath kp;
    if (begin == std::string::npos)
        return kp; // the hive's root
    const std::string trimmed = path.substr(begin, end - begin + 1);
    std::size_t pos = 0;
    while (true) {
        std::size_t next = trimmed.find('\\', pos);
        std::string part = trimmed.substr(pos, next == std::string::npos ? next : next - pos);
        if (part.empty()) {
            fail("the key path \"" + path + "\" holds an empty key name");
            return std::nullopt;
        }
        if (!kp.parts.empty())
            kp.text += '\\';
        kp.text += part;
        kp.folds.push_back(foldName(part));
        kp.parts.push_back(std::move(part));
        if (next == std::string::npos)
            break;
        pos = next + 1;
    }
    return kp;
}

std::optional<KeyPath> HiveStore::openPath(const std::string& path) {
    if (group_ && !groupLost_.empty()) {
        fail(groupLost_);
        return std::nullopt;
    }
    if (!ensureOpen() || !checkChildCache())
        return std::nullopt;
    return parsePath(path);
}

bool HiveStore::checkChildCache() {
    Statement st = prepare("PRAGMA data_version");
    if (!st)
        return false;
    const int rc = st.step();
    if (rc != SQLITE_ROW)
        return sqlFail(rc);
    const std::int64_t version = st.intColumn(0);
    if (version != childCacheVersion_) {
        childCache_.clear();
        childCacheVersion_ = version;
    }
    return true;
}

std::optional<std::int64_t> HiveStore::childId(std::int64_t parent, const std::string& fold) {
    std::string cacheKey = childCacheKey(parent, fold);
    if (auto it = childCache_.find(cacheKey); it != childCache_.end())
        return it->second;
    Statement st = prepare("SELECT id FROM reg_keys WHERE parent=?1 AND fold=?2");
    if (!st)
        return std::nullopt;
    st.bind(1, parent);
    st.bindBytes(2, fold);
    int rc = st.step();
    if (rc == SQLITE_ROW) {
        const std::int64_t id = st.intColumn(0);
        if (childCache_.size() >= 200000)
            childCache_.clear();
        childCache_.emplace(std::move(cacheKey), id);
        return id;
    }
    if (rc == SQLITE_DONE)
        return 0;
    sqlFail(rc);
    return std::nullopt;
}

std::optional<Walk> HiveStore::walk(Hive hive, const KeyPath& kp) {
    Walk w;
    w.id = roots_[hive == Hive::CurrentUser ? 0 : 1];
    for (const std::string& fold : kp.folds) {
        auto id = childId(w.id, fold);
        if (!id)
            return std::nullopt;
        if (*id == 0)
            break;
        w.id = *id;
        ++w.found;
    }
    return w;
}

std::optional<std::int64_t> HiveStore::existingKeyId(Hive hive, const KeyPath& kp) {
    auto w = walk(hive, kp);
    if (w && w->found == kp.parts.size())
        return w->id;
    rollback();
    if (w)
        fail("the key " + kp.text + " does not exist");
    return std::nullopt;
}

bool HiveStore::keyExistsOnce(Hive hive, const std::string& path) {
    auto kp = openPath(path);
    if (!kp)
        return false;
    auto w = walk(hive, *kp);
    if (!w)
        return false;
    error_.clear();
    return w->found == kp->parts.size();
}

bool HiveStore::createKeyOnce(Hive hive, const std::string& path) {
    auto kp = openPath(path);
    if (!kp)
        return false;
    // A key that exists already changes nothing: no write lock, no sync.
    auto w = walk(hive, *kp);
    if (!w)
        return false;
    if (w->found == kp->parts.size()) {
        error_.clear();
        return true;
    }
    for (std::size_t i = w->found; i < kp->parts.size(); ++i) {
        const std::string& part = kp->parts[i];
        if (const std::size_t n = nameLength(part); n > MaxKeyName)
            return fail("The parameter is incorrect. The key name \"" + shortened(part) +
                        "\" has " + std::to_string(n) +
                        " characters; a key name may have at most " + std::to_string(MaxKeyName));
        if (i + 1 > MaxDepth)
            return fail("The parameter is incorrect. The key \"" + shortened(kp->text) +
                        "\" would lie " + std::to_string(kp->parts.size()) +
                        " levels deep; keys may be nested at most " + std::to_string(MaxDepth) +
                        " levels deep");
    }
    if (!beginWrite())
        return false;
    // Another program may have created part of the path since.
    w = walk(hive, *kp);
    if (!w) {
        rollback();
        return false;
    }
    std::int64_t parent = w->id;
    for (std::size_t i = w->found; i < kp->parts.size(); ++i) {
        Statement ins =
            prepareInWrite("INSERT INTO reg_keys(parent, name, fold) VALUES (?1, ?2, ?3)");
        if (!ins)
            return false;
        ins.bind(1, parent);
        ins.bindBytes(2, kp->parts[i]);
        ins.bindBytes(3, kp->folds[i]);
        if (!stepInWrite(ins))
            return false;
        const std::int64_t id = sqlite3_last_insert_rowid(db_);
        childCache_.emplace(childCacheKey(parent, kp->folds[i]), id);
        parent = id;
    }
    return commit();
}

bool HiveStore::deleteKeyOnce(Hive hive, const std::string& path) {
    auto kp = openPath(path);
    if (!kp)
        return false;
    if (kp->parts.empty())
        return fail("the root of a hive can not be deleted");
    // A key that is not there is not looked for under the write lock.
    if (!existingKeyId(hive, *kp) || !beginWrite())
        return false;
    auto id = existingKeyId(hive, *kp);
    if (!id)
        return false;
    childCache_.clear();
    for (const char* sql :
         {"WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN "
          "subtree s ON k.parent=s.id) DELETE FROM reg_values WHERE key IN (SELECT id FROM "
          "subtree)",
          "WITH RECURSIVE subtree(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN "
          "subtree s ON k.parent=s.id) DELETE FROM reg_keys WHERE id IN (SELECT id FROM "
          "subtree)"}) {
        Statement st = prepareInWrite(sql);
        if (!st)
            return false;
        st.bind(1, *id);
        if (!stepInWrite(st))
            return false;
    }
    return commit();
}

std::optional<RegValue> HiveStore::readValueOnce(Hive hive, const std::string& path,
                                                 const std::string& name) {
    auto kp = openPath(path);
    if (!kp)
        return std::nullopt;
    auto w = walk(hive, *kp);
    if (!w)
        return std::nullopt;
    if (w->found == kp->parts.size()) {
        Statement st = prepare("SELECT name, type, data FROM reg_values WHERE key=?1 AND fold=?2");
        if (!st)
            return std::nullopt;
        st.bind(1, w->id);
        st.bindBytes(2, foldName(name));
        int rc = st.step();
        if (rc == SQLITE_ROW) {
            RegValue v{st.textColumn(0), static_cast<std::uint32_t>(st.intColumn(1)),
                       st.bytesColumn(2)};
            error_.clear();
            return v;
        }
        if (rc != SQLITE_DONE) {
            sqlFail(rc);
            return std::nullopt;
        }
    }
    fail("the value \"" + name + "\" does not exist in the key " + kp->text);
    return std::nullopt;
}

bool HiveStore::writeValueOnce(Hive hive, const std::string& path, const RegValue& value) {
    if (const std::size_t n = nameLength(value.name); n > MaxValueName)
        return fail("The filename or extension is too long. The value name \"" +
                    shortened(value.name) + "\" has " + std::to_string(n) +
                    " characters; a value name may have at most " + std::to_string(MaxValueName));
    // Writing what is stored already changes nothing: no write lock, no sync to disk. (A write
    // of another program in between is simply ordered after this one.)
    if (auto current = readValueOnce(hive, path, value.name);
        current && current->type == value.type && current->data == value.data)
        return true;
    if (busy_)
        return false;
    auto kp = openPath(path);
    if (!kp || !beginWrite())
        return false;
    auto id = existingKeyId(hive, *kp);
    if (!id)
        return false;
    Statement st = prepareInWrite(
        "INSERT INTO reg_values(key, name, fold, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
    if (!st)
        return false;
    st.bind(1, *id);
    st.bindBytes(2, value.name);
    st.bindBytes(3, foldName(value.name));
    st.bind(4, value.type);
    st.bindBytes(5, value.data.data(), value.data.size());
    if (!stepInWrite(st))
        return false;
    return commit();
}

bool HiveStore::deleteValueOnce(Hive hive, const std::string& path, const std::string& name) {
    // A value that is not there is not looked for under the write lock.
    if (!readValueOnce(hive, path, name))
        return false;
    auto kp = openPath(path);
    if (!kp || !beginWrite())
        return false;
    auto id = existingKeyId(hive, *kp);
    if (!id)
        return false;
    Statement st = prepareInWrite("DELETE FROM reg_values WHERE key=?1 AND fold=?2");
    if (!st)
        return false;
    st.bind(1, *id);
    st.bindBytes(2, foldName(name));
    if (!stepInWrite(st))
        return false;
    const bool deleted = sqlite3_changes(db_) > 0;
    if (!commit())
        return false;
    if (!deleted)
        return fail("the value \"" + name + "\" does not exist in the key " + kp->text);
    return true;
}

std::vector<RegValue> HiveStore::valuesOnce(Hive hive, const std::string& path) {
    return keyRows<RegValue>(
        hive, path, "SELECT name, type, data FROM reg_values WHERE key=?1 ORDER BY id",
        [](Statement& st) {
            return RegValue{st.textColumn(0), static_cast<std::uint32_t>(st.intColumn(1)),
                            st.bytesColumn(2)};
        });
}

std::vector<std::string> HiveStore::subkeysOnce(Hive hive, const std::string& path) {
    return keyRows<std::string>(hive, path, "SELECT name FROM reg_keys WHERE parent=?1 ORDER BY id",
                                [](Statement& st) { return st.textColumn(0); });
}

std::unique_ptr<RegistryBackend>& defaultSlot() {
    static std::unique_ptr<RegistryBackend> slot;
    return slot;
}

} // namespace

std::string defaultHiveFile() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    // Relative values are to be ignored, as the base directory rules say.
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/VelmarLauncher/registry.db";
}

std::unique_ptr<RegistryBackend> openHiveStore(const std::string& file) {
    // The store holds a few dozen small rows. SQLite's defaults are made for more: every
    // connection sets aside about 120 KB for small allocations and writes into all of it, and
    // the page cache allocates room for 20 pages at its first use; together more memory than
    // the settings take. Only possible before SQLite is first used in this process; should
    // that have happened already, its defaults stay.
    static const bool lean = [] {
        sqlite3_config(SQLITE_CONFIG_LOOKASIDE, 0, 0);
        sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
        return true;
    }();
    (void)lean;
    return std::make_unique<HiveStore>(file);
}

RegistryBackend& defaultRegistryBackend() {
    auto& slot = defaultSlot();
    if (!slot) {
        slot = openHiveStore(defaultHiveFile());
#ifndef _WIN32
        slot = withWinePrefixGameKey(std::move(slot)); // the game may live in a Wine prefix
#endif
    }
    return *slot;
}

void resetDefaultRegistryBackend() {
    defaultSlot().reset();
}

} // namespace velmar
