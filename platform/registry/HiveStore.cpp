// The hive store's file: opening it, the checks before anything is written, its statements;
// and the functions that hand out the store.
#include "platform/registry/HiveStore.h"
#include "platform/registry/CheckRecord.h"
#include "platform/registry/WinePrefixGameKey.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velmar {

namespace hivestore {

namespace {

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

} // namespace

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

    // SQLite checks each page as it reads it; with cell_size_check also the sizes of the cells
    // on it, so that a damaged page is refused before a change is made to it.
    if (!exec("PRAGMA cell_size_check=ON"))
        return false;

    // Read-only checks first: nothing is written to a file that turns out not to be ours. A file
    // that was missing or empty holds nothing that could be damaged. Reading every page costs
    // time in step with the file's size, so it is done only when the file may have changed in
    // a way SQLite does not see for itself: when it was changed since its last check that
    // passed (by this program too: a check after each session that wrote to the file), or its
    // log was left behind by a program that did not close it.
    if (!empty) {
        const auto state = fileState(file_);
        if (!state || logLeftBehind(file_) || !checkedBefore(file_, *state)) {
            CheckNote note(file_);
            const auto checked = fileState(file_);
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
            if (verdict != "ok") {
                forgetChecked(file_);
                return fail("the registry file " + file_ + " is damaged (" + verdict + ")");
            }
            if (checked && fileState(file_) == checked)
                note.keep(*checked);
        }
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
        // tables hold nothing a power cut could take from anybody (see HiveStoreTransactions.cpp).
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
        if (newFile && !exec("PRAGMA synchronous=FULL"))
            return false;
        // Made by this connection or another, the file may not be on the disk yet.
        fileUnsynced_ = true;
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

} // namespace hivestore

namespace {

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
    return std::make_unique<hivestore::HiveStore>(file);
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
