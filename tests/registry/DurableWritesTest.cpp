// When the store's writes reach the disk, and what an open reads. This test program carries its
// own fdatasync(), pwrite64() and pread64() (the calls SQLite makes to sync, write and read its
// files); they note every call on a file of the store and then do the real work, so the tests
// see the order of writes and syncs as the disk does.
#include "platform/registry/RegistryBackend.h"
#include "settings/Registry.h"
#include "tests/registry/StoreValues.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <csignal>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct DiskCall {
    char kind; // 'W' write, 'S' sync, 'R' read
    std::string file;
};

std::mutex callsMutex;
std::vector<DiskCall> calls;
bool recording = false;

void note(char kind, int fd) {
    std::lock_guard lock(callsMutex);
    if (!recording)
        return;
    std::error_code ec;
    const auto target =
        std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd), ec).filename();
    calls.push_back({kind, ec ? std::string("?") : target.string()});
}

} // namespace

extern "C" int fdatasync(int fd) {
    note('S', fd);
    static auto real = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"));
    return real(fd);
}

extern "C" ssize_t pwrite64(int fd, const void* buf, size_t n, off64_t offset) {
    note('W', fd);
    static auto real = reinterpret_cast<ssize_t (*)(int, const void*, size_t, off64_t)>(
        dlsym(RTLD_NEXT, "pwrite64"));
    return real(fd, buf, n, offset);
}

extern "C" ssize_t pread64(int fd, void* buf, size_t n, off64_t offset) {
    note('R', fd);
    static auto real =
        reinterpret_cast<ssize_t (*)(int, void*, size_t, off64_t)>(dlsym(RTLD_NEXT, "pread64"));
    return real(fd, buf, n, offset);
}

using namespace velmar;

namespace {

const std::string LauncherKey = "Software\\Tobrel\\VelmarLauncher";

using test::text;

// The disk calls made on the store's files while `body` runs.
template <typename F> std::vector<DiskCall> diskCallsOf(F&& body) {
    {
        std::lock_guard lock(callsMutex);
        calls.clear();
        recording = true;
    }
    body();
    std::lock_guard lock(callsMutex);
    recording = false;
    std::vector<DiskCall> out;
    for (auto& c : calls)
        if (c.file.rfind("registry.db", 0) == 0)
            out.push_back(c);
    return out;
}

std::string describe(const std::vector<DiskCall>& cs) {
    std::string s;
    for (const auto& c : cs)
        s += std::string(1, c.kind) + ":" + c.file + " ";
    return s;
}

// Every write to the log is followed by a sync of the log before the call returns.
void expectSyncedBeforeReturn(const std::vector<DiskCall>& cs) {
    int lastWrite = -1, lastSync = -1;
    for (int i = 0; i < static_cast<int>(cs.size()); ++i) {
        if (cs[i].file != "registry.db-wal")
            continue;
        (cs[i].kind == 'W' ? lastWrite : lastSync) = i;
    }
    EXPECT_GE(lastWrite, 0) << describe(cs);
    EXPECT_GT(lastSync, lastWrite) << describe(cs);
}

// The file itself is synced before the first write to the log (so the log never outlives it).
void expectFileSyncedBeforeTheLog(const std::vector<DiskCall>& cs) {
    int fileSynced = -1, firstLogWrite = -1;
    for (int i = static_cast<int>(cs.size()) - 1; i >= 0; --i) {
        if (cs[i].kind == 'S' && cs[i].file == "registry.db")
            fileSynced = i;
        if (cs[i].kind == 'W' && cs[i].file == "registry.db-wal")
            firstLogWrite = i;
    }
    EXPECT_GE(fileSynced, 0) << describe(cs);
    EXPECT_LT(fileSynced, firstLogWrite) << describe(cs);
}

TEST(DurableWrites, ACommittedWriteIsOnTheDiskBeforeTheCallReturns) {
    test::TempDir dir;
    auto store = openHiveStore(dir.path() + "/registry.db");
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, LauncherKey));

    expectSyncedBeforeReturn(diskCallsOf([&] {
        ASSERT_TRUE(
            store->writeValue(Hive::CurrentUser, LauncherKey, text("ClientServerAddr", "a")));
    }));
    expectSyncedBeforeReturn(diskCallsOf([&] {
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, LauncherKey + "\\Installations"));
    }));
    expectSyncedBeforeReturn(diskCallsOf([&] {
        ASSERT_TRUE(store->deleteValue(Hive::CurrentUser, LauncherKey, "clientserveraddr"));
    }));
    // A group reaches the disk at its commit.
    ASSERT_TRUE(store->beginTransaction());
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(
            store->writeValue(Hive::CurrentUser, LauncherKey, text("V" + std::to_string(i), "x")));
    expectSyncedBeforeReturn(diskCallsOf([&] { ASSERT_TRUE(store->commitTransaction()); }));
}

