// The loadable network module: the page fetcher and the host-name lookup, behind the small
// interface the program holds (NetworkModule.h). Only this file's entry function is looked up.
#include "address/NetworkModule.h"
#include "address/PageFetcher.h"

#include <QHostAddress>
#include <QHostInfo>

#include <arpa/inet.h>

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
        QHostInfo::lookupHost(QString::fromLocal8Bit(host.data(), qsizetype(host.size())), context,
                              [done = std::move(done)](const QHostInfo& info) {
                                  std::optional<std::uint32_t> address;
                                  if (info.error() == QHostInfo::NoError) {
                                      for (const QHostAddress& a : info.addresses()) {
                                          if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                                              address = htonl(a.toIPv4Address());
                                              break;
                                          }
                                      }
                                  }
                                  done(address);
                              });
    }
};

} // namespace
} // namespace velmar

extern "C" __attribute__((visibility("default"))) const velmar::NetworkModule*
velmar_network_module() {
    static const velmar::QtNetworkModule module;
    return &module;
}
