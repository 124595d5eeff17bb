// The hive store as a tree: Windows' limits on names and depth, storage in proportion to the
// content, and the conversion of stores written by the earlier whole-path layout.
#include "platform/registry/NameFolding.h"
#include "platform/registry/RegistryBackend.h"
#include "settings/Registry.h"
#include "tests/registry/StoreValues.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmar;
namespace fs = std::filesystem;

namespace {

using test::text;

std::string repeat(const std::string& unit, std::size_t n) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i)
        out += unit;
    return out;
}

const std::string Emoji = "\xF0\x9F\x98\x80"; // U+1F600: two UTF-16 units

TEST(TreeStore, KeyNamesAreLimitedTo255CharactersAsWindowsCountsThem) {
    test::TempDir dir;
    auto store = openHiveStore(dir.path() + "/registry.db");
    const std::vector<std::string> fitting = {
        repeat("k", 255), repeat("\xC3\xA4", 255) /* ä: one unit, two bytes */,
        repeat(Emoji, 127) + "a", repeat("\xFF", 255) /* not UTF-8: one per byte */,
        repeat("\xC3\xA4", 254) + "\xFF" /* a stray byte among UTF-8: one */};
    for (const std::string& name : fitting) {
        EXPECT_TRUE(store->createKey(Hive::CurrentUser, "Fit\\" + name)) << store->lastError();
        EXPECT_TRUE(store->keyExists(Hive::CurrentUser, "fit\\" + name));
    }
    const std::vector<std::string> tooLong = {repeat("k", 256), repeat(Emoji, 128),
                                              repeat("\xFF", 256),
                                              repeat("\xC3\xA4", 255) + "\xFF"};
    for (const std::string& name : tooLong) {
        EXPECT_FALSE(store->createKey(Hive::CurrentUser, "New\\" + name));
        EXPECT_EQ(store->lastError().rfind("The parameter is incorrect.", 0), 0u)
            << store->lastError();
        EXPECT_NE(store->lastError().find("at most 255"), std::string::npos);
        // Nothing of the path was created.
        EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "New"));
    }
    EXPECT_EQ(store->subkeys(Hive::CurrentUser, "Fit").size(), fitting.size());
}

TEST(TreeStore, ValueNamesAreLimitedTo16383Characters) {
    test::TempConfig config;
    auto store = openHiveStore(config.hiveFile());
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "K"));
    for (const std::string& name :
         {repeat("v", 16383), repeat(Emoji, 8191) + "v", repeat("\xFE", 16383)})
        EXPECT_TRUE(store->writeValue(Hive::CurrentUser, "K", text(name, "x")))
            << store->lastError();
    for (const std::string& name :
         {repeat("v", 16384), repeat(Emoji, 8192), repeat("\xFE", 16384)}) {
        EXPECT_FALSE(store->writeValue(Hive::CurrentUser, "K", text(name, "x")));
        EXPECT_EQ(store->lastError().rfind("The filename or extension is too long.", 0), 0u)
            << store->lastError().substr(0, 200);
    }
    EXPECT_EQ(store->values(Hive::CurrentUser, "K").size(), 3u);

    // The launcher's registry wrapper passes the store's reason on after its own words.
    Registry reg(*store);
    ASSERT_TRUE(reg.openKey("K", false));
    try {
        reg.writeString(repeat("n", 16384), "x");
        ADD_FAILURE() << "no RegistryError";
    } catch (const RegistryError& e) {
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("Failed to set data for 'nnn", 0), 0u);
        EXPECT_NE(what.find("': The filename or extension is too long."), std::string::npos);
    }
}

