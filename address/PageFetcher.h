#pragma once
// Fetches the public-address page without blocking the UI thread and hands its visible text
// back on the UI thread. It stands where a browser control would: Navigate starts a load, Stop
// cancels it (no completion follows for a cancelled load), and OnDocumentComplete reports the
// outcome. Like a browser it follows HTTP redirects and a page's refresh declaration to another
// address; scripts are not run, so a page whose text a script writes shows none of it.
#include "address/VisibleText.h"

#include <QByteArray>
#include <QObject>
#include <QUrl>

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
    // Refresh declarations followed in one load; the page that declares one more is the result.
    static constexpr int MaxRefreshes = 5;

    explicit PageFetcher(QObject* parent = nullptr);
    ~PageFetcher() override;

    // Starts loading `url` (an earlier load still running is cancelled first). Returns at once.
    // An address without a scheme ("example.org/ip", "127.0.0.1:8080/ip") is read as http, as a
    // browser's address bar reads it. A URL that can not be loaded (another scheme, no host) is
    // refused: nothing is loaded and no completion ever follows, so the caller's time-out ends
    // the wait.
    void Navigate(const std::string& url);
    // Cancels the running load, if any.
    void Stop();
    // True while a load is running (not for a refused URL).
    bool loading() const { return reply_ != nullptr; }

    // `text` as a URL the way a browser's address bar reads it: http when no scheme is given.
    static QUrl ReadUrl(const std::string& text);

    // Called once per finished load with the page's visible text (see PageText), or nullopt
    // when no usable document came back (no response, an HTTP status outside 200-299).
    std::function<void(std::optional<std::string> visibleText)> OnDocumentComplete;

private:
    void start(const QUrl& target);
    void finished(QNetworkReply* reply);
    void failed(QNetworkReply* reply);
    void readSome(QNetworkReply* reply);
    // A page has come (whole or cut off at MaxPageBytes): follow its refresh or deliver its text.
    void arrived(QNetworkReply* reply, const QByteArray& page);
    // Forgets the running reply without letting any of its signals count as a completion.
    QNetworkReply* detach();
    void deliver(std::optional<std::string> visibleText);

    QNetworkAccessManager* nam_;
    QNetworkReply* reply_ = nullptr;
    QByteArray body_;   // the page as read so far, at most MaxPageBytes
    int refreshes_ = 0; // refresh declarations followed in this load
};

} // namespace velmar
