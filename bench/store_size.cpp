// Size and speed of the settings store (the SQLite hive store) for wide and deep hives, and the
// cost of one committed write. Prints one table; every figure is measured on a fresh store in a
// temporary folder.
//
//   store-bench [KEYS [LEVELS [WRITES]]]     defaults 100000 512 200
#include "platform/registry/RegistryBackend.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

using namespace velmar;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct TempDir {
    std::string path;
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "velmar-store-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

// The bytes the store occupies once closed (database and any journal beside it).
std::uintmax_t storeBytes(const std::string& dir) {
    std::uintmax_t total = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.is_regular_file())
            total += e.file_size();
    return total;
}

void require(bool ok, RegistryBackend& store, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "%s failed: %s\n", what, store.lastError().c_str());
        std::exit(1);
    }
}

std::string keyName(int i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "Key %06d", i);
    return buf;
}

RegValue textValue(const std::string& name, const std::string& s) {
    std::vector<std::uint8_t> data(s.begin(), s.end());
    data.push_back(0);
    return {name, RegSz, data};
}

// 100,000 keys side by side under one parent, each with one value, written in one group.
void wide(int keys) {
    TempDir dir;
    const std::string file = dir.path + "/registry.db";
    double create = 0, lookup = 0, list = 0;
    {
        auto store = openHiveStore(file);
        auto t0 = Clock::now();
        require(store->beginTransaction(), *store, "begin");
        for (int i = 0; i < keys; ++i) {
            const std::string path = "Software\\Wide\\" + keyName(i);
            require(store->createKey(Hive::CurrentUser, path), *store, "createKey");
            require(store->writeValue(Hive::CurrentUser, path, textValue("Path", "C:\\Games\\x")),
                    *store, "writeValue");
        }
        require(store->commitTransaction(), *store, "commit");
        create = msSince(t0);
    }
    {
        auto store = openHiveStore(file);
        auto t0 = Clock::now();
        for (int i = 0; i < keys; i += 7)
            require(store->readValue(Hive::CurrentUser, "software\\wide\\" + keyName(i), "path")
                        .has_value(),
                    *store, "readValue");
        lookup = msSince(t0) / ((keys + 6) / 7);
        t0 = Clock::now();
        const auto names = store->subkeys(Hive::CurrentUser, "Software\\Wide");
        list = msSince(t0);
        require(names.size() == static_cast<std::size_t>(keys), *store, "subkeys");
    }
    std::printf("| %d keys side by side, one value each | %.1f MB | %.0f ms (one group) | "
                "%.1f µs per value read | %.0f ms to list them |\n",
                keys, storeBytes(dir.path) / 1e6, create, lookup * 1000, list);
}

// One chain of `levels` nested keys with names of `nameLength` characters, created level by
// level (one call each, as an import does), then found and deleted.
void deep(int levels, int nameLength) {
    TempDir dir;
    const std::string file = dir.path + "/registry.db";
    std::string path;
    double create = 0, walk = 0, remove = 0;
    {
        auto store = openHiveStore(file);
        auto t0 = Clock::now();
        require(store->beginTransaction(), *store, "begin");
        for (int i = 0; i < levels; ++i) {
            char prefix[16];
            std::snprintf(prefix, sizeof prefix, "Level%05d", i);
            std::string part = prefix;
            part.resize(std::max<std::size_t>(part.size(), nameLength), 'x');
            path += (path.empty() ? "" : "\\") + part;
            require(store->createKey(Hive::CurrentUser, path), *store, "createKey");
        }
        require(store->writeValue(Hive::CurrentUser, path, textValue("Bottom", "1")), *store,
                "writeValue");
        require(store->commitTransaction(), *store, "commit");
        create = msSince(t0);
    }
    const std::uintmax_t bytes = storeBytes(dir.path);
    {
        auto store = openHiveStore(file);
        // Walk down the way an export does: list each level's subkeys.
        auto t0 = Clock::now();
        std::string at;
        for (int i = 0; i < levels; ++i) {
            auto subs = store->subkeys(Hive::CurrentUser, at);
            require(subs.size() == 1, *store, "subkeys");
            at += (at.empty() ? "" : "\\") + subs[0];
        }
        require(store->readValue(Hive::CurrentUser, at, "Bottom").has_value(), *store, "read");
        walk = msSince(t0);
        t0 = Clock::now();
        require(store->deleteKey(Hive::CurrentUser, path.substr(0, path.find('\\'))), *store,
                "deleteKey");
        remove = msSince(t0);
    }
    std::printf("| %d nested levels, %d-character names | %.3f MB | %.0f ms (one group) | %.0f ms "
                "to walk down | %.1f ms to delete |\n",
                levels, nameLength, bytes / 1e6, create, walk, remove);
}

// Committed writes one by one, each its own transaction, as the window makes them on a click.
void writes(int count) {
    TempDir dir;
    auto store = openHiveStore(dir.path + "/registry.db");
    require(store->createKey(Hive::CurrentUser, "Software\\Tobrel\\VelmarLauncher"), *store,
            "createKey");
    std::vector<double> each;
    for (int i = 0; i < count; ++i) {
        auto t0 = Clock::now();
        require(store->writeValue(Hive::CurrentUser, "Software\\Tobrel\\VelmarLauncher",
                                  textValue("LastInstallation", "Inst " + std::to_string(i))),
                *store, "writeValue");
        each.push_back(msSince(t0));
    }
    std::vector<double> same;
    for (int i = 0; i < count; ++i) {
        auto t0 = Clock::now();
        require(store->writeValue(Hive::CurrentUser, "Software\\Tobrel\\VelmarLauncher",
                                  textValue("LastInstallation", "Inst same")),
                *store, "writeValue");
        same.push_back(msSince(t0));
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto p90 = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() * 9 / 10];
    };
    std::printf("| %d committed writes, one by one | median %.3f ms, p90 %.3f ms | same value "
                "again: median %.3f ms |\n",
                count, median(each), p90(each), median(same));
}

} // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int levels = argc > 2 ? std::atoi(argv[2]) : 512;
    const int count = argc > 3 ? std::atoi(argv[3]) : 200;
    std::printf("temporary folder under %s\n", fs::temp_directory_path().c_str());
    wide(keys);
    deep(levels, 10);
    deep(levels, 255);
    writes(count);
    return 0;
}