TEST(TreeStore, KeysNestAtMost512LevelsAndCostTheirOwnNameOnly) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    // 512 levels of 255-character names: with whole paths stored per key this would take
    // about 67 MB; as a tree each key holds its own name.
    std::string path;
    {
        auto store = openHiveStore(file);
        RegistryTransaction group(*store);
        ASSERT_TRUE(group.active());
        for (int level = 1; level <= 512; ++level) {
            std::string name = std::to_string(level) + "_";
            name += std::string(255 - name.size(), 'n');
            path += (path.empty() ? "" : "\\") + name;
            ASSERT_TRUE(store->createKey(Hive::CurrentUser, path)) << level << store->lastError();
        }
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, path, text("Bottom", "512")));
        ASSERT_TRUE(group.commit()) << store->lastError();

        EXPECT_FALSE(store->createKey(Hive::CurrentUser, path + "\\deeper"));
        EXPECT_EQ(store->lastError().rfind("The parameter is incorrect.", 0), 0u)
            << store->lastError();
        EXPECT_NE(store->lastError().find("at most 512"), std::string::npos);
        // A path that is too deep is refused as a whole, before anything is created.
        std::string fresh;
        for (int level = 1; level <= 513; ++level)
            fresh += (fresh.empty() ? "" : "\\") + std::string("L") + std::to_string(level);
        EXPECT_FALSE(store->createKey(Hive::CurrentUser, fresh));
        EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "L1"));
    }
    EXPECT_LT(fs::file_size(file), 2u * 1024 * 1024);
    auto store = openHiveStore(file);
    auto bottom = store->readValue(Hive::CurrentUser, path, "bottom");
    ASSERT_TRUE(bottom) << store->lastError();
    EXPECT_EQ(bottom->data, text("", "512").data);
    ASSERT_TRUE(store->deleteKey(Hive::CurrentUser, path.substr(0, path.find('\\'))));
    EXPECT_TRUE(store->subkeys(Hive::CurrentUser, "").empty());
}

TEST(TreeStore, KeysReplacedByAnotherConnectionAreFoundAnew) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    auto store = openHiveStore(file);
    auto other = openHiveStore(file);
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "A\\B\\C"));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "A\\B\\C", text("V", "old")));
    ASSERT_TRUE(store->readValue(Hive::CurrentUser, "a\\b\\c", "v"));
    // The other connection deletes the whole branch and builds it again.
    ASSERT_TRUE(other->deleteKey(Hive::CurrentUser, "A"));
    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "A\\B"));
    ASSERT_TRUE(other->createKey(Hive::CurrentUser, "A\\B\\C"));
    ASSERT_TRUE(other->writeValue(Hive::CurrentUser, "A\\B\\C", text("V", "new")));
    auto v = store->readValue(Hive::CurrentUser, "A\\B\\C", "V");
    ASSERT_TRUE(v) << store->lastError();
    EXPECT_EQ(v->data, text("", "new").data);
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "A\\B\\C", text("W", "w")));
    EXPECT_EQ(other->values(Hive::CurrentUser, "A\\B\\C").size(), 2u);
}

