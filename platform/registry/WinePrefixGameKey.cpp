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

    // Each read leaves lastError() empty when it succeeded (a missing key reads as false
    // without an error), else with why it failed: the store's reason, or why the prefix's
    // registry file could not be read.
    bool keyExists(Hive hive, const std::string& path) override {
        const bool exists = store_->keyExists(hive, path);
        error_ = store_->lastError();
        if (exists || !isGameKey(hive, path) || !error_.empty())
            return exists;
        const bool found = prefixValues();
        error_ = prefixError_;
        return found;
    }
    bool createKey(Hive hive, const std::string& path) override {
        return own(store_->createKey(hive, path));
    }
    bool deleteKey(Hive hive, const std::string& path) override {
        return own(store_->deleteKey(hive, path));
    }

    std::optional<RegValue> readValue(Hive hive, const std::string& path,
                                      const std::string& name) override {
        auto value = store_->readValue(hive, path, name);
        error_ = store_->lastError();
        if (value || !isGameKey(hive, path))
            return value;
        const std::string storeError = error_;
        const auto fromPrefix = answeredFromPrefix(hive, path);
        if (!fromPrefix || !*fromPrefix) {
            error_ = !fromPrefix ? error_ : prefixError_.empty() ? storeError : prefixError_;
            return std::nullopt;
        }
        const std::string folded = foldName(name);
        for (const RegValue& v : *cache_.values)
            if (foldName(v.name) == folded) {
                error_.clear();
                return v;
            }
        error_ = storeError;
        return std::nullopt;
    }
    bool writeValue(Hive hive, const std::string& path, const RegValue& value) override {
        return own(store_->writeValue(hive, path, value));
    }
    bool deleteValue(Hive hive, const std::string& path, const std::string& name) override {
        return own(store_->deleteValue(hive, path, name));
    }

    std::vector<RegValue> values(Hive hive, const std::string& path) override {
        std::vector<RegValue> result = store_->values(hive, path);
        error_ = store_->lastError();
        if (!isGameKey(hive, path))
            return result;
        const std::string storeError = error_;
        const auto fromPrefix = answeredFromPrefix(hive, path);
        if (!fromPrefix)
            return {};
        if (!*fromPrefix) {
            error_ = prefixError_.empty() ? storeError : prefixError_;
            return result;
        }
        error_.clear(); // the key is the prefix's, whether the store has it or not
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
        auto keys = store_->subkeys(hive, path);
        error_ = store_->lastError();
        return keys;
    }

    // A group of writes is the store's: the prefix is never written.
    bool beginTransaction(Sync sync) override { return own(store_->beginTransaction(sync)); }
    bool commitTransaction() override { return own(store_->commitTransaction()); }
    void rollbackTransaction() override {
        store_->rollbackTransaction();
        error_ = store_->lastError();
    }

    std::string lastError() const override { return error_; }

private:
    static bool isGameKey(Hive hive, const std::string& path) {
        return hive == Hive::LocalMachine && foldName(path) == foldName(GameKey);
    }

    // A call that is the store's alone: its outcome and its error.
    bool own(bool ok) {
        error_ = store_->lastError();
        return ok;
    }

    // Whether reads of the game key come (in part) from the prefix: the store has no GAMEPATH
    // there and the prefix has the key. Nothing, with error_ set, when the store can not tell
    // (a failed read is no missing value).
    std::optional<bool> answeredFromPrefix(Hive hive, const std::string& path) {
        if (store_->keyExists(hive, path)) {
            const auto own = store_->values(hive, path);
            if (!store_->lastError().empty()) {
                error_ = store_->lastError();
                return std::nullopt;
            }
            for (const RegValue& v : own)
                if (foldName(v.name) == foldName(GamePathValue))
                    return false;
        } else if (!store_->lastError().empty()) {
            error_ = store_->lastError();
            return std::nullopt;
        }
        return prefixValues();
    }

    // The game key's values in the prefix, read again only when system.reg changed.
    bool prefixValues() {
        const std::string file = wine::systemRegistryFile(wine::prefixPath());
        struct stat info {};
        // No file (or a folder in its place) is no prefix, as wine::prefixExists() has it; any
        // other file that can not be read says why.
        prefixError_.clear();
        if (stat(file.c_str(), &info) != 0 || S_ISDIR(info.st_mode)) {
            cache_ = {};
            return false;
        }
        if (file != cache_.file || info.st_ino != cache_.inode || info.st_size != cache_.size ||
            info.st_mtim.tv_sec != cache_.modified.tv_sec ||
            info.st_mtim.tv_nsec != cache_.modified.tv_nsec) {
            cache_ = {file, info.st_ino, info.st_size, info.st_mtim, std::nullopt, {}};
            // The 64-bit key first; a 32-bit installer writes below Wow6432Node.
            for (const char* key : {GameKey, GameKey32}) {
                std::string error;
                auto values = wine::readRegistryKey(file, key, error);
                if (!error.empty()) {
                    cache_.values.reset();
                    cache_.error = "the Wine prefix's registry can not be read: " + error;
                    break;
                }
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
        prefixError_ = cache_.error;
        return cache_.values.has_value();
    }

    struct Cache {
        std::string file;
        ino_t inode = 0;
        off_t size = -1;
        timespec modified{};
        std::optional<std::vector<RegValue>> values;
        std::string error; // why the file could not be read
    };

    std::unique_ptr<RegistryBackend> store_;
    Cache cache_;
    std::string prefixError_; // why prefixValues() could not read the prefix's file
    std::string error_;       // the last call's
};

} // namespace

std::unique_ptr<RegistryBackend> withWinePrefixGameKey(std::unique_ptr<RegistryBackend> store) {
    return std::make_unique<WinePrefixGameKey>(std::move(store));
}

} // namespace velmar
