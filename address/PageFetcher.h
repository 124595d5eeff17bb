#pragma once
// Fetches the public-address page without blocking the UI thread and hands its visible text
// back on the UI thread. It stands where a browser control would: Navigate starts a load, Stop
// cancels it (no completion follows for a cancelled load), and OnDocumentComplete reports the
// outcome.
#include <QByteArray>
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
    // True from Navigate until its completion is delivered or Stop cancels it.
    bool loading() const { return reply_ != nullptr || rejectPending_; }

    // Called once per finished load with the page's visible text (markup, scripts, styles and
    // comments removed, entities decoded, UTF-8), or nullopt when no usable document came back
    // (no response, an HTTP status outside 200-299, a URL that is not http or https).
    std::function<void(std::optional<std::string> visibleText)> OnDocumentComplete;

private:
    void finished(QNetworkReply* reply);
    void failed(QNetworkReply* reply);
    void readSome(QNetworkReply* reply);
    // Forgets the running reply without letting any of its signals count as a completion.
    QNetworkReply* detach();
    void deliver(std::optional<std::string> visibleText);

    QNetworkAccessManager* nam_;
    QNetworkReply* reply_ = nullptr;
    QByteArray body_;              // the page as read so far, at most MaxPageBytes
    bool rejectPending_ = false;   // a refused URL whose nullopt is still to be delivered
    unsigned long generation_ = 0; // bumped by every Navigate and Stop
};

// The visible text of an HTML document, as a browser's body.innerText would give it: block
// elements and <br> separate lines, so text in neighbouring blocks never runs together.
// The bytes are read in `charset` when it is given (the charset of the Content-Type header), else
// as the page itself declares (byte-order mark, <meta charset>), else as UTF-8.
std::string VisibleText(const std::string& html);
std::string VisibleText(const std::string& html, const std::string& charset);

} // namespace velmar