// A store in the earlier layout: every key row held its whole folded path, unique per hive.
void writeVersion1Store(const std::string& file) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    auto run = [&](const std::string& sql) {
        char* msg = nullptr;
        ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg), SQLITE_OK) << msg;
    };
    run("PRAGMA journal_mode=WAL");
    run(R"sql(
CREATE TABLE reg_keys(id INTEGER PRIMARY KEY AUTOINCREMENT, hive INTEGER NOT NULL,
    parent INTEGER, name BLOB NOT NULL, fold BLOB NOT NULL, UNIQUE(hive, fold));
CREATE INDEX reg_keys_parent ON reg_keys(parent);
CREATE TABLE reg_values(id INTEGER PRIMARY KEY AUTOINCREMENT, key INTEGER NOT NULL,
    name BLOB NOT NULL, fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,
    UNIQUE(key, fold));
INSERT INTO reg_keys(hive, parent, name, fold) VALUES (0, NULL, x'', x'');
INSERT INTO reg_keys(hive, parent, name, fold) VALUES (1, NULL, x'', x'');
PRAGMA application_id=1448232263; PRAGMA user_version=1;
)sql");
    sqlite3_stmt* key = nullptr;
    sqlite3_stmt* value = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db,
                           "INSERT INTO reg_keys(hive, parent, name, fold) VALUES "
                           "(?1, (SELECT id FROM reg_keys WHERE hive=?1 AND fold=?2), ?3, ?4)",
                           -1, &key, nullptr),
        SQLITE_OK);
    ASSERT_EQ(
        sqlite3_prepare_v2(db,
                           "INSERT INTO reg_values(key, name, fold, type, data) VALUES ("
                           "(SELECT id FROM reg_keys WHERE hive=?1 AND fold=?2), ?3, ?4, ?5, ?6)",
                           -1, &value, nullptr),
        SQLITE_OK);
    auto blob = [](sqlite3_stmt* st, int i, const std::string& s) {
        sqlite3_bind_blob(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
    };
    // Keys are added parent first, as the earlier store created them.
    auto addKey = [&](int hive, const std::string& path) {
        std::string parentFold, fold, name = path;
        if (auto cut = path.rfind('\\'); cut != std::string::npos) {
            name = path.substr(cut + 1);
            for (std::size_t b = 0, e; b <= cut; b = e + 1) {
                e = path.find('\\', b);
                if (!parentFold.empty())
                    parentFold += '\\';
                parentFold += foldName(path.substr(b, e - b));
                if (e == cut)
                    break;
            }
        }
        fold = parentFold.empty() ? foldName(name) : parentFold + '\\' + foldName(name);
        sqlite3_bind_int(key, 1, hive);
        blob(key, 2, parentFold);
        blob(key, 3, name);
        blob(key, 4, fold);
        ASSERT_EQ(sqlite3_step(key), SQLITE_DONE) << sqlite3_errmsg(db);
        sqlite3_reset(key);
    };
    auto addValue = [&](int hive, const std::string& path, const RegValue& v) {
        std::string fold;
        for (std::size_t b = 0, e = 0; e != std::string::npos; b = e + 1) {
            e = path.find('\\', b);
            fold += (fold.empty() ? "" : "\\") + foldName(path.substr(b, e - b));
        }
        sqlite3_bind_int(value, 1, hive);
        blob(value, 2, fold);
        blob(value, 3, v.name);
        blob(value, 4, foldName(v.name));
        sqlite3_bind_int(value, 5, static_cast<int>(v.type));
        sqlite3_bind_blob(value, 6, v.data.data(), static_cast<int>(v.data.size()),
                          SQLITE_TRANSIENT);
        ASSERT_EQ(sqlite3_step(value), SQLITE_DONE) << sqlite3_errmsg(db);
        sqlite3_reset(value);
    };
    addKey(0, "Software");
    addKey(0, "Software\\Tobrel");
    addKey(0, "Software\\Tobrel\\VelmarLauncher");
    addKey(0, "Software\\Tobrel\\VelmarLauncher\\Installations");
    addKey(0, "Software\\Tobrel\\Gone");
    addKey(0, "\xC3\x84pfel");            // Äpfel
    addKey(0, "\xC3\x84pfel\\\xC3\x96l"); // Äpfel\Öl
    addKey(0, "\xC4x");                   // not UTF-8
    addKey(1, "Software");
    addKey(1, "Software\\Holmgard");
    addKey(1, "Software\\Holmgard\\VELMARTIDES");
    run("DELETE FROM reg_keys WHERE name=CAST('Gone' AS BLOB)");
    addKey(0, "Software\\Tobrel\\Zuletzt");
    const std::string launcher = "Software\\Tobrel\\VelmarLauncher";
    addValue(0, launcher, {"GameType", RegDword, {1, 0, 0, 0}});
    addValue(0, launcher, text("LastInstallation", "Zwei"));
    addValue(0, launcher + "\\Installations", text("Zwei", "/games/2"));
    addValue(0, launcher + "\\Installations", text("Eins", "/games/1"));
    addValue(0, "\xC3\x84pfel\\\xC3\x96l", text("", "default"));
    addValue(1, "Software\\Holmgard\\VELMARTIDES", text("GAMEPATH", "C:\\Velmar"));
    sqlite3_finalize(key);
    sqlite3_finalize(value);
    sqlite3_close(db);
}

int userVersion(const std::string& file) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
    int v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return v;
}

