#include "tests/support/HttpStandIn.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <memory>
#include <stdexcept>

namespace velmar::test {

QByteArray HttpStandIn::response(int status, const QByteArray& reason, const QByteArray& body,
                                 const QByteArray& extraHeaders) {
    return "HTTP/1.1 " + QByteArray::number(status) + " " + reason +
           "\r\nContent-Type: text/html\r\nConnection: close\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

HttpStandIn::HttpStandIn() {
    if (!server_.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0))
        throw std::runtime_error("listen failed");
    QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection())
            serve(socket);
    });
}

void HttpStandIn::serve(QTcpSocket* socket) {
    ++openConnections;
    socket->setParent(this);
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
        --openConnections;
        socket->deleteLater();
    });
    QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> words = buffer->left(buffer->indexOf("\r\n")).split(' ');
        buffer->clear();
        const QByteArray target = words.size() > 1 ? words[1] : QByteArray();
        requests.push_back(target);
        // Through a proxy the target is the whole URL; answer by its path.
        QByteArray path = target;
        if (path.startsWith("http://"))
            path = path.mid(path.indexOf('/', 7));
        const auto answer = answers.find(path);
        if (answer == answers.end())
            return; // never answers
        socket->write(answer->second);
        socket->disconnectFromHost();
    });
}

} // namespace velmar::test
