#include "platform/registry/WinePrefixGameKey.h"

#include "platform/registry/NameFolding.h"
#include "platform/wine/WinePrefix.h"

#include <sys/stat.h>

namespace velmar {

namespace {

constexpr const char* GameKey = "Software\\Holmgard\\VELMARTIDES";
constexpr const char* GameKey32 = "Software\\Wow6432Node\\Holmgard\\VELMARTIDES";
constexpr const char* GamePathValue = "GAMEPATH";

class WinePrefixGameKey final : public RegistryBackend {
public:
    explicit WinePrefixGameKey(std::unique_ptr<RegistryBackend> store) : store_(std::move(store)) {}

    bool keyExists(Hive hive, const std::string& path) override {
        return store_->keyExists(hive, path) || (isGameKey(hive, path) && prefixValues());
    }
    bool createKey(Hive hive, const std::string& path) override {
        return store_->createKey(hive, path);
    }
    bool deleteKey(Hive hive, const std::string& path) override {
        return store_->deleteKey(hive, path);
    }

    std::optional<RegValue> readValue(Hive hive, const std::string& path,
                                      const std::string& name) override {
        auto value = store_->readValue(hive, path, name);
        if (value || !answeredFromPrefix(hive, path))
            return value;
        const std::string folded = foldName(name);
        for (const RegValue& v : *cache_.values)
            if (foldName(v.name) == folded)
                return v;
        return std::nullopt;
    }
    bool writeValue(Hive hive, const std::string& path, const RegValue& value) override {
        return store_->writeValue(hive, path, value);
    }
    bool deleteValue(Hive hive, const std::string& path, const std::string& name) override {
        return store_->deleteValue(hive, path, name);
    }

    std::vector<RegValue> values(Hive hive, const std::string& path) override {
        std::vector<RegValue> result = store_->values(hive, path);
        if (!answeredFromPrefix(hive, path))
            return result;
        for (const RegValue& v : *cache_.values) {
            const std::string folded = foldName(v.name);
            bool shadowed = false;
            for (const RegValue& own : result)
                shadowed = shadowed || foldName(own.name) == folded;
            if (!shadowed)
                result.push_back(v);
        }
        return result;
    }
    std::vector<std::string> subkeys(Hive hive, const std::string& path) override {
        return store_->subkeys(hive, path);
    }

    // A group of writes is the store's: the prefix is never written.
    bool beginTransaction(Sync sync) override { return store_->beginTransaction(sync); }
    bool commitTransaction() override { return store_->commitTransaction(); }
    void rollbackTransaction() override { store_->rollbackTransaction(); }

    std::string lastError() const override { return store_->lastError(); }

private:
    static bool isGameKey(Hive hive, const std::string& path) {
        return hive == Hive::LocalMachine && foldName(path) == foldName(GameKey);
    }

    // True when reads of this key come (in part) from the prefix: it is the game key, the store
    // has no GAMEPATH there and the prefix has the key.
    bool answeredFromPrefix(Hive hive, const std::string& path) {
        return isGameKey(hive, path) && !store_->readValue(hive, path, GamePathValue) &&
               prefixValues();
    }

    // The game key's values in the prefix, read again only when system.reg changed.
    bool prefixValues() {
        const std::string file = wine::systemRegistryFile(wine::prefixPath());
        struct stat info {};
        if (stat(file.c_str(), &info) != 0) {
            cache_ = {};
            return false;
        }
        if (file != cache_.file || info.st_ino != cache_.inode || info.st_size != cache_.size ||
            info.st_mtim.tv_sec != cache_.modified.tv_sec ||
            info.st_mtim.tv_nsec != cache_.modified.tv_nsec) {
            cache_ = {file, info.st_ino, info.st_size, info.st_mtim, std::nullopt};
            // The 64-bit key first; a 32-bit installer writes below Wow6432Node.
            for (const char* key : {GameKey, GameKey32}) {
                auto values = wine::readRegistryKey(file, key);
                if (!values)
                    continue;
                bool hasPath = false;
                for (const RegValue& v : *values)
                    hasPath = hasPath || foldName(v.name) == foldName(GamePathValue);
                if (!cache_.values || hasPath)
                    cache_.values = std::move(values);
                if (hasPath)
                    break;
            }
        }
        return cache_.values.has_value();
    }

    struct Cache {
        std::string file;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        std::optional<std::vector<RegValue>> values;
    };

    std::unique_ptr<RegistryBackend> store_;
    Cache cache_;
};

} // namespace

std::unique_ptr<RegistryBackend> withWinePrefixGameKey(std::unique_ptr<RegistryBackend> store) {
    return std::make_unique<WinePrefixGameKey>(std::move(store));
}

} // namespace velmar
