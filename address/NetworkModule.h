#pragma once
// The network machinery of the launcher (the HTTP client and HTML parser behind the public
// address, the host-name lookup of the UDP endpoint) lives in a module of its own that is loaded
// the first time one of them is needed. A start-up that looks nothing up then loads neither Qt
// Network (with its proxy, Kerberos and resolver libraries) nor litehtml.
//
// The module is velmar-network.so in the folder `VELMAR_NETWORK_MODULE_DIR` names relative to
// the folder of the running program; the build tree and an installed tree have the same layout.
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmar {

// A page load as the browser control does it: see PageFetcher, which implements it.
class PageSource {
public:
    virtual ~PageSource() = default;
    virtual void Navigate(const std::string& url) = 0;
    virtual void Stop() = 0;
    virtual bool loading() const = 0;
};

// The visible text of a finished page, or nullopt when no usable document came back.
using PageCompletion = std::function<void(std::optional<std::string> visibleText)>;
// The first IPv4 address of a host (network byte order), or nullopt when there is none.
using LookupCompletion = std::function<void(std::optional<std::uint32_t> address)>;

class NetworkModule {
public:
    virtual ~NetworkModule() = default;
    // A page loader that reports each finished load to `onComplete` on the calling thread.
    virtual std::unique_ptr<PageSource> createPageSource(PageCompletion onComplete) const = 0;
    // Looks `host` up without blocking. `done` runs on the thread of `context` (possibly from
    // inside this call when the answer is known at once), and never after `context` is gone.
    virtual void lookupHost(const std::string& host, QObject* context,
                            LookupCompletion done) const = 0;
};

// The module, loaded on the first call and kept for the life of the program; nullptr when it
// can not be loaded, and then `error` (when given) says why.
const NetworkModule* networkModule(std::string* error = nullptr);

// The name of the function the module exports, of type NetworkModuleEntry.
inline constexpr const char* NetworkModuleEntryName = "velmar_network_module";
using NetworkModuleEntry = const NetworkModule* (*)();

} // namespace velmar
