#pragma once

#include "serve/request_watchdog.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

struct MHD_Daemon;
struct MHD_Connection;

namespace lumiclip {

// What one client may take of the server. A client that sends its request too slowly is cut off when
// the time for the whole request is up (RequestWatchdog); its connection never holds up the others,
// which the server's own threads go on serving.
struct HttpLimits {
    unsigned connections = 512;
    unsigned perClient = 32;
    // The request line, headers and body must have come in within this after the connection opened or
    // its last answer went out.
    std::chrono::seconds requestTime{10};
    // A connection with nothing to do (between requests, or answering a client that reads nothing).
    unsigned idleSeconds = 30;
    // Memory per connection: the request line and headers must fit in half of it.
    size_t connectionMemory = size_t{32} * 1024;
    qint64 maxBody = qint64{64} * 1024;
    unsigned threads = 2;
};

struct HttpRequest {
    QByteArray method;
    // The path, decoded, without the query.
    QByteArray path;
    // The request target as it came (path and query, still percent-encoded).
    QByteArray target;
    // The query's parameters, decoded, in their order.
    QList<QPair<QString, QString>> query;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QString peer;

    // A header's value (names in any case); empty when it has none.
    QByteArray header(QByteArrayView name) const;
    // The query string of the target ("url=..."), as it came.
    QByteArray rawQuery() const;
};

struct HttpAnswer {
    int status = 200;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    // Instead of the body: a file's open descriptor, sent as it is (the server closes it).
    int fd = -1;
    qint64 fdSize = 0;
    // (A HEAD request gets the headers alone: the server leaves the body out.)
};

// Takes the answer of one request, once, from any thread: at once, or later (a capture that has to
// be made first); until then the connection is set aside and costs the server no thread.
class HttpResponder {
public:
    virtual ~HttpResponder() = default;
    virtual void answer(HttpAnswer answer) = 0;
};

// An HTTP/1.1 server on its own threads (libmicrohttpd: epoll, a thread pool, connections suspended
// while their answer is made). The handler is called on those threads with each whole request.
class HttpServer final {
public:
    using Handler = std::function<void(const HttpRequest& request, std::shared_ptr<HttpResponder> responder)>;

    HttpServer(Handler handler, HttpLimits limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on the address and port (0: any free one); false with *error naming them.
    bool start(const QHostAddress& address, quint16 port, QString* error);
    // The port listened on.
    quint16 port() const { return m_port; }
    // Takes no new connection; those open are served to the end.
    void stopListening();
    // Ends the server: connections still waiting for their answer get a 503 first.
    void stop();
    // Requests whose answer is still being made.
    int waiting() const { return m_waiting.load(); }

    struct Exchange;

private:
    // The library's callbacks, with its own types (defined where its header is included).
    struct Callbacks;
    friend struct Callbacks;
    // Returns the library's MHD_Result as an int.
    int handle(MHD_Connection* connection, const char* url, const char* method, const char* uploadData,
               size_t* uploadDataSize, void** context);

    Handler m_handler;
    HttpLimits m_limits;
    MHD_Daemon* m_daemon = nullptr;
    quint16 m_port = 0;
    std::atomic<int> m_waiting{0};
    RequestWatchdog m_watchdog;
    // The answers still owed (connections set aside), for stop().
    std::mutex m_exchangesMutex;
    std::unordered_map<Exchange*, std::weak_ptr<Exchange>> m_exchanges;
};

}  // namespace lumiclip
