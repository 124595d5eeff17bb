// Groups of writes on the real hive store: all of a group is stored at its commit, or none.
#include "platform/registry/RegistryBackend.h"
#include "tests/registry/StoreValues.h"
#include "tests/support/TempConfig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace velmar;

namespace {

using test::text;

TEST(GroupedWrites, OthersSeeNothingUntilTheCommitThenEverything) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    auto store = openHiveStore(file);
    auto other = openHiveStore(file);
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software"));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Software", text("Old", "1")));

    ASSERT_TRUE(store->beginTransaction()) << store->lastError();
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Software\\Group\\Deep"));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Software\\Group", text("A", "a")));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Software", text("Old", "2")));
    ASSERT_TRUE(store->deleteValue(Hive::CurrentUser, "Software\\Group", "A"));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Software\\Group", text("B", "b")));
    // A call that fails inside the group undoes only itself.
    EXPECT_FALSE(store->writeValue(Hive::CurrentUser, "Software\\Missing", text("C", "c")));
    EXPECT_NE(store->lastError().find("does not exist"), std::string::npos) << store->lastError();

    // The group's own reads see its changes...
    EXPECT_TRUE(store->keyExists(Hive::CurrentUser, "software\\group\\deep"));
    EXPECT_EQ(store->values(Hive::CurrentUser, "Software\\Group").size(), 1u);
    EXPECT_EQ(store->readValue(Hive::CurrentUser, "Software", "Old")->data, text("", "2").data);
    // ...another connection sees none of them, and can still read.
    EXPECT_FALSE(other->keyExists(Hive::CurrentUser, "Software\\Group"));
    EXPECT_EQ(other->readValue(Hive::CurrentUser, "Software", "Old")->data, text("", "1").data);

    // Groups do not nest.
    EXPECT_FALSE(store->beginTransaction());
    EXPECT_FALSE(store->lastError().empty());

    ASSERT_TRUE(store->commitTransaction()) << store->lastError();
    EXPECT_TRUE(other->keyExists(Hive::CurrentUser, "Software\\Group\\Deep"));
    EXPECT_EQ(other->readValue(Hive::CurrentUser, "Software\\Group", "B")->data,
              text("", "b").data);
    EXPECT_FALSE(other->readValue(Hive::CurrentUser, "Software\\Group", "A"));
    EXPECT_EQ(other->readValue(Hive::CurrentUser, "Software", "Old")->data, text("", "2").data);
    // The other connection writes as usual once the group is done.
    EXPECT_TRUE(other->writeValue(Hive::CurrentUser, "Software", text("Other", "o")))
        << other->lastError();
    EXPECT_FALSE(store->commitTransaction()); // nothing open
}

TEST(GroupedWrites, ARolledBackOrAbandonedGroupLeavesNothing) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    auto store = openHiveStore(file);
    ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Keep"));
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Keep", text("V", "kept")));
    {
        RegistryTransaction group(*store);
        ASSERT_TRUE(group.active());
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Gone"));
        ASSERT_TRUE(store->deleteKey(Hive::CurrentUser, "Keep"));
        EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "Keep"));
    } // not committed
    EXPECT_FALSE(store->keyExists(Hive::CurrentUser, "Gone"));
    EXPECT_EQ(store->readValue(Hive::CurrentUser, "Keep", "V")->data, text("", "kept").data);

    ASSERT_TRUE(store->beginTransaction());
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Keep", text("V", "changed")));
    store->rollbackTransaction();
    // Calls after the group are their own transactions again, and last.
    ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Keep", text("W", "w")));
    auto reopened = openHiveStore(file);
    EXPECT_EQ(reopened->readValue(Hive::CurrentUser, "Keep", "V")->data, text("", "kept").data);
    EXPECT_TRUE(reopened->readValue(Hive::CurrentUser, "Keep", "W"));
    EXPECT_FALSE(reopened->keyExists(Hive::CurrentUser, "Gone"));
}

// The file system refuses to let the store grow part-way through a group (a full disk, a file
// size limit): the group can not be committed and none of it, not even its first changes, is
// stored. The writer runs in a child process, whose file size limit the test lowers.
TEST(GroupedWrites, AGroupThatFailsPartWayLeavesNothingApplied) {
    test::TempDir dir;
    const std::string file = dir.path() + "/registry.db";
    {
        auto store = openHiveStore(file);
        ASSERT_TRUE(store->createKey(Hive::CurrentUser, "Import"));
        ASSERT_TRUE(store->writeValue(Hive::CurrentUser, "Import", text("Before", "b")));
    }
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        auto store = openHiveStore(file);
        if (!store->beginTransaction())
            _exit(2);
        int failedAt = -1;
        for (int i = 0; i < 64 && failedAt < 0; ++i) {
            RegValue v{"V" + std::to_string(i), RegBinary, std::vector<std::uint8_t>(64 * 1024)};
            v.data[0] = static_cast<std::uint8_t>(i);
            if (!store->writeValue(Hive::CurrentUser, "Import", v))
                failedAt = i;
        }
        // Later calls of the group fail too, and the commit reports the failure.
        const bool later = store->writeValue(Hive::CurrentUser, "Import", text("Later", "l"));
        const bool committed = store->commitTransaction();
        const bool said = !store->lastError().empty();
        _exit(failedAt > 0 && !later && !committed && said ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    auto store = openHiveStore(file);
    const auto values = store->values(Hive::CurrentUser, "Import");
    ASSERT_EQ(values.size(), 1u) << store->lastError();
    EXPECT_EQ(values[0].name, "Before");
    // The store is sound and writable afterwards.
    EXPECT_TRUE(store->writeValue(Hive::CurrentUser, "Import", text("After", "a")))
        << store->lastError();
}

} // namespace
