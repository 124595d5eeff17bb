#include "address/PageFetcher.h"

#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

#include <utility>

namespace velmar {

PageFetcher::PageFetcher(QObject* parent) : QObject(parent), nam_(new QNetworkAccessManager(this)) {
    // Proxy settings of the desktop or of http_proxy / https_proxy / no_proxy, as a browser would.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
}

PageFetcher::~PageFetcher() {
    if (QNetworkReply* reply = detach()) {
        reply->abort();
        delete reply;
    }
}

QUrl PageFetcher::ReadUrl(const std::string& text) {
    QString address = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).trimmed();
    // A scheme is a letter, then letters, digits, "+", "-" or ".", then ":"; but "name:8080" is
    // a host with its port.
    static const QRegularExpression scheme(
        QStringLiteral(R"(^[A-Za-z][A-Za-z0-9+.\-]*:(?![0-9]+(?:[/?#]|$)))"));
    if (address.startsWith(QLatin1String("//")))
        address.prepend(QLatin1String("http:"));
    else if (!scheme.match(address).hasMatch())
        address.prepend(QLatin1String("http://"));
    return QUrl(address, QUrl::TolerantMode);
}

void PageFetcher::Navigate(const std::string& url) {
    Stop();
    const QUrl target = ReadUrl(url);
    const QString scheme = target.scheme().toLower();
    if (!target.isValid() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        target.host().isEmpty())
        return; // refused: nothing is loaded, and nothing is ever reported
    refreshes_ = 0;
    start(target);
}

void PageFetcher::start(const QUrl& target) {
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
    detach();
    reply->abort();
    reply->deleteLater();
    const QByteArray page = std::exchange(body_, QByteArray());
    if (status < 200 || status > 299)
        deliver(std::nullopt);
    else
        arrived(reply, page);
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
    arrived(reply, page);
}

void PageFetcher::arrived(QNetworkReply* reply, const QByteArray& page) {
    const PageText text =
        ReadPage(page.toStdString(), reply->rawHeader("Content-Type").toStdString());
    if (!text.refresh.empty() && refreshes_ < MaxRefreshes) {
        // Followed at once: nothing is shown meanwhile, and the caller's time-out bounds the
        // whole load. A refresh of the page itself is a reload and gives nothing new; as with
        // redirects, a refresh from https down to http is not followed.
        const QUrl here = reply->url();
        const QUrl next =
            here.resolved(QUrl(QString::fromStdString(text.refresh), QUrl::TolerantMode));
        const QString scheme = next.scheme().toLower();
        const bool allowed =
            next.isValid() && !next.host().isEmpty() &&
            (scheme == QLatin1String("https") ||
             (scheme == QLatin1String("http") && here.scheme().toLower() == QLatin1String("http")));
        if (allowed && next.adjusted(QUrl::RemoveFragment) != here.adjusted(QUrl::RemoveFragment)) {
            ++refreshes_;
            start(next);
            return;
        }
    }
    deliver(text.text);
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
