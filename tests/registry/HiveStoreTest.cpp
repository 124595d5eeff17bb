// The SQLite hive store itself: unusable files, close-on-exec, several processes at once.
#include "platform/registry/NameFolding.h"
#include "platform/registry/RegistryBackend.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmar;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every kind of call fails, says why, and names the file.
void expectUnusable(RegistryBackend& store, const std::string& file, const std::string& why) {
    EXPECT_FALSE(store.keyExists(Hive::CurrentUser, ""));
    EXPECT_NE(store.lastError().find(file), std::string::npos) << store.lastError();
    EXPECT_NE(store.lastError().find(why), std::string::npos) << store.lastError();
    EXPECT_FALSE(store.createKey(Hive::CurrentUser, "Software"));
    EXPECT_FALSE(store.writeValue(Hive::CurrentUser, "", {"A", RegSz, {'a', 0}}));
    EXPECT_FALSE(store.readValue(Hive::CurrentUser, "", "A"));
    EXPECT_FALSE(store.deleteValue(Hive::CurrentUser, "", "A"));
    EXPECT_FALSE(store.deleteKey(Hive::CurrentUser, "Software"));
    EXPECT_TRUE(store.values(Hive::CurrentUser, "").empty());
    EXPECT_TRUE(store.subkeys(Hive::CurrentUser, "").empty());
    EXPECT_NE(store.lastError().find(why), std::string::npos) << store.lastError();
}

TEST(HiveStore, DefaultFileFollowsXdgConfigHome) {
    test::TempConfig config;
    EXPECT_EQ(defaultHiveFile(), config.dir() + "/VelmarLauncher/registry.db");
    EXPECT_FALSE(fs::exists(config.dir() + "/VelmarLauncher"));
    ASSERT_TRUE(defaultRegistryBackend().createKey(Hive::CurrentUser, "Software"));
    EXPECT_TRUE(fs::is_regular_file(config.hiveFile())); // folder created on the way
}

TEST(HiveStore, AGarbageFileIsLeftAsItIs) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    std::string garbage(5000, '\0');
    for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<char>(i * 7919 % 251);
    test::writeFile(file, garbage);
    {
        auto store = openHiveStore(file);
        expectUnusable(*store, file, "is not a database");
    }
    EXPECT_EQ(test::readFile(file), garbage);
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"registry.db"});
}

TEST(HiveStore, ATruncatedHiveIsLeftAsItIs) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    {
        auto store = openHiveStore(file);
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software\\Tobrel"));
        for (int i = 0; i < 200; ++i)
            ASSERT_TRUE(store->writeValue(
                Hive::CurrentUser, "Software\\Tobrel",
                {"V" + std::to_string(i), RegSz, std::vector<std::uint8_t>(300, 'x')}));
    }
    const std::string whole = test::readFile(file);
    ASSERT_GT(whole.size(), 8192u);
    const std::string cut = whole.substr(0, 6000);
    test::writeFile(file, cut);
    {
        auto store = openHiveStore(file);
        EXPECT_FALSE(
            store->writeValue(Hive::CurrentUser, "Software\\Tobrel", {"New", RegSz, {'a', 0}}));
        EXPECT_NE(store->lastError().find(file), std::string::npos) << store->lastError();
        EXPECT_FALSE(store->createKey(Hive::CurrentUser, "Other"));
    }
    EXPECT_EQ(test::readFile(file), cut);
}

TEST(HiveStore, AFolderInPlaceOfTheFileIsLeftAsItIs) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    fs::create_directory(file);
    test::writeFile(file + "/keep", "keep");
    {
        auto store = openHiveStore(file);
        expectUnusable(*store, file, "is not a regular file");
    }
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(listing(file), std::vector<std::string>{"keep"});
    EXPECT_EQ(listing(dir.path()), std::vector<std::string>{"registry.db"});
}

TEST(HiveStore, AnotherProgramsDatabaseIsLeftAsItIs) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE notes(t TEXT); INSERT INTO notes VALUES('mine')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    const std::string before = test::readFile(file);
    {
        auto store = openHiveStore(file);
        expectUnusable(*store, file, "another program");
    }
    EXPECT_EQ(test::readFile(file), before);
}

