// The SQLite hive store: both hives of the emulated registry in one database file.
//
// Tables:
//   reg_keys(id, hive, parent, name, fold)  - one row per key; the hive roots are rows with
//                                             fold '' and no parent. `name` is the last path
//                                             component as first written, `fold` the whole
//                                             path folded to upper case (the lookup column).
//   reg_values(id, key, name, fold, type, data)
// Row ids grow with creation, so ORDER BY id is the creation order; an overwrite updates the
// row in place and keeps its id. Names and folds are stored as BLOBs so that bytes that are not
// UTF-8 survive unchanged and compare byte for byte.
#include "platform/registry/RegistryBackend.h"
#include "platform/registry/NameFolding.h"

#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <type_traits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <utility>

namespace velmar {

namespace {

constexpr int ApplicationId = 0x56524547; // "VREG"
constexpr int SchemaVersion = 1;
constexpr int BusyTimeoutMs = 15000;

const char* const SchemaSql = R"sql(
CREATE TABLE IF NOT EXISTS reg_keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    hive INTEGER NOT NULL,
    parent INTEGER,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    UNIQUE(hive, fold));
CREATE INDEX IF NOT EXISTS reg_keys_parent ON reg_keys(parent);
CREATE TABLE IF NOT EXISTS reg_values(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key INTEGER NOT NULL,
    name BLOB NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
INSERT OR IGNORE INTO reg_keys(hive, parent, name, fold) VALUES (0, NULL, x'', x'');
INSERT OR IGNORE INTO reg_keys(hive, parent, name, fold) VALUES (1, NULL, x'', x'');
)sql";

int hiveNumber(Hive hive) {
    return hive == Hive::CurrentUser ? 0 : 1;
}

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
    std::string fold; // folded parts joined by '\'
    std::string text; // parts joined by '\'
};

class HiveStore final : public RegistryBackend {
public:
    explicit HiveStore(std::string file) : file_(std::move(file)) { ensureOpen(); }
    ~HiveStore() override { closeDb(); }

