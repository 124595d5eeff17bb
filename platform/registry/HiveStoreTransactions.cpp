// Write transactions of the hive store: one per call, or a group of calls.
//
// Durability: the journal is a write-ahead log with synchronous=FULL, so the log is synced to
// the disk at every commit and a call that returns success has its change on the disk (NORMAL
// syncs only at checkpoints and can lose the last commits on power loss). A call that changes
// nothing (a read, a write of the value already stored, creating a key that exists) begins no
// write transaction: it takes no write lock and syncs nothing.
// Two things are written without waiting for the disk, because nothing in them is lost when a
// power cut takes them: a new file with its empty tables (made again on the next start), and a
// group begun with Sync::Later (the caller makes it again when it is missing). The next commit
// that is synced makes them durable with it: it syncs the file's first page, which marks the
// file as one with a log, before the log, so that the log never outlives its file; the log's
// sync then covers every commit before it. Any connection's first synced commit syncs the file
// so, not only the one that made it: the file may have been made by another program that is
// still running and has not synced it (the launcher's first start, then velmar-reg), and a log
// on the disk beside an empty file is taken for the log of a new file and dropped.
#include "platform/registry/HiveStore.h"

namespace velmar::hivestore {

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
        if (!damaged_.empty())
            return fail(damaged_);
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
    if (groupLost_.empty() && !syncLater_ && !syncFileOnce())
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

bool HiveStore::syncFileOnce() {
    if (!fileUnsynced_ || !db_)
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
    fileUnsynced_ = false;
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

bool HiveStore::beginWrite() {
    if (readOnly_)
        return fail(readOnlyText());
    if (!damaged_.empty())
        return fail(damaged_);
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
    if (!group_ && !syncFileOnce()) {
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

} // namespace velmar::hivestore
