#include "support/test_http_server.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QPointer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

namespace lumiclip::test {

struct TestHttpServer::Shared {
    mutable QMutex mutex;
    QHash<QString, HttpResponse> routes;
    QHash<QString, int> hits;
    QHash<QString, QHash<QByteArray, QByteArray>> headers;
    int total = 0;
};

namespace {

QByteArray reasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 401:
            return "Unauthorized";
        case 404:
            return "Not Found";
        case 500:
            return "Internal Server Error";
        default:
            return "Status";
    }
}

// Lives on the server thread; owns the listening socket and every connection.
class Worker final : public QObject {
public:
    explicit Worker(std::shared_ptr<TestHttpServer::Shared> shared) : m_shared(std::move(shared)) {}

    quint16 listen() {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &Worker::accept);
        m_server->listen(QHostAddress::LocalHost, 0);
        return m_server->serverPort();
    }

private:
    void accept() {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            socket->setParent(this);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onRead(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void onRead(QTcpSocket* socket) {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        for (;;) {
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (end < 0) {
                return;
            }
            const QByteArray head = buffer.left(end);
            buffer.remove(0, end + 4);
            handle(socket, head);
        }
    }

    void handle(QTcpSocket* socket, const QByteArray& head) {
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        const QString target = QString::fromUtf8(requestLine.value(1));
        // A request to it as a proxy names the whole address ("GET http://host/path").
        const QString path =
            (target.startsWith(QStringLiteral("http://")) ? QUrl(target)
                                                          : QUrl(QStringLiteral("http://h") + target))
                .path();
        QHash<QByteArray, QByteArray> headers;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0) {
                headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
            }
        }
        HttpResponse response;
        bool found = false;
        {
            QMutexLocker lock(&m_shared->mutex);
            ++m_shared->hits[path];
            ++m_shared->total;
            m_shared->headers[path] = headers;
            auto it = m_shared->routes.constFind(path);
            if (it != m_shared->routes.cend()) {
                response = *it;
                found = true;
            }
        }
        if (!found) {
            response.status = 404;
            response.body = "<html><body>not found</body></html>";
        }
        if (!response.basicAuth.isEmpty() &&
            headers.value("authorization") != "Basic " + response.basicAuth.toBase64()) {
            response.status = 401;
            response.body = "<html><body>who are you?</body></html>";
            response.headers.append(
                qMakePair(QByteArray("WWW-Authenticate"), QByteArray("Basic realm=\"members\"")));
        }
        if (response.stall) {
            return;
        }
        QPointer<QTcpSocket> guard(socket);
        auto send = [guard, response] {
            if (!guard) {
                return;
            }
            QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                             reasonPhrase(response.status) + "\r\n";
            out += "Content-Type: " + response.contentType + "\r\n";
            out += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
            for (const auto& [name, value] : response.headers) {
                out += name + ": " + value + "\r\n";
            }
            out += "\r\n";
            if (response.stallAfterBytes >= 0) {
                out += response.body.left(response.stallAfterBytes);
            } else {
                out += response.body;
            }
            guard->write(out);
        };
        if (response.delayMs > 0) {
            QTimer::singleShot(response.delayMs, this, send);
        } else {
            send();
        }
    }

    std::shared_ptr<TestHttpServer::Shared> m_shared;
    QTcpServer* m_server = nullptr;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

}  // namespace

TestHttpServer::TestHttpServer() : m_shared(std::make_shared<Shared>()) {
    auto* worker = new Worker(m_shared);
    worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, worker, &QObject::deleteLater);
    m_thread.start();
    QMetaObject::invokeMethod(
        worker, [worker] { return worker->listen(); }, Qt::BlockingQueuedConnection, &m_port);
}

TestHttpServer::~TestHttpServer() {
    m_thread.quit();
    m_thread.wait();
}

void TestHttpServer::route(const QString& path, const HttpResponse& response) {
    QMutexLocker lock(&m_shared->mutex);
    m_shared->routes.insert(path, response);
}

void TestHttpServer::routeHtml(const QString& path, const QByteArray& html) {
    HttpResponse response;
    response.body = html;
    route(path, response);
}

QString TestHttpServer::url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

int TestHttpServer::hits(const QString& path) const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->hits.value(path);
}

int TestHttpServer::totalHits() const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->total;
}

QHash<QByteArray, QByteArray> TestHttpServer::lastHeaders(const QString& path) const {
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->headers.value(path);
}

}  // namespace lumiclip::test
