#include "address/PageFetcher.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace velmar {

namespace {

// The charset parameter of a Content-Type header ("text/html; charset=ISO-8859-1"), or "".
std::string CharsetOf(const QByteArray& contentType) {
    for (const QByteArray& part : contentType.split(';')) {
        const QByteArray item = part.trimmed();
        if (item.size() > 8 && item.left(8).toLower() == "charset=") {
            QByteArray name = item.mid(8).trimmed();
            if (name.size() >= 2 && (name.front() == '"' || name.front() == '\''))
                name = name.mid(1, name.size() - 2);
            return name.toStdString();
        }
    }
    return {};
}

} // namespace

PageFetcher::PageFetcher(QObject* parent) : QObject(parent), nam_(new QNetworkAccessManager(this)) {
    // Proxy settings of the desktop or of http_proxy / https_proxy / no_proxy, as a browser would.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

PageFetcher::~PageFetcher() {
    generation_++;
    if (QNetworkReply* reply = detach()) {
        reply->abort();
        delete reply;
    }
}

void PageFetcher::Navigate(const std::string& url) {
    Stop();

    const QUrl target(QString::fromUtf8(url.data(), static_cast<qsizetype>(url.size())).trimmed(),
                      QUrl::TolerantMode);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        target.host().isEmpty()) {
        // Nothing to load; the caller still hears of it, but never from inside this call.
        rejectPending_ = true;
        const unsigned long generation = generation_;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation != generation_ || !rejectPending_)
                return;
            rejectPending_ = false;
            deliver(std::nullopt);
        });
        return;
    }

    QNetworkRequest request(target);
    // Follow redirects as a browser does, except from https down to http.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(MaxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);

    QNetworkReply* reply = nam_->get(request);
    reply_ = reply;
    body_.clear();
    // Qt keeps no more than this unread; the rest waits in the socket until readSome asks.
    reply->setReadBufferSize(64 * 1024);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { readSome(reply); });
    connect(reply, &QNetworkReply::redirected, this, [this, reply] {
        if (reply == reply_)
            body_.clear();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finished(reply); });
    // An error ends the load too. Usually `finished` follows it, but not always: Qt 6.4 reports
    // a compressed body that fails its decompression check and never finishes that reply.
    connect(reply, &QNetworkReply::errorOccurred, this, [this, reply] { failed(reply); });
}

void PageFetcher::Stop() {
    generation_++;
    rejectPending_ = false;
    if (QNetworkReply* reply = detach()) {
        // abort() emits finished from inside the call; the reply is already disconnected and
        // forgotten, so that signal reaches nobody.
        reply->abort();
        reply->deleteLater();
    }
}

QNetworkReply* PageFetcher::detach() {
    QNetworkReply* reply = std::exchange(reply_, nullptr);
    if (reply)
        disconnect(reply, nullptr, this, nullptr);
    return reply;
}

void PageFetcher::readSome(QNetworkReply* reply) {
    if (reply != reply_)
        return;
    const qint64 room = MaxPageBytes - body_.size();
    if (room > 0)
        body_.append(reply->read(room));
    if (body_.size() < MaxPageBytes)
        return;

    // The first MiB is all that is searched: end the transfer and take what has come.
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const std::string charset = CharsetOf(reply->rawHeader("Content-Type"));
    detach();
    reply->abort();
    reply->deleteLater();
    const QByteArray page = std::exchange(body_, QByteArray());
    if (status < 200 || status > 299)
        deliver(std::nullopt);
    else
        deliver(VisibleText(page.toStdString(), charset));
}

void PageFetcher::finished(QNetworkReply* reply) {
    if (reply != reply_)
        return;
    if (reply->bytesAvailable() > 0) {
        readSome(reply);
        if (reply != reply_) // delivered as a cut-off page
            return;
    }
    detach();
    reply->deleteLater();
    const QByteArray page = std::exchange(body_, QByteArray());

    // No response at all (refused, unknown host, TLS failure, broken transfer) or a response
    // that is not a page (an HTTP error status) is no usable document.
    const QVariant statusAttribute = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int status = statusAttribute.isValid() ? statusAttribute.toInt() : 0;
    if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
        deliver(std::nullopt);
        return;
    }
    const std::string charset = CharsetOf(reply->rawHeader("Content-Type"));
    deliver(VisibleText(page.toStdString(), charset));
}

void PageFetcher::failed(QNetworkReply* reply) {
    if (reply != reply_)
        return;
    detach();
    // Not aborted from inside its own signal; deleting it later closes the connection.
    reply->deleteLater();
    body_.clear();
    deliver(std::nullopt);
}

void PageFetcher::deliver(std::optional<std::string> visibleText) {
    // A copy: the handler may replace OnDocumentComplete, navigate again or delete this fetcher.
    const auto handler = OnDocumentComplete;
    if (handler)
        handler(std::move(visibleText));
}

} // namespace velmar
