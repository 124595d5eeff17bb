// The loadable network module: the page fetcher and the host-name lookup, behind the small
// interface the program holds (NetworkModule.h). Only this file's entry function is looked up.
#include "address/NetworkModule.h"
#include "address/PageFetcher.h"

#include "sockets/SystemResolver.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>

#include <cstring>
#include <system_error>
#include <thread>

namespace velmar {
namespace {

class FetcherSource final : public PageSource {
public:
    explicit FetcherSource(PageCompletion onComplete) {
        fetcher_.OnDocumentComplete = std::move(onComplete);
    }
    void Navigate(const std::string& url) override { fetcher_.Navigate(url); }
    void Stop() override { fetcher_.Stop(); }
    bool loading() const override { return fetcher_.loading(); }

private:
    PageFetcher fetcher_;
};

class QtNetworkModule final : public NetworkModule {
public:
    std::unique_ptr<PageSource> createPageSource(PageCompletion onComplete) const override {
        return std::make_unique<FetcherSource>(std::move(onComplete));
    }

    void lookupHost(const std::string& host, QObject* context,
                    LookupCompletion done) const override {
        // The system's resolver on a thread of its own, asked anew at every lookup (Qt's host
        // lookup keeps answers for a minute) and for IPv4 alone; the answer comes back through
        // the event loop, for a context that still exists.
        const QPointer<QObject> receiver(context);
        auto deliver = [receiver, done = std::move(done)](std::optional<std::uint32_t> address) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [receiver, done, address] {
                    if (receiver)
                        done(address);
                },
                Qt::QueuedConnection);
        };
        try {
            std::thread([host, deliver] {
                const auto addresses = ResolveIPv4(host);
                std::optional<std::uint32_t> first;
                if (!addresses.empty()) {
                    std::uint32_t a = 0;
                    std::memcpy(&a, addresses.front().data(), 4); // network order as stored
                    first = a;
                }
                deliver(first);
            }).detach();
        } catch (const std::system_error&) {
            deliver(std::nullopt); // no thread to be had: the lookup fails
        }
    }
};

} // namespace
} // namespace velmar

extern "C" __attribute__((visibility("default"))) const velmar::NetworkModule*
velmar_network_module() {
    static const velmar::QtNetworkModule module;
    return &module;
}
