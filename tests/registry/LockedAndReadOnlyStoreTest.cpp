// A store that another program holds, or that can not be written: what still works, how long a
// call waits, and what the messages say.
#include "platform/registry/RegistryBackend.h"
#include "settings/Registry.h"
#include "tests/registry/StoreValues.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <functional>
#include <filesystem>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmar;
namespace fs = std::filesystem;

namespace {

const std::string LauncherKey = "Software\\Tobrel\\VelmarLauncher";

using test::text;

void seedLauncher(const std::string& file) {
    auto store = openHiveStore(file);
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, LauncherKey + "\\Installations"));
    ASSERT_TRUE(
        store->writeValue(Hive::CurrentUser, LauncherKey, {"GameType", RegDword, {1, 0, 0, 0}}));
    ASSERT_TRUE(
        store->writeValue(Hive::CurrentUser, LauncherKey, text("LastInstallation", "Eins")));
    ASSERT_TRUE(
        store->writeValue(Hive::CurrentUser, LauncherKey + "\\Installations", text("Eins", "/g")));
}

// Another program with the store open: a child process whose own SQLite connection runs `sql`
// and keeps what it took until release().
class OtherProgram {
public:
    OtherProgram(const std::string& file, const char* sql) {
        int ready[2], hold[2];
        if (pipe(ready) != 0 || pipe(hold) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            close(hold[1]);
            sqlite3* db = nullptr;
            char answer = 'n';
            if (sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
                sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
                answer = 'y';
            if (write(ready[1], &answer, 1) != 1)
                _exit(2);
            char c;
            while (read(hold[0], &c, 1) > 0) {
            } // until the test closes its end
            sqlite3_close(db);
            _exit(0);
        }
        close(ready[1]);
        close(hold[0]);
        release_ = hold[1];
        char answer = 0;
        holding_ = read(ready[0], &answer, 1) == 1 && answer == 'y';
        close(ready[0]);
    }
    ~OtherProgram() { release(); }
    bool holding() const { return holding_; }
    void release() {
        if (release_ < 0)
            return;
        close(release_);
        release_ = -1;
        int status = 0;
        waitpid(pid_, &status, 0);
    }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool holding_ = false;
};

TEST(LockedStore, AStartThatChangesNothingNeedsNoLockAndAWriteGivesUpWithAClearMessage) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    seedLauncher(file);
    OtherProgram other(file, "BEGIN IMMEDIATE");
    ASSERT_TRUE(other.holding());

    // What a start does on a store that holds everything already: only reads.
    auto store = openHiveStore(file);
    {
        Registry reg(*store);
        ASSERT_TRUE(reg.openKey(LauncherKey, true)) << store->lastError();
        EXPECT_EQ(reg.readInteger("GameType"), 1);
        Registry list(*store);
        ASSERT_TRUE(list.openKey(LauncherKey + "\\Installations", true));
        EXPECT_EQ(list.getValueNames(), std::vector<std::string>{"Eins"});
        EXPECT_EQ(reg.readString("LastInstallation"), "Eins");
        reg.writeString("LastInstallation", "Eins"); // the same selection again
    }

    // A change waits for the other program, then gives up and says what happened.
    EXPECT_FALSE(
        store->writeValue(Hive::CurrentUser, LauncherKey, text("LastInstallation", "Zwei")));
    const std::string locked = store->lastError();
    EXPECT_EQ(locked.rfind("the settings are locked by another program", 0), 0u) << locked;
    EXPECT_NE(locked.find(file), std::string::npos) << locked;
    EXPECT_NE(locked.find("try again"), std::string::npos) << locked;

    // The wrapper's message keeps its first words and adds the reason, also for a key it could
    // not create (the next calls do not wait again).
    Registry reg(*store);
    EXPECT_FALSE(reg.openKey(LauncherKey + "\\Neu", true));
    try {
        reg.writeString("LastInstallation", "Zwei");
        ADD_FAILURE() << "no RegistryError";
    } catch (const RegistryError& e) {
        EXPECT_EQ(std::string(e.what()), "Failed to set data for 'LastInstallation': " + locked);
    }

    other.release();
    EXPECT_TRUE(store->writeValue(Hive::CurrentUser, LauncherKey, text("LastInstallation", "Zwei")))
        << store->lastError();
    EXPECT_TRUE(reg.openKey(LauncherKey + "\\Neu", true));
}

TEST(LockedStore, ReadsGiveUpOnAProgramThatLocksOutReaders) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    seedLauncher(file);
    // A program that keeps the file to itself (exclusive locking mode) blocks even reads.
    OtherProgram other(file, "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; COMMIT;");
    ASSERT_TRUE(other.holding());
    auto store = openHiveStore(file);
    EXPECT_FALSE(store->readValue(Hive::CurrentUser, LauncherKey, "GameType"));
    EXPECT_EQ(store->lastError().rfind("the settings are locked by another program", 0), 0u)
        << store->lastError();
    // The settings' wrapper tells a key it could not look at from a missing one.
    Registry probe(*store);
    EXPECT_FALSE(probe.openKey(LauncherKey, false));
    EXPECT_NE(probe.openError().find("locked by another program"), std::string::npos);
    other.release();
    EXPECT_FALSE(probe.openKey(LauncherKey + "\\Missing", false));
    EXPECT_EQ(probe.openError(), "");
    auto value = store->readValue(Hive::CurrentUser, LauncherKey, "GameType");
    ASSERT_TRUE(value) << store->lastError();
    EXPECT_TRUE(probe.openKey(LauncherKey, false));
    EXPECT_EQ(value->data, (std::vector<std::uint8_t>{1, 0, 0, 0}));
}

