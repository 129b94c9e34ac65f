#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QThread>

#include <memory>

namespace lumiclip::test {

// One canned answer of the test server.
struct HttpResponse {
    int status = 200;
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    // Sends nothing at all and keeps the connection open: a page that never finishes loading.
    bool stall = false;
    // Sends the headers and this much of the body, then keeps the connection open.
    int stallAfterBytes = -1;
    int delayMs = 0;
    // "user:password": answered only with these Basic credentials, else 401 with a challenge.
    QByteArray basicAuth;
};

// A small HTTP/1.1 server on 127.0.0.1 with an ephemeral port, running on its own thread so that it
// answers while the test's thread waits or blocks. Unknown paths get 404.
class TestHttpServer final {
public:
    TestHttpServer();
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    void route(const QString& path, const HttpResponse& response);
    void routeHtml(const QString& path, const QByteArray& html);
    // "http://127.0.0.1:<port>" + path
    QString url(const QString& path) const;
    quint16 port() const { return m_port; }
    // Requests received for this path (query string excluded).
    int hits(const QString& path) const;
    int totalHits() const;
    // The request headers of the last request for this path, lower-case names.
    QHash<QByteArray, QByteArray> lastHeaders(const QString& path) const;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
    QThread m_thread;
    quint16 m_port = 0;
};

}  // namespace lumiclip::test
