#include "core/cdp/websocket_transport.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QWebSocket>

namespace lumiclip {

namespace {

// /json/version answers are a few hundred bytes; anything large is not one.
constexpr qint64 kMaxVersionAnswerBytes = qint64{64} * 1024;

// The socket's reason for a failed handshake, in words for the user.
QString handshakeError(const QString& socketError) {
    static const QRegularExpression status(QStringLiteral("status code: (\\d+)"));
    const QRegularExpressionMatch match = status.match(socketError);
    if (match.hasMatch()) {
        return QStringLiteral("it answered HTTP %1 instead of opening a WebSocket").arg(match.captured(1));
    }
    QString text = socketError;
    text.remove(QRegularExpression(QStringLiteral("^QWebSocketPrivate::\\w+: ")));
    return text;
}

// text in UTF-8, in an array of exactly its size. QString::toUtf8 reserves three bytes a character and
// keeps them: for a message of 256 MB, 768 MB held for as long as the message is.
QByteArray Utf8Of(QStringView text) {
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80) {
            bytes += 1;
        } else if (c < 0x800) {
            bytes += 2;
        } else if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            bytes += 4;
            ++i;
        } else {
            bytes += 3;  // a lone surrogate is written as U+FFFD, three bytes too
        }
    }
    QByteArray utf8(bytes, Qt::Uninitialized);
    QStringEncoder encoder(QStringEncoder::Utf8, QStringConverter::Flag::Stateless);
    const char* end = encoder.appendToBuffer(utf8.data(), text);
    utf8.truncate(end - utf8.constData());
    return utf8;
}

bool isSocketScheme(const QString& scheme) {
    return scheme == QStringLiteral("ws") || scheme == QStringLiteral("wss");
}

}  // namespace

WebSocketTransport::WebSocketTransport(const QUrl& endpoint, int connectTimeoutMs, QObject* parent)
    : CdpTransport(parent), m_name(endpoint.toDisplayString()) {
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_connectTimer, &QTimer::timeout, this, [this, connectTimeoutMs] {
        close(QStringLiteral("%1 did not open a DevTools connection within %2 s")
                  .arg(m_name)
                  .arg(connectTimeoutMs / 1000.0));
    });
    m_connectTimer.start(connectTimeoutMs);
    // A browser whose machine went away (no reset, no close) would otherwise look like a slow one until
    // every page on it ran out of time; pings show it is gone within the silence allowed.
    connect(&m_keepAlive, &QTimer::timeout, this, [this] {
        if (m_lastHeard.hasExpired(m_silenceMs)) {
            close(QStringLiteral("%1 stopped answering: nothing heard for %2 s")
                      .arg(m_name)
                      .arg(m_silenceMs / 1000.0));
            return;
        }
        m_socket->ping();
    });
    const QString scheme = endpoint.scheme();
    if (!isSocketScheme(scheme) && scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) {
        // Reported on the next turn of the loop, like every other failure to connect.
        QTimer::singleShot(0, this, [this] {
            close(QStringLiteral("%1 is not a ws://, wss://, http:// or https:// address").arg(m_name));
        });
        return;
    }
    // A browser answers DevTools requests only when asked by IP address or as localhost (a guard
    // against pages that rebind a name of theirs to it), so a name is looked up here and the browser is
    // asked by its address. Not over TLS: there the name is what the certificate is checked against,
    // and the proxy in front of the browser sees to the rest.
    const QString host = endpoint.host();
    const bool encrypted = scheme == QStringLiteral("wss") || scheme == QStringLiteral("https");
    if (encrypted || !QHostAddress(host).isNull() ||
        host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) {
        connectTo(endpoint);
        return;
    }
    m_lookup = QHostInfo::lookupHost(host, this, [this, endpoint](const QHostInfo& info) {
        m_lookup = -1;
        if (!m_open) {
            return;
        }
        const QList<QHostAddress> addresses = info.addresses();
        if (info.error() != QHostInfo::NoError || addresses.isEmpty()) {
            close(QStringLiteral("cannot reach %1: %2").arg(m_name, info.errorString()));
            return;
        }
        // IPv4 first: a browser told to listen on one address listens on that family only.
        QHostAddress chosen = addresses.first();
        for (const QHostAddress& address : addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                chosen = address;
                break;
            }
        }
        QUrl byAddress = endpoint;
        byAddress.setHost(chosen.toString());
        connectTo(byAddress);
    });
}