// Runs `body` in a child process in which `dir` is mounted read-only (a private mount
// namespace); the child's exit code is the result. 77 when this machine allows no such mount.
int withReadOnlyFolder(const std::string& dir, const std::function<int()>& body) {
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const pid_t pid = fork();
    if (pid == 0) {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            _exit(77);
        auto put = [](const char* file, const std::string& text) {
            const int fd = open(file, O_WRONLY);
            const bool ok =
                fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            if (fd >= 0)
                close(fd);
            return ok;
        };
        put("/proc/self/setgroups", "deny");
        if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1") ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            _exit(77);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ReadOnlyStore, OnAReadOnlyFileSystemTheSettingsAreReadAndWritesSayWhy) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    seedLauncher(file);
    const std::string before = test::readFile(file);
    const int result = withReadOnlyFolder(dir.path(), [&] {
        auto store = openHiveStore(file);
        auto value = store->readValue(Hive::CurrentUser, LauncherKey, "LastInstallation");
        if (!value || value->data != text("", "Eins").data)
            return fprintf(stderr, "read: %s\n", store->lastError().c_str()), 1;
        if (store->writeValue(Hive::CurrentUser, LauncherKey, text("LastInstallation", "Zwei")))
            return 2;
        const std::string why = store->lastError();
        if (why != "the registry file " + file +
                       " is on a read-only file system: the settings can be read but not changed")
            return fprintf(stderr, "write: %s\n", why.c_str()), 3;
        // The wrapper adds it to its own words.
        Registry reg(*store);
        if (!reg.openKey(LauncherKey, false))
            return 4;
        try {
            reg.writeString("LastInstallation", "Zwei");
            return 5;
        } catch (const RegistryError& e) {
            if (std::string(e.what()) != "Failed to set data for 'LastInstallation': " + why)
                return fprintf(stderr, "wrapper: %s\n", e.what()), 6;
        }
        // A file that is not there can not be made either, and the message says so.
        auto missing = openHiveStore(dir.path() + "/other.db");
        if (missing->keyExists(Hive::CurrentUser, "") ||
            missing->lastError().find("does not exist and can not be created: the file system "
                                      "is read-only") == std::string::npos)
            return fprintf(stderr, "missing: %s\n", missing->lastError().c_str()), 7;
        return 0;
    });
    if (result == 77)
        GTEST_SKIP() << "no private read-only mount possible here";
    EXPECT_EQ(result, 0);
    EXPECT_EQ(test::readFile(file), before);
    EXPECT_EQ(fs::exists(dir.path() + "/other.db"), false);
}

// Runs `body` in a child process as a user without the power to override file permissions
// (root drops to "nobody"); the child's exit code is the result.
int withoutPrivileges(const std::string& dir, const std::function<int()>& body) {
    if (geteuid() == 0)
        chmod(dir.c_str(), 0777);
    const pid_t pid = fork();
    if (pid == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(77);
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST(ReadOnlyStore, AReadOnlyFileOrFolderIsReadAndWritesSayWhich) {
    test::TempDir dir;
    const std::string folder = dir.path() + "/VelmarLauncher";
    const std::string file = folder + "/registry.db";
    const int result = withoutPrivileges(dir.path(), [&] {
        {
            fs::create_directory(folder);
            seedLauncher(file);
        }
        chmod(file.c_str(), 0444);
        {
            auto store = openHiveStore(file);
            if (!store->readValue(Hive::CurrentUser, LauncherKey, "LastInstallation"))
                return fprintf(stderr, "read: %s\n", store->lastError().c_str()), 1;
            if (store->createKey(Hive::CurrentUser, "Neu"))
                return 2;
            if (store->lastError() != "the registry file " + file +
                                          " is read-only: the settings can be read but not "
                                          "changed (give yourself write permission on it to "
                                          "change them)")
                return fprintf(stderr, "file: %s\n", store->lastError().c_str()), 3;
        }
        chmod(file.c_str(), 0644);
        chmod(folder.c_str(), 0555);
        {
            auto store = openHiveStore(file);
            if (!store->readValue(Hive::CurrentUser, LauncherKey, "LastInstallation"))
                return fprintf(stderr, "read: %s\n", store->lastError().c_str()), 4;
            if (store->writeValue(Hive::CurrentUser, LauncherKey, text("GameType", "x")))
                return 5;
            if (store->lastError().find("the folder " + folder +
                                        " of the registry file is read-only") != 0)
                return fprintf(stderr, "folder: %s\n", store->lastError().c_str()), 6;
        }
        chmod(folder.c_str(), 0755);
        // A file that can not even be read is no read-only store.
        chmod(file.c_str(), 0);
        {
            auto store = openHiveStore(file);
            if (store->keyExists(Hive::CurrentUser, ""))
                return 7;
            if (store->lastError() !=
                "the registry file " + file + " can not be opened or read: Permission denied")
                return fprintf(stderr, "unreadable: %s\n", store->lastError().c_str()), 8;
        }
        chmod(file.c_str(), 0644);
        return 0;
    });
    if (result == 77)
        GTEST_SKIP() << "can not drop privileges here";
    EXPECT_EQ(result, 0);
}

} // namespace
