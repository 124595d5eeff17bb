#pragma once
// What the main window holds as its browser control: the page fetcher of the network module,
// which is loaded by the first Navigate (see NetworkModule.h). Same calls and the same promises
// as PageFetcher: Navigate returns at once, Stop cancels (no completion follows), and every
// finished load reaches OnDocumentComplete, never from inside Navigate.
#include "address/NetworkModule.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmar {

class PageLoader : public QObject {
public:
    explicit PageLoader(QObject* parent = nullptr);
    ~PageLoader() override;

    void Navigate(const std::string& url);
    void Stop();
    bool loading() const;

    // The visible text of the page, or nullopt when no usable document came back (also when
    // the network module can not be loaded: the reason goes to the standard error output).
    std::function<void(std::optional<std::string> visibleText)> OnDocumentComplete;

private:
    void deliver(std::optional<std::string> visibleText);

    std::unique_ptr<PageSource> source_;
    bool failurePending_ = false;  // a load the missing module refused, still to be reported
    unsigned long generation_ = 0; // bumped by every Navigate and Stop
};

} // namespace velmar
