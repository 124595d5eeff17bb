#pragma once
// Fetches the public-address page without blocking the UI thread and hands its visible text
// back on the UI thread. It stands where a browser control would: Navigate starts a load, Stop
// cancels it (no completion follows for a cancelled load), and OnDocumentComplete reports the
// outcome.
#include <QObject>

#include <functional>
#include <optional>
#include <string>

class QNetworkAccessManager;
class QNetworkReply;

namespace velmar {

class PageFetcher : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MaxPageBytes = 1024 * 1024;
    static constexpr int MaxRedirects = 5;

    explicit PageFetcher(QObject* parent = nullptr);
    ~PageFetcher() override;

    // Starts loading `url` (an earlier load still running is cancelled first). Returns at once.
    void Navigate(const std::string& url);
    // Cancels the running load, if any.
    void Stop();
    bool loading() const { return reply_ != nullptr; }

    // Called once per finished load with the page's visible text (markup, scripts, styles and
    // comments removed, entities decoded, UTF-8), or nullopt when no usable document came back
    // (no response, an HTTP status outside 200-299, a URL that is not http or https).
    std::function<void(std::optional<std::string> visibleText)> OnDocumentComplete;

private:
    void finished(QNetworkReply* reply);

    QNetworkAccessManager* nam_;
    QNetworkReply* reply_ = nullptr;
};

// The visible text of an HTML document, as a browser's body.innerText would give it: block
// elements and <br> separate lines, so text in neighbouring blocks never runs together.
std::string VisibleText(const std::string& html);

} // namespace velmar