void expectVersion1Content(RegistryBackend& store) {
    const std::string launcher = "software\\TOBREL\\velmarlauncher";
    EXPECT_EQ(store.readValue(Hive::CurrentUser, launcher, "gametype")->data,
              (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(store.readValue(Hive::CurrentUser, launcher, "LastInstallation")->data,
              text("", "Zwei").data);
    const auto installs = store.values(Hive::CurrentUser, launcher + "\\installations");
    ASSERT_EQ(installs.size(), 2u);
    EXPECT_EQ(installs[0].name, "Zwei"); // creation order kept
    EXPECT_EQ(installs[1].name, "Eins");
    EXPECT_EQ(store.subkeys(Hive::CurrentUser, "Software\\Tobrel"),
              (std::vector<std::string>{"VelmarLauncher", "Zuletzt"}));
    auto top = store.subkeys(Hive::CurrentUser, "");
    top.resize(std::min<std::size_t>(top.size(), 3)); // the keys of the layout, first
    EXPECT_EQ(top, (std::vector<std::string>{"Software", "\xC3\x84pfel", "\xC4x"}));
    EXPECT_EQ(store.readValue(Hive::CurrentUser, "\xC3\xA4PFEL\\\xC3\xB6l", "")->data,
              text("", "default").data); // äPFEL\öl
    EXPECT_TRUE(store.keyExists(Hive::CurrentUser, "\xC4X"));
    EXPECT_FALSE(store.keyExists(Hive::CurrentUser, "\xE4X"));
    EXPECT_FALSE(store.keyExists(Hive::CurrentUser, "Software\\Tobrel\\Gone"));
    EXPECT_EQ(
        store.readValue(Hive::LocalMachine, "SOFTWARE\\holmgard\\velmartides", "GAMEPATH")->data,
        text("", "C:\\Velmar").data);
    EXPECT_FALSE(store.keyExists(Hive::LocalMachine, "Software\\Tobrel"));
}

TEST(TreeStore, AStoreOfTheEarlierLayoutIsConvertedWithEverySetting) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    writeVersion1Store(file);
    ASSERT_EQ(userVersion(file), 1);
    {
        auto store = openHiveStore(file);
        ASSERT_TRUE(store->keyExists(Hive::CurrentUser, "")) << store->lastError();
        expectVersion1Content(*store);
        EXPECT_EQ(store->subkeys(Hive::CurrentUser, "").size(), 3u);
        // New keys go after the converted ones.
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software\\Tobrel\\Neu"));
        EXPECT_EQ(store->subkeys(Hive::CurrentUser, "Software\\Tobrel").back(), "Neu");
        ASSERT_TRUE(store->deleteKey(Hive::CurrentUser, "Software\\Tobrel\\VelmarLauncher"));
        EXPECT_TRUE(store->keyExists(Hive::CurrentUser, "Software\\Tobrel\\Zuletzt"));
    }
    EXPECT_EQ(userVersion(file), 2);
}

// The conversion is one transaction: a disk that fills up during it leaves the old file as it
// was, and the next start converts it.
TEST(TreeStore, AConversionThatFailsLeavesTheOldStoreAsItWas) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    writeVersion1Store(file);
    {
        // Enough keys that the conversion writes more than the child may.
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n "
                               "WHERE i<3000) INSERT INTO reg_keys(hive, parent, name, fold) "
                               "SELECT 0, 1, 'Key' || i || printf('%.200c', 'x'), 'KEY' || i || "
                               "printf('%.200c', 'X') FROM n",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    const std::string before = test::readFile(file);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto store = openHiveStore(file);
        const bool failed = !store->keyExists(Hive::CurrentUser, "Software");
        _exit(failed && store->lastError().find(file) != std::string::npos ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readFile(file), before);
    EXPECT_EQ(userVersion(file), 1);

    auto store = openHiveStore(file);
    expectVersion1Content(*store);
    EXPECT_EQ(store->subkeys(Hive::CurrentUser, "").size(), 3u + 3000u);
    EXPECT_EQ(userVersion(file), 2);
}

} // namespace