TEST(DurableWrites, AStartThatChangesNothingWritesAndSyncsNothing) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    {
        auto store = openHiveStore(file);
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, LauncherKey + "\\Installations"));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey,
                                      {"GameType", RegDword, {0, 0, 0, 0}}));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey,
                                      {"ClientServer", RegDword, {0, 0, 0, 0}}));
        ASSERT_TRUE(
            store->writeValue(Hive::CurrentUser, LauncherKey, text("LastInstallation", "Eins")));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey + "\\Installations",
                                      text("Eins", "/games/1")));
    }
    const auto cs = diskCallsOf([&] {
        // The start-up of the launcher, from opening the store to closing it.
        auto store = openHiveStore(file);
        Registry reg(*store);
        ASSERT_TRUE(reg.openKey(LauncherKey, true));
        EXPECT_EQ(reg.readInteger("GameType"), 0);
        EXPECT_EQ(reg.readString("ClientServerAddr"), "");
        EXPECT_EQ(reg.readInteger("ClientServer"), 0);
        Registry list(*store);
        ASSERT_TRUE(list.openKey(LauncherKey + "\\Installations", true));
        for (const auto& name : list.getValueNames())
            EXPECT_EQ(list.readString(name), "/games/1");
        EXPECT_EQ(reg.readString("LastInstallation"), "Eins");
        reg.writeString("LastInstallation", "Eins");
        reg.writeInteger("ClientServer", 0);
        reg.closeKey();
    });
    for (const auto& c : cs) {
        if (c.kind == 'R')
            continue;
        EXPECT_NE(c.kind, 'S') << describe(cs);
        EXPECT_NE(c.file, "registry.db") << describe(cs);
        EXPECT_NE(c.file, "registry.db-wal") << describe(cs);
    }
}

// A new file and a first start's defaults (a group with Sync::Later) wait for no disk. The first
// synced commit after them syncs the file's first page before it writes the log, then the log:
// the log that holds the defaults is never on the disk without the file it belongs to.
TEST(DurableWrites, ANewFileAndItsDefaultsReachTheDiskWithTheFirstSyncedCommit) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    std::unique_ptr<RegistryBackend> store;
    const auto start = diskCallsOf([&] {
        store = openHiveStore(file);
        RegistryTransaction defaults(*store, RegistryBackend::Sync::Later);
        ASSERT_TRUE(defaults.active()) << store->lastError();
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, LauncherKey + "\\Installations"));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey,
                                      {"ClientServer", RegDword, {0, 0, 0, 0}}));
        ASSERT_TRUE(defaults.commit()) << store->lastError();
    });
    for (const auto& c : start)
        EXPECT_NE(c.kind, 'S') << describe(start);
    // Committed all the same: another program sees the defaults.
    EXPECT_TRUE(openHiveStore(file)->keyExists(Hive::CurrentUser, LauncherKey + "\\Installations"));

    // Another program's commit (velmar-reg while the window is open) leaves the file durable as
    // well, though it did not make the file.
    const auto other = diskCallsOf([&] {
        auto velmarReg = openHiveStore(file);
        ASSERT_TRUE(velmarReg->writeValue(Hive::CurrentUser, LauncherKey, text("GAMEPATH", "C:")));
    });
    expectSyncedBeforeReturn(other);
    expectFileSyncedBeforeTheLog(other);

    const auto choice = diskCallsOf([&] {
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey,
                                      {"GameType", RegDword, {1, 0, 0, 0}}));
    });
    expectSyncedBeforeReturn(choice);
    expectFileSyncedBeforeTheLog(choice);

    // Once is enough, and the group's way does not linger: the next commit syncs the log alone.
    const auto next = diskCallsOf([&] {
        ASSERT_TRUE(
            store->writeValue(Hive::CurrentUser, LauncherKey, text("ClientServerAddr", "a")));
    });
    expectSyncedBeforeReturn(next);
    for (const auto& c : next)
        EXPECT_NE(c.file, "registry.db") << describe(next);
}