// An empty file (left by a full disk, or made by hand) is no damage: it becomes the store. A
// file whose pages are damaged is refused before anything is written to it.
TEST(HiveStore, AnEmptyFileBecomesTheStoreAndADamagedOneIsLeftAsItIs) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    test::writeFile(file, "");
    {
        auto store = openHiveStore(file);
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software\\Tobrel")) << store->lastError();
        ASSERT_TRUE(
            store->writeValue(Hive::CurrentUser, "Software\\Tobrel", {"A", RegSz, {'a', 0}}));
    }
    ASSERT_TRUE(openHiveStore(file)->readValue(Hive::CurrentUser, "Software\\Tobrel", "A"));

    // The second page holds the first table; a page type no b-tree page has.
    std::string bytes = test::readFile(file);
    ASSERT_GT(bytes.size(), 8192u);
    bytes[4096] = '\x7f';
    test::writeFile(file, bytes);
    {
        auto store = openHiveStore(file);
        expectUnusable(*store, file, "is damaged");
    }
    EXPECT_EQ(test::readFile(file), bytes);
}

// Damage found while the store is open, in pages its open did not read again: from then on
// nothing is written to the file, not even another program's commit that a close would copy
// into it from the log.
TEST(HiveStore, DamageFoundWhileOpenStopsEveryWriteToTheFile) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    {
        auto store = openHiveStore(file);
        RegistryTransaction group(*store);
        for (int i = 0; i < 2000; ++i)
            ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software\\K" + std::to_string(i)));
        ASSERT_TRUE(group.commit());
    }
    auto store = openHiveStore(file);
    ASSERT_TRUE(store->keyExists(Hive::CurrentUser, "")) << store->lastError();
    std::string bytes = test::readFile(file);
    for (auto at = bytes.find("K1500"); at != std::string::npos; at = bytes.find("K1500", at + 1))
        bytes[at / 4096 * 4096] = '\x7f'; // a page type no b-tree page has
    test::writeFile(file, bytes);
    sqlite3* other = nullptr; // its commit makes the store read its pages anew
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(other, "INSERT INTO reg_values VALUES (NULL, 1, x'42', x'42', 1, x'00')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);

    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "Software\\K1500"));
    EXPECT_NE(store->lastError().find("is damaged"), std::string::npos) << store->lastError();
    EXPECT_FALSE(store->writeValue(Hive::CurrentUser, "", {"A", RegSz, {'a', 0}}));
    EXPECT_NE(store->lastError().find("is damaged"), std::string::npos) << store->lastError();
    store.reset();
    EXPECT_TRUE(test::readFile(file) == bytes) << "the damaged file was written to";
}

TEST(HiveStore, TheDatabaseIsNotInheritedByChildProcesses) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    auto store = openHiveStore(file);
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software"));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Software", {"A", RegSz, {'a', 0}}));
    ASSERT_TRUE(store->readValue(Hive::CurrentUser, "Software", "A"));

    int found = 0;
    DIR* fds = opendir("/proc/self/fd");
    ASSERT_NE(fds, nullptr);
    while (dirent* e = readdir(fds)) {
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        std::error_code ec;
        const std::string target = fs::read_symlink(link, ec).string();
        if (ec || target.rfind(file, 0) != 0)
            continue;
        ++found;
        const int flags = fcntl(std::atoi(e->d_name), F_GETFD);
        EXPECT_TRUE(flags & FD_CLOEXEC) << target << " would be inherited";
    }
    closedir(fds);
    EXPECT_GE(found, 1);
}

