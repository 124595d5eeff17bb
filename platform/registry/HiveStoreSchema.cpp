// The tables of the hive store, and their conversion from older versions.
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
#include "platform/registry/HiveStore.h"

#include <string>

namespace velmar::hivestore {

namespace {

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

} // namespace

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

} // namespace velmar::hivestore