// An open reads every page (the whole check) only when the file changed since its last check
// that passed, or a program left its log behind; otherwise the pages it needs.
TEST(DurableWrites, AnOpenChecksEveryPageOnlyOfAFileThatChanged) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    {
        auto store = openHiveStore(file);
        RegistryTransaction group(*store);
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, LauncherKey));
        for (int i = 0; i < 6000; ++i)
            ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software\\K" + std::to_string(i)));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey, text("A", "a")));
        ASSERT_TRUE(group.commit());
    }
    const auto changedAt = std::filesystem::last_write_time(file);
    // Until the file system's clock has moved on from that change (a check in the same tick
    // could miss a change later in it, and is not remembered).
    const std::string tick = dir.path() + "/tick";
    do
        test::writeFile(tick, "");
    while (std::filesystem::last_write_time(tick) <= changedAt);
    const auto reads = [&] {
        std::size_t n = 0;
        for (const auto& c : diskCallsOf([&] {
                 EXPECT_TRUE(openHiveStore(file)->readValue(Hive::CurrentUser, LauncherKey, "A"));
             }))
            n += c.kind == 'R' && c.file == "registry.db";
        return n;
    };
    const std::size_t pages = std::filesystem::file_size(file) / 4096;
    ASSERT_GT(pages, 50u);
    EXPECT_GT(reads(), pages / 2);
    EXPECT_LT(reads(), 10u);

    // A program that ended without closing the store (its log holds a commit).
    const pid_t pid = fork();
    if (pid == 0) {
        auto store = openHiveStore(file).release();
        _exit(store->writeValue(Hive::CurrentUser, LauncherKey, text("B", "b")) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(status, 0);
    EXPECT_GT(reads(), pages / 2);
}

// A writer killed at any moment: every write it had been told was committed is there, and of
// a group it had not committed nothing is.
TEST(DurableWrites, AWriterKilledMidWayLosesNoCommittedWrite) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    {
        auto store = openHiveStore(file);
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, LauncherKey));
    }
    int acks[2];
    ASSERT_EQ(pipe(acks), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(acks[0]);
        auto store = openHiveStore(file);
        for (int i = 0;; ++i) {
            if (i == 200) {
                // From here on one open group, never committed.
                if (!store->beginTransaction())
                    _exit(2);
            }
            if (!store->writeValue(Hive::CurrentUser, LauncherKey,
                                   text("V" + std::to_string(i), std::to_string(i))))
                _exit(3);
            const char ack = 'a';
            if (write(acks[1], &ack, 1) != 1)
                _exit(4);
        }
    }
    close(acks[1]);
    int acknowledged = 0;
    char c;
    while (acknowledged < 260 && read(acks[0], &c, 1) == 1)
        ++acknowledged;
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    close(acks[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended on its own: " << status;

    auto store = openHiveStore(file);
    const auto values = store->values(Hive::CurrentUser, LauncherKey);
    ASSERT_EQ(values.size(), 200u) << store->lastError();
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(values[i].name, "V" + std::to_string(i));
        EXPECT_EQ(values[i].data, text("", std::to_string(i)).data);
    }
    EXPECT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey, text("After", "a")))
        << store->lastError();
}

} // namespace