void WebSocketTransport::connectTo(const QUrl& endpoint) {
    if (isSocketScheme(endpoint.scheme())) {
        openSocket(endpoint);
    } else {
        discover(endpoint);
    }
}

WebSocketTransport::~WebSocketTransport() {
    if (m_lookup >= 0) {
        QHostInfo::abortHostLookup(m_lookup);
    }
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

bool WebSocketTransport::send(const QByteArray& message) {
    if (!m_open) {
        return false;
    }
    if (!m_connected) {
        m_pending.append(message);
        return true;
    }
    m_socket->sendTextMessage(QString::fromUtf8(message));
    return true;
}

void WebSocketTransport::close(const QString& reason) {
    if (!m_open) {
        return;
    }
    m_open = false;
    m_connected = false;
    m_pending.clear();
    m_incoming.clear();
    m_connectTimer.stop();
    m_keepAlive.stop();
    if (m_lookup >= 0) {
        QHostInfo::abortHostLookup(m_lookup);
        m_lookup = -1;
    }
    if (m_socket) {
        m_socket->disconnect(this);
        // What was sent last (a context's disposal) goes out now if the socket takes it; the browser
        // also disposes of our contexts when we detach.
        m_socket->flush();
        m_socket->close();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    if (m_network) {
        m_network->deleteLater();
        m_network = nullptr;
    }
    emit closed(reason);
}

void WebSocketTransport::setKeepAlive(int pingMs, int silenceMs) {
    m_keepAliveMs = pingMs;
    m_silenceMs = silenceMs;
    if (m_keepAlive.isActive()) {
        m_keepAlive.start(m_keepAliveMs);
    }
}

QUrl WebSocketTransport::SocketFromVersionAnswer(const QByteArray& answer, const QUrl& endpoint,
                                                 QString* error) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(answer, &parseError);
    const QString advertised = document.object().value(QStringLiteral("webSocketDebuggerUrl")).toString();
    QUrl socket(advertised, QUrl::StrictMode);
    if (parseError.error != QJsonParseError::NoError || !document.isObject() || advertised.isEmpty() ||
        !socket.isValid() || !isSocketScheme(socket.scheme())) {
        *error = QStringLiteral("%1 is not a DevTools endpoint: its /json/version names no browser socket")
                     .arg(endpoint.toDisplayString());
        return {};
    }
    socket.setScheme(endpoint.scheme() == QStringLiteral("https") ? QStringLiteral("wss")
                                                                  : QStringLiteral("ws"));
    socket.setHost(endpoint.host());
    socket.setPort(endpoint.port());
    return socket;
}

void WebSocketTransport::discover(const QUrl& endpoint) {
    m_network = new QNetworkAccessManager(this);
    QUrl versionUrl = endpoint;
    QString path = endpoint.path();
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    versionUrl.setPath(path + QStringLiteral("json/version"));
    versionUrl.setQuery(QString());
    QNetworkRequest request(versionUrl);
    // The browser's own server: never a proxy, never a redirect elsewhere.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    m_network->setProxy(QNetworkProxy::NoProxy);
    QNetworkReply* reply = m_network->get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64) {
        if (received > kMaxVersionAnswerBytes) {
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, endpoint] { onVersionAnswer(reply, endpoint); });
}