TEST(HiveStore, TwoProcessesWritingAtOnceLoseNothing) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    constexpr int PerProcess = 200;
    // The children open the store themselves; this process opens it only after they are done,
    // so no SQLite state crosses the fork.
    std::vector<pid_t> children;
    for (int c = 0; c < 2; ++c) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto store = openHiveStore(file);
            int bad = 0;
            for (int i = 0; i < PerProcess; ++i) {
                const std::string key = "Software\\Load\\K" + std::to_string(i % 7);
                const std::string name = "P" + std::to_string(c) + "_" + std::to_string(i);
                if (!store->createKey(Hive::CurrentUser, key) ||
                    !store->writeValue(Hive::CurrentUser, key,
                                       {name, RegSz, {static_cast<std::uint8_t>('0' + c), 0}}))
                    ++bad, fprintf(stderr, "child %d: %s\n", c, store->lastError().c_str());
            }
            _exit(bad == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    auto store = openHiveStore(file);
    std::size_t total = 0;
    for (const auto& sub : store->subkeys(Hive::CurrentUser, "Software\\Load"))
        total += store->values(Hive::CurrentUser, "Software\\Load\\" + sub).size();
    EXPECT_EQ(total, 2u * PerProcess);
    EXPECT_EQ(store->subkeys(Hive::CurrentUser, "Software\\Load").size(), 7u);
    auto v = store->readValue(Hive::CurrentUser, "Software\\Load\\K3", "p1_199");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->data, (std::vector<std::uint8_t>{'1', 0}));
}

TEST(HiveStore, KeysAndTheirSubtrees) {
    test::TempDir dir;
    auto store = openHiveStore(dir.path() + "/registry.db");
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "A\\B\\C"));
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "A\\Bz"));
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "A\\B2"));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "A\\B\\C", {"v", RegSz, {'1', 0}}));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "A\\Bz", {"v", RegSz, {'2', 0}}));
    EXPECT_EQ(store->subkeys(Hive::CurrentUser, "a"), (std::vector<std::string>{"B", "Bz", "B2"}));
    EXPECT_FALSE(store->createKey(Hive::CurrentUser, "A\\\\B")); // empty key name
    EXPECT_FALSE(store->lastError().empty());
    EXPECT_FALSE(store->writeValue(Hive::CurrentUser, "A\\Missing", {"v", RegSz, {0}}));
    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "A\\Missing"));

    ASSERT_TRUE(store->deleteKey(Hive::CurrentUser, "a\\b"));
    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "A\\B\\C"));
    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "A\\B"));
    // Keys whose names merely begin alike survive.
    EXPECT_TRUE(store->readValue(Hive::CurrentUser, "A\\Bz", "v"));
    EXPECT_TRUE(store->keyExists(Hive::CurrentUser, "A\\B2"));
    // Re-created, the key is empty.
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "A\\B\\C"));
    EXPECT_TRUE(store->values(Hive::CurrentUser, "A\\B\\C").empty());
    EXPECT_FALSE(store->deleteKey(Hive::CurrentUser, ""));
    EXPECT_FALSE(store->deleteKey(Hive::CurrentUser, "Nope"));
    EXPECT_FALSE(store->keyExists(Hive::LocalMachine, "A"));
}

TEST(HiveStore, NameFolding) {
    EXPECT_EQ(foldName("GameType"), foldName("gAMEtYPE"));
    EXPECT_EQ(foldName("äöüé"), "ÄÖÜÉ");
    EXPECT_EQ(foldName("ωσ"), "ΩΣ");
    // Bytes that are not UTF-8 stay as they are and stay distinct.
    EXPECT_EQ(foldName("\xC4x"), "\xC4X");
    EXPECT_NE(foldName("\xE4"), foldName("\xC4"));
    EXPECT_EQ(foldName(std::string("a\0b", 3)), std::string("A\0B", 3));
}

} // namespace

TEST(HiveStore, RewritingTheStoredValueKeepsItAndAnotherTypeReplacesIt) {
    velmar::test::TempConfig config;
    auto store = openHiveStore(defaultHiveFile());
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "K"));
    const RegValue sz{"Name", RegSz, {'a', 0}};
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "K", sz));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "K", {"NAME", RegSz, {'a', 0}}));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "K", {"name", RegExpandSz, {'a', 0}}));
    const auto values = store->values(Hive::CurrentUser, "K");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "Name");
    EXPECT_EQ(values[0].type, RegExpandSz);
    // The same value written to a key that is gone is still a failure.
    ASSERT_TRUE(store->deleteKey(Hive::CurrentUser, "K"));
    EXPECT_FALSE(store->writeValue(Hive::CurrentUser, "K", sz));
}
