// Waits: a call waits for another program's lock at most ReadWaitMs when it only reads and
// WriteWaitMs when it writes, then fails saying that the settings are locked. Once a call has
// waited in vain, calls that follow within ReadWaitMs try once without waiting (until one gets
// through), so that a run of calls (a start-up) is held up once, not once per call.
#include "platform/registry/HiveStore.h"
#include "platform/registry/CheckRecord.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/statvfs.h>
#include <unistd.h>

namespace velmar::hivestore {

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
    // Damage found while reading: nothing more is written to the file, not even the commits
    // of other programs that a close would copy into it from the log, and the next open checks
    // the whole file again.
    if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) {
        damaged_ = error_;
        if (db_)
            sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        forgetChecked(file_);
    }
    // After the file failed (full disk, I/O error, damage) the rest of a group can not be
    // trusted to be stored: the whole group fails.
    const int primary = rc & 0xff;
    noteGroupLost(primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_CORRUPT ||
                  primary == SQLITE_NOMEM || primary == SQLITE_CANTOPEN);
    return false;
}

} // namespace velmar::hivestore