void WebSocketTransport::onVersionAnswer(QNetworkReply* reply, const QUrl& endpoint) {
    reply->deleteLater();
    if (!m_open) {
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError && status == 0) {
        close(QStringLiteral("cannot reach %1: %2").arg(m_name, reply->errorString()));
        return;
    }
    if (status != 200) {
        // The browser says why in a line (a Host it refuses, say); a page that is not a browser's
        // says nothing worth repeating.
        const QByteArray body = reply->read(512).trimmed();
        const bool oneLine = !body.isEmpty() && !body.contains('<') && !body.contains('\n');
        close(QStringLiteral("%1 is not a DevTools endpoint: /json/version answered HTTP %2%3")
                  .arg(m_name)
                  .arg(status)
                  .arg(oneLine ? QStringLiteral(" (%1)").arg(QString::fromUtf8(body).left(200)) : QString()));
        return;
    }
    QString error;
    const QUrl socket = SocketFromVersionAnswer(reply->read(kMaxVersionAnswerBytes), endpoint, &error);
    if (socket.isEmpty()) {
        close(error);
        return;
    }
    m_network->deleteLater();
    m_network = nullptr;
    openSocket(socket);
}

void WebSocketTransport::openSocket(const QUrl& socketUrl) {
    m_socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    m_socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    m_socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    m_socket->setProxy(QNetworkProxy::NoProxy);
    connect(m_socket, &QWebSocket::connected, this, [this] {
        m_connectTimer.stop();
        m_connected = true;
        m_lastHeard.start();
        m_keepAlive.start(m_keepAliveMs);
        for (const QByteArray& message : std::as_const(m_pending)) {
            m_socket->sendTextMessage(QString::fromUtf8(message));
        }
        m_pending.clear();
    });
    connect(m_socket, &QWebSocket::textMessageReceived, this, [this](const QString& message) {
        m_lastHeard.start();
        queueIncoming(Utf8Of(message));
    });
    connect(m_socket, &QWebSocket::binaryMessageReceived, this, [this](const QByteArray& message) {
        m_lastHeard.start();
        queueIncoming(message);
    });
    connect(m_socket, &QWebSocket::pong, this, [this] { m_lastHeard.start(); });
    connect(m_socket, &QWebSocket::disconnected, this, &WebSocketTransport::onSocketClosed);
    m_socket->open(socketUrl);
}

void WebSocketTransport::queueIncoming(QByteArray message) {
    // Handed on from the event loop rather than from the socket's signal: the socket holds a text
    // message as UTF-16, twice the size of its UTF-8, until its signal returns, and the message is
    // parsed and used by whoever receives it.
    m_incoming.append(std::move(message));
    if (!m_deliveryQueued) {
        m_deliveryQueued = true;
        QTimer::singleShot(0, this, &WebSocketTransport::deliverIncoming);
    }
}

void WebSocketTransport::deliverIncoming() {
    m_deliveryQueued = false;
    // The receivers may close or even delete this transport.
    QPointer<WebSocketTransport> self(this);
    while (m_open && !m_incoming.isEmpty()) {
        const QByteArray message = m_incoming.takeFirst();
        emit messageReceived(message);
        if (!self) {
            return;
        }
    }
}

void WebSocketTransport::onSocketClosed() {
    if (!m_open) {
        return;
    }
    // What the peer said before it closed comes first, as on the pipe.
    QPointer<WebSocketTransport> self(this);
    deliverIncoming();
    if (!self || !m_open) {
        return;
    }
    if (!m_connected) {
        close(QStringLiteral("%1: the WebSocket handshake failed: %2")
                  .arg(m_name, handshakeError(m_socket->errorString())));
        return;
    }
    const QString why = m_socket->closeReason().isEmpty() ? m_socket->errorString() : m_socket->closeReason();
    close(QStringLiteral("the connection to %1 closed%2")
              .arg(m_name, why.isEmpty() ? QString() : QStringLiteral(": ") + why));
}

}  // namespace lumiclip
