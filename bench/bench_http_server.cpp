#include "bench/bench_http_server.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace lumiclip::bench {

namespace {

// A request head larger than this is not one of the browser's: the connection is dropped.
constexpr qsizetype kMaxRequestHead = qsizetype{64} * 1024;

QByteArray response(int status, const QByteArray& reason, const QByteArray& type, const QByteArray& body) {
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace

BenchHttpServer::BenchHttpServer(QByteArray page) : m_page(std::move(page)) {}

BenchHttpServer::~BenchHttpServer() {
    quit();
    wait();
}

bool BenchHttpServer::begin(QString* error) {
    start();
    if (!m_ready.tryAcquire(1, 10000)) {
        *error = QStringLiteral("the page server did not start within 10 s");
        return false;
    }
    if (m_port == 0) {
        *error = m_error;
        return false;
    }
    return true;
}

QString BenchHttpServer::url() const {
    return QStringLiteral("http://127.0.0.1:%1/").arg(m_port);
}

void BenchHttpServer::run() {
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0)) {
        m_error = QStringLiteral("cannot listen on 127.0.0.1: %1").arg(server.errorString());
        m_ready.release();
        return;
    }
    m_port = server.serverPort();
    QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                if (socket->property("answered").toBool()) {
                    socket->readAll();
                    return;
                }
                QByteArray head = socket->property("head").toByteArray() + socket->readAll();
                const qsizetype end = head.indexOf("\r\n\r\n");
                if (end < 0) {
                    if (head.size() > kMaxRequestHead) {
                        socket->abort();
                        socket->deleteLater();
                        return;
                    }
                    socket->setProperty("head", head);
                    return;
                }
                socket->setProperty("answered", true);
                const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
                QByteArray path = requestLine.value(1);
                path = path.left(path.indexOf('?') >= 0 ? path.indexOf('?') : path.size());
                if (requestLine.value(0) == "GET" && (path == "/" || path == "/index.html")) {
                    ++m_hits;
                    socket->write(response(200, "OK", "text/html; charset=utf-8", m_page));
                } else {
                    socket->write(response(404, "Not Found", "text/plain", "not found\n"));
                }
                socket->disconnectFromHost();
            });
        }
    });
    m_ready.release();
    exec();
}

}  // namespace lumiclip::bench
