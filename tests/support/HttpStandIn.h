#pragma once
// A small HTTP server on 127.0.0.1 for tests: it answers each request by its path with a
// prepared response, and leaves requests for unknown paths waiting forever.
#include <QByteArray>
#include <QObject>
#include <QTcpServer>

#include <map>
#include <string>
#include <vector>

class QTcpSocket;

namespace velmar::test {

class HttpStandIn : public QObject {
public:
    HttpStandIn();

    // A whole HTTP/1.1 response that closes the connection.
    static QByteArray response(int status, const QByteArray& reason, const QByteArray& body,
                               const QByteArray& extraHeaders = {});
    // A 200 response with an HTML body.
    static QByteArray page(const QByteArray& body) { return response(200, "OK", body); }

    quint16 port() const { return server_.serverPort(); }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port()) + path;
    }

    std::map<QByteArray, QByteArray> answers;
    std::vector<QByteArray> requests; // request targets in arrival order
    int openConnections = 0;

private:
    void serve(QTcpSocket* socket);

    QTcpServer server_;
};

} // namespace velmar::test