    bool keyExists(Hive hive, const std::string& path) override {
        return retrying([&] { return keyExistsOnce(hive, path); });
    }
    bool createKey(Hive hive, const std::string& path) override {
        return retrying([&] { return createKeyOnce(hive, path); });
    }
    bool deleteKey(Hive hive, const std::string& path) override {
        return retrying([&] { return deleteKeyOnce(hive, path); });
    }
    std::optional<RegValue> readValue(Hive hive, const std::string& path,
                                      const std::string& name) override {
        return retrying([&] { return readValueOnce(hive, path, name); });
    }
    bool writeValue(Hive hive, const std::string& path, const RegValue& value) override {
        // Writing what is stored already changes nothing: no transaction, no sync to disk. (A
        // write of another process in between is simply ordered after this one.)
        if (auto current = readValue(hive, path, value.name);
            current && current->type == value.type && current->data == value.data)
            return true;
        return retrying([&] { return writeValueOnce(hive, path, value); });
    }
    bool deleteValue(Hive hive, const std::string& path, const std::string& name) override {
        return retrying([&] { return deleteValueOnce(hive, path, name); });
    }
    std::vector<RegValue> values(Hive hive, const std::string& path) override {
        return retrying([&] { return valuesOnce(hive, path); });
    }
    std::vector<std::string> subkeys(Hive hive, const std::string& path) override {
        return retrying([&] { return subkeysOnce(hive, path); });
    }
    bool beginTransaction() override;
    bool commitTransaction() override;
    void rollbackTransaction() override;
    std::string lastError() const override { return error_; }

private:
    // SQLite's busy handler is not called in every case of contention (while another process
    // opens, converts or checkpoints the file, for instance); such a call is tried again,
    // from the start of its transaction, until the busy time-out has passed.
    template <typename F> std::invoke_result_t<F&> retrying(F&& once) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(BusyTimeoutMs);
        while (true) {
            busy_ = false;
            auto result = once();
            // Inside a group the write lock is held already; starting over would lose the
            // group's earlier changes.
            if (!busy_ || group_ || std::chrono::steady_clock::now() >= deadline)
                return result;
            rollback();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
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
    void closeDb();
    bool fail(std::string text) {
        error_ = std::move(text);
        return false;
    }
    bool sqlFail(int rc);
    std::string fileProblem(int rc);
    bool exec(const char* sql);
    Statement prepare(const char* sql);
    std::optional<KeyPath> parsePath(const std::string& path);
    // The store opened and the path parsed; nullopt, with the error set, when either fails.
    std::optional<KeyPath> openPath(const std::string& path);
    // The id of the key, 0 when it does not exist, nullopt on failure.
    std::optional<std::int64_t> keyId(Hive hive, const std::string& fold);
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
    // Undoes the open write transaction of one call, if any; keeps the error text.
    void rollback();
    // Notes that the open group can not be committed: SQLite has undone it on its own, or
    // `failed`, the file failed under it.
    void noteGroupLost(bool failed = false);

    std::string file_;
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    bool busy_ = false;     // the last failure was contention with another connection
    bool writing_ = false;  // a call's write transaction (or savepoint) is open
    bool group_ = false;    // between beginTransaction() and its commit or rollback
    std::string groupLost_; // why the open group was undone, empty while it stands
    std::string error_;
    std::unordered_map<const char*, sqlite3_stmt*> cache_;
};

std::string HiveStore::fileProblem(int rc) {
    const std::string f = "the registry file " + file_;
    switch (rc & 0xff) {
    case SQLITE_NOTADB:
        return f + " is not a database";
    case SQLITE_CORRUPT:
        return f + " is damaged (" + sqlite3_errstr(rc) + ")";
    case SQLITE_READONLY:
        return f + " is read-only";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return f + " is locked by another program";
    case SQLITE_FULL:
        return f + " can not grow: the disk is full";
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_AUTH:
    case SQLITE_IOERR: {
        int err = db_ ? sqlite3_system_errno(db_) : 0;
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
    if (!db_ || sqlite3_get_autocommit(db_)) {
        noteGroupLost();
        return;
    }
    sqlite3_exec(db_, group_ ? "ROLLBACK TO call; RELEASE call" : "ROLLBACK", nullptr, nullptr,
                 nullptr);
    noteGroupLost();
}

bool HiveStore::beginTransaction() {
    if (group_)
        return fail("a group of changes to the registry file " + file_ + " is open already");
    if (!ensureOpen())
        return false;
    if (readOnly_)
        return fail("the registry file " + file_ + " is read-only");
    if (!retrying([&] { return exec("BEGIN IMMEDIATE"); }))
        return false;
    group_ = true;
    groupLost_.clear();
    error_.clear();
    return true;
}

bool HiveStore::commitTransaction() {
    if (!group_)
        return fail("no group of changes to the registry file " + file_ + " is open");
    group_ = false;
    writing_ = false;
    if (!groupLost_.empty()) {
        if (db_ && !sqlite3_get_autocommit(db_))
            sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        return fail(std::exchange(groupLost_, {}));
    }
    int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        error_.clear();
        return true;
    }
    sqlFail(rc);
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    return false;
}

void HiveStore::rollbackTransaction() {
    if (!group_)
        return;
    group_ = false;
    writing_ = false;
    groupLost_.clear();
    if (db_ && !sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool HiveStore::exec(const char* sql) {
    int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
    return rc == SQLITE_OK || sqlFail(rc);
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
    if (path.has_parent_path()) {
        fs::create_directories(path.parent_path(), ec);
        if (ec || !fs::is_directory(path.parent_path()))
            return fail("the folder " + path.parent_path().string() +
                        " for the registry file can not be created" +
                        (ec ? ": " + ec.message() : std::string()));
    }
    struct stat st {};
    if (::stat(file_.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return fail("the registry file " + file_ + " is not a regular file");

    int rc =
        sqlite3_open_v2(file_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK)
        return sqlFail(rc);
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, BusyTimeoutMs);

    // Read-only checks first: nothing is written to a file that turns out not to be ours.
    {
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
    auto pragmaInt = [this](const char* sql, std::int64_t& out) {
        sqlite3_stmt* stmt = nullptr;
        int r = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
        if (r == SQLITE_OK) {
            r = sqlite3_step(stmt);
            if (r == SQLITE_ROW)
                out = sqlite3_column_int64(stmt, 0);
        }
        sqlite3_finalize(stmt);
        return r == SQLITE_ROW || r == SQLITE_DONE || sqlFail(r);
    };
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
    if (readOnly_) {
        if (fresh)
            return fail("the registry file " + file_ + " is read-only");
        return true; // reads work, writes fail with a clear text
    }
    {
        std::int64_t ignored = 0;
        if (!pragmaInt("PRAGMA journal_mode=WAL", ignored))
            return false;
    }
    if (!exec("PRAGMA synchronous=NORMAL"))
        return false;
    if (fresh || version < SchemaVersion) {
        // Another process may be creating the same tables right now: IF NOT EXISTS and
        // INSERT OR IGNORE make the second creation a no-op.
        if (!beginWrite())
            return false;
        std::int64_t nowId = 0, nowTables = 0;
        if (!pragmaInt("PRAGMA application_id", nowId) ||
            !pragmaInt("SELECT count(*) FROM sqlite_schema", nowTables)) {
            rollback();
            return false;
        }
        if (nowId != ApplicationId && nowTables != 0) {
            rollback();
            return fail("the registry file " + file_ + " is a database of another program");
        }
        const std::string pragmas = "PRAGMA application_id=" + std::to_string(ApplicationId) +
                                    ";PRAGMA user_version=" + std::to_string(SchemaVersion) + ";";
        if (!exec(SchemaSql) || !exec(pragmas.c_str())) {
            std::string why = error_;
            rollback();
            return fail(why);
        }
        if (!commit())
            return false;
    }
    error_.clear();
    return true;
}

bool HiveStore::beginWrite() {
    if (readOnly_)
        return fail("the registry file " + file_ + " is read-only");
    if (!exec(group_ ? "SAVEPOINT call" : "BEGIN IMMEDIATE"))
        return false;
    writing_ = true;
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
        if (!kp.parts.empty()) {
            kp.fold += '\\';
            kp.text += '\\';
        }
        kp.fold += foldName(part);
        kp.text += part;
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
    if (!ensureOpen())
        return std::nullopt;
    return parsePath(path);
}

std::optional<std::int64_t> HiveStore::keyId(Hive hive, const std::string& fold) {
    Statement st = prepare("SELECT id FROM reg_keys WHERE hive=?1 AND fold=?2");
    if (!st)
        return std::nullopt;
    st.bind(1, hiveNumber(hive));
    st.bindBytes(2, fold);
    int rc = st.step();
    if (rc == SQLITE_ROW)
        return st.intColumn(0);
    if (rc == SQLITE_DONE)
        return 0;
    sqlFail(rc);
    return std::nullopt;
}

std::optional<std::int64_t> HiveStore::existingKeyId(Hive hive, const KeyPath& kp) {
    auto id = keyId(hive, kp.fold);
    if (id && *id != 0)
        return id;
    rollback();
    if (id)
        fail("the key " + kp.text + " does not exist");
    return std::nullopt;
}

bool HiveStore::keyExistsOnce(Hive hive, const std::string& path) {
    auto kp = openPath(path);
    if (!kp)
        return false;
    auto id = keyId(hive, kp->fold);
    if (!id)
        return false;
    error_.clear();
    return *id != 0;
}

bool HiveStore::createKeyOnce(Hive hive, const std::string& path) {
    auto kp = openPath(path);
    if (!kp || !beginWrite())
        return false;
    auto parent = keyId(hive, "");
    if (!parent || *parent == 0) {
        rollback();
        return parent ? fail("the registry file " + file_ + " lacks its hive roots") : false;
    }
    std::string fold;
    for (const std::string& part : kp->parts) {
        if (!fold.empty())
            fold += '\\';
        fold += foldName(part);
        auto id = keyId(hive, fold);
        if (!id) {
            rollback();
            return false;
        }
        if (*id == 0) {
            Statement ins = prepareInWrite(
                "INSERT INTO reg_keys(hive, parent, name, fold) VALUES (?1, ?2, ?3, ?4)");
            if (!ins)
                return false;
            ins.bind(1, hiveNumber(hive));
            ins.bind(2, *parent);
            ins.bindBytes(3, part);
            ins.bindBytes(4, fold);
            if (!stepInWrite(ins))
                return false;
            id = sqlite3_last_insert_rowid(db_);
        }
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
    if (!beginWrite())
        return false;
    auto id = existingKeyId(hive, *kp);
    if (!id)
        return false;
    const std::string prefix = kp->fold + '\\';
    for (const char* sql :
         {"DELETE FROM reg_values WHERE key IN (SELECT id FROM reg_keys WHERE hive=?1 AND "
          "(fold=?2 OR substr(fold, 1, ?3)=?4))",
          "DELETE FROM reg_keys WHERE hive=?1 AND (fold=?2 OR substr(fold, 1, ?3)=?4)"}) {
        Statement st = prepareInWrite(sql);
        if (!st)
            return false;
        st.bind(1, hiveNumber(hive));
        st.bindBytes(2, kp->fold);
        st.bind(3, static_cast<std::int64_t>(prefix.size()));
        st.bindBytes(4, prefix);
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
    Statement st = prepare("SELECT v.name, v.type, v.data FROM reg_values v JOIN reg_keys k ON "
                           "v.key=k.id WHERE k.hive=?1 AND k.fold=?2 AND v.fold=?3");
    if (!st)
        return std::nullopt;
    st.bind(1, hiveNumber(hive));
    st.bindBytes(2, kp->fold);
    st.bindBytes(3, foldName(name));
    int rc = st.step();
    if (rc == SQLITE_ROW) {
        RegValue v{st.textColumn(0), static_cast<std::uint32_t>(st.intColumn(1)),
                   st.bytesColumn(2)};
        error_.clear();
        return v;
    }
    if (rc == SQLITE_DONE)
        fail("the value \"" + name + "\" does not exist in the key " + kp->text);
    else
        sqlFail(rc);
    return std::nullopt;
}

bool HiveStore::writeValueOnce(Hive hive, const std::string& path, const RegValue& value) {
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
    auto kp = openPath(path);
    if (!kp || !beginWrite())
        return false;
    Statement st = prepareInWrite("DELETE FROM reg_values WHERE fold=?3 AND key=(SELECT id FROM "
                                  "reg_keys WHERE hive=?1 AND fold=?2)");
    if (!st)
        return false;
    st.bind(1, hiveNumber(hive));
    st.bindBytes(2, kp->fold);
    st.bindBytes(3, foldName(name));
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
    return std::make_unique<HiveStore>(file);
}

RegistryBackend& defaultRegistryBackend() {
    auto& slot = defaultSlot();
    if (!slot)
        slot = openHiveStore(defaultHiveFile());
    return *slot;
}

void resetDefaultRegistryBackend() {
    defaultSlot().reset();
}

} // namespace velmar
