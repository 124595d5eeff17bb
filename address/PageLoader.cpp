#include "address/PageLoader.h"

#include <QTimer>

#include <cstdio>
#include <utility>

namespace velmar {

PageLoader::PageLoader(QObject* parent) : QObject(parent) {}

PageLoader::~PageLoader() {
    generation_++;
    source_.reset();
}

void PageLoader::Navigate(const std::string& url) {
    Stop();
    if (!source_) {
        std::string error;
        if (const NetworkModule* module = networkModule(&error)) {
            source_ = module->createPageSource(
                [this](std::optional<std::string> text) { deliver(std::move(text)); });
        } else {
            std::fprintf(stderr, "velmar-launcher: the network module can not be loaded: %s\n",
                         error.c_str());
            // No page can come; the caller hears of it as of any load that found nothing, and
            // never from inside this call.
            failurePending_ = true;
            const unsigned long generation = generation_;
            QTimer::singleShot(0, this, [this, generation] {
                if (generation != generation_ || !failurePending_)
                    return;
                failurePending_ = false;
                deliver(std::nullopt);
            });
            return;
        }
    }
    source_->Navigate(url);
}

void PageLoader::Stop() {
    generation_++;
    failurePending_ = false;
    if (source_)
        source_->Stop();
}

bool PageLoader::loading() const {
    return failurePending_ || (source_ && source_->loading());
}

void PageLoader::deliver(std::optional<std::string> visibleText) {
    // A copy: the handler may replace OnDocumentComplete or navigate again.
    const auto handler = OnDocumentComplete;
    if (handler)
        handler(std::move(visibleText));
}

} // namespace velmar
