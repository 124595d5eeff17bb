// Keys and values of the hive store, with Windows' limits on their names and nesting.
#include "platform/registry/HiveStore.h"
#include "platform/registry/NameFolding.h"

#include <string>

namespace velmar::hivestore {

namespace {

// Windows' limits, in UTF-16 code units (nameLength()).
constexpr std::size_t MaxKeyName = 255;
constexpr std::size_t MaxValueName = 16383;
constexpr std::size_t MaxDepth = 512;

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

} // namespace

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

} // namespace velmar::hivestore
