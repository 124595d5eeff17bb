#include "address/NetworkModule.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#ifndef VELMAR_NETWORK_MODULE_DIR
#error "VELMAR_NETWORK_MODULE_DIR: the module's folder relative to the program's folder"
#endif

namespace velmar {

namespace {

struct Loaded {
    const NetworkModule* module = nullptr;
    std::string error;
};

Loaded load() {
    Loaded result;
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) {
        result.error = "the program's own file can not be found: " + ec.message();
        return result;
    }
    const std::filesystem::path file =
        (program.parent_path() / VELMAR_NETWORK_MODULE_DIR / "velmar-network.so")
            .lexically_normal();
    // Kept open for the life of the program: objects made by the module live until its end.
    void* handle = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        result.error = why ? why : ("can not load " + file.string());
        return result;
    }
    const auto entry =
        reinterpret_cast<NetworkModuleEntry>(::dlsym(handle, NetworkModuleEntryName));
    if (!entry) {
        result.error = file.string() + " has no entry " + NetworkModuleEntryName;
        return result;
    }
    result.module = entry();
    if (!result.module)
        result.error = file.string() + " gave no module";
    return result;
}

} // namespace

const NetworkModule* networkModule(std::string* error) {
    static std::once_flag once;
    static Loaded loaded;
    std::call_once(once, [] { loaded = load(); });
    if (!loaded.module && error)
        *error = loaded.error;
    return loaded.module;
}

} // namespace velmar
