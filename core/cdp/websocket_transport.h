#pragma once

#include "core/cdp/cdp_transport.h"

#include <QElapsedTimer>
#include <QList>
#include <QTimer>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;
class QWebSocket;

namespace lumiclip {

// Carries protocol messages as WebSocket text messages, to a browser reached over the network. The
// endpoint is the browser's own socket (ws:// or wss://) or its HTTP address (http:// or https://),
// whose /json/version names that socket. Like the pipe, the transport is usable at once: messages
// sent while it connects are kept and go out once the socket is open. A browser that cannot be
// reached, an endpoint that is not a browser's, and a handshake that does not finish in time close
// the transport with the reason.
class WebSocketTransport final : public CdpTransport {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WebSocketTransport)

public:
    WebSocketTransport(const QUrl& endpoint, int connectTimeoutMs, QObject* parent = nullptr);
    ~WebSocketTransport() override;

    bool send(const QByteArray& message) override;
    bool isOpen() const override { return m_open; }
    void close(const QString& reason) override;
    // Whether the socket is open (not merely connecting).
    bool isConnected() const { return m_connected; }
    // Once open, the browser is pinged every pingMs; when nothing at all (pong or message) was heard
    // from it for silenceMs, the transport closes: the browser or its machine is gone.
    void setKeepAlive(int pingMs, int silenceMs);
    static constexpr int kPingMs = 5000;
    static constexpr int kSilenceMs = 20000;

    // Largest message accepted from the peer, as on the pipe.
    static constexpr qint64 kMaxMessageBytes = qint64{256} * 1024 * 1024;

    // The browser's socket address from a /json/version answer, with the host and port of the
    // endpoint asked (the browser names itself as it sees itself, which need not be how we reach it);
    // empty with *error when the answer is not a DevTools browser's.
    static QUrl SocketFromVersionAnswer(const QByteArray& answer, const QUrl& endpoint, QString* error);

private:
    void connectTo(const QUrl& endpoint);
    void discover(const QUrl& endpoint);
    void onVersionAnswer(QNetworkReply* reply, const QUrl& endpoint);
    void openSocket(const QUrl& socketUrl);
    void onSocketClosed();
    void queueIncoming(QByteArray message);
    void deliverIncoming();

    QString m_name;
    int m_lookup = -1;
    bool m_open = true;
    bool m_connected = false;
    QList<QByteArray> m_pending;
    // Messages received, not yet handed on.
    QList<QByteArray> m_incoming;
    bool m_deliveryQueued = false;
    QTimer m_connectTimer;
    QTimer m_keepAlive;
    QElapsedTimer m_lastHeard;
    int m_keepAliveMs = kPingMs;
    int m_silenceMs = kSilenceMs;
    QNetworkAccessManager* m_network = nullptr;
    QWebSocket* m_socket = nullptr;
};

}  // namespace lumiclip
