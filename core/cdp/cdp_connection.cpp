#include "core/cdp/cdp_connection.h"

#include "core/cdp/cdp_transport.h"

#include <QJsonDocument>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>

namespace lumiclip {

// Every message sent and received, when enabled: QT_LOGGING_RULES="lumiclip.protocol.debug=true".
Q_LOGGING_CATEGORY(lcProtocol, "lumiclip.protocol", QtWarningMsg)

namespace {

// A message as traced: whole up to 4 KB (a screenshot's data would flood the log), then cut.
QString Traced(const QByteArray& message) {
    constexpr qsizetype kMostBytes = 4096;
    if (message.size() <= kMostBytes) {
        return QString::fromUtf8(message);
    }
    return QString::fromUtf8(message.left(kMostBytes)) +
           QStringLiteral("... (%1 bytes in all)").arg(message.size());
}

}  // namespace

CdpConnection::CdpConnection(CdpTransport* transport, QObject* parent)
    : QObject(parent), m_transport(transport) {
    m_transport->setParent(this);
    connect(m_transport, &CdpTransport::messageReceived, this, &CdpConnection::onMessage);
    connect(m_transport, &CdpTransport::closed, this, &CdpConnection::onClosed);
}

CdpConnection::~CdpConnection() {
    // Nobody may hear from a connection that is being destroyed.
    m_pending.clear();
    m_sessions.clear();
    m_received.clear();
}

QString CdpConnection::Quote(const QString& text) {
    if (text.size() <= kMaxQuotedChars) {
        return text;
    }
    return text.left(kMaxQuotedChars) + QStringLiteral("... (%1 characters in all)").arg(text.size());
}

QString CdpConnection::IdFrom(const QJsonObject& result, const QString& key, const QString& method,
                              QString* error) {
    QString id = result.value(key).toString();
    if (id.size() > kMaxIdChars) {
        *error = QStringLiteral(
                     "%1: the browser sent a %2 of %3 characters, more than the %4 an identifier may have")
                     .arg(method, key)
                     .arg(id.size())
                     .arg(kMaxIdChars);
        return {};
    }
    return id;
}

bool CdpConnection::isOpen() const {
    return m_transport->isOpen();
}

void CdpConnection::close(const QString& reason) {
    m_transport->close(reason);
}

int CdpConnection::call(const QString& method, const QJsonObject& params, const QString& sessionId,
                        int timeoutMs, QObject* context, CdpReplyHandler handler) {
    const int id = m_nextId++;
    Pending pending{method, context, std::move(handler)};
    if (!m_transport->isOpen()) {
        deliverLater(std::move(pending),
                     CdpReply{false, {}, method + QStringLiteral(": ") + m_closeReason, CdpFailure::Closed});
        return id;
    }
    QJsonObject message{{QStringLiteral("id"), id}, {QStringLiteral("method"), method}};
    if (!params.isEmpty()) {
        message.insert(QStringLiteral("params"), params);
    }
    if (!sessionId.isEmpty()) {
        message.insert(QStringLiteral("sessionId"), sessionId);
    }
    m_pending.insert(id, pending);
    QTimer::singleShot(timeoutMs, this, [this, id, timeoutMs] { expire(id, timeoutMs); });
    const QByteArray text = QJsonDocument(message).toJson(QJsonDocument::Compact);
    qCDebug(lcProtocol).noquote() << "->" << Traced(text);
    m_transport->send(text);
    return id;
}

void CdpConnection::setSessionHandler(const QString& sessionId, QObject* context, CdpEventHandler handler) {
    m_sessions.insert(sessionId, SessionSink{context, std::move(handler)});
}

void CdpConnection::removeSessionHandler(const QString& sessionId) {
    m_sessions.remove(sessionId);
}

void CdpConnection::deliverLater(Pending pending, CdpReply reply) {
    QTimer::singleShot(0, this, [pending = std::move(pending), reply = std::move(reply)] {
        if (pending.context && pending.handler) {
            pending.handler(reply);
        }
    });
}

void CdpConnection::expire(int id, int timeoutMs) {
    auto it = m_pending.find(id);
    if (it == m_pending.end()) {
        return;
    }
    Pending pending = std::move(*it);
    m_pending.erase(it);
    const QString error =
        pending.method + QStringLiteral(": no answer from the browser within %1 ms").arg(timeoutMs);
    if (pending.context && pending.handler) {
        pending.handler(CdpReply{false, {}, error, CdpFailure::NoAnswer});
    }
}

void CdpConnection::onMessage(const QByteArray& message) {
    m_heardFromPeer = true;
    qCDebug(lcProtocol).noquote() << "<-" << Traced(message);
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(message, &parseError);
    if (!doc.isObject()) {
        // A peer that speaks something else cannot be trusted with further calls.
        // Valid JSON that is no object has no parse error to name.
        const QString why = parseError.error == QJsonParseError::NoError ? QStringLiteral("not a JSON object")
                                                                         : parseError.errorString();
        close(QStringLiteral("unreadable message from browser: %1").arg(why));
        return;
    }
    // Handled from the event loop, once the transport has let go of the text: a handler copies what it
    // wants out of the message (a screenshot's data, as UTF-16, twice the size of the text), and a
    // message can be a few hundred megabytes.
    m_received.append(doc.object());
    if (!m_handlingQueued) {
        m_handlingQueued = true;
        QTimer::singleShot(0, this, &CdpConnection::handleReceived);
    }
}

void CdpConnection::handleReceived() {
    m_handlingQueued = false;
    // A handler may close or even delete this connection.
    QPointer<CdpConnection> self(this);
    while (!m_received.isEmpty()) {
        const QJsonObject object = m_received.takeFirst();
        handle(object);
        if (!self) {
            return;
        }
    }
}

void CdpConnection::handle(const QJsonObject& object) {
    const auto idValue = object.value(QStringLiteral("id"));
    if (!idValue.isUndefined()) {
        auto it = m_pending.find(idValue.toInt());
        if (it == m_pending.end()) {
            return;  // answer to a call that already timed out
        }
        Pending pending = std::move(*it);
        m_pending.erase(it);
        CdpReply reply;
        const QJsonValue error = object.value(QStringLiteral("error"));
        if (error.isObject()) {
            reply.error = pending.method + QStringLiteral(": ") +
                          Quote(error.toObject().value(QStringLiteral("message")).toString());
            reply.failure = CdpFailure::Refused;
        } else {
            reply.ok = true;
            reply.result = object.value(QStringLiteral("result")).toObject();
        }
        if (pending.context && pending.handler) {
            pending.handler(reply);
        }
        return;
    }
    const QString method = object.value(QStringLiteral("method")).toString();
    const QJsonObject params = object.value(QStringLiteral("params")).toObject();
    const QString sessionId = object.value(QStringLiteral("sessionId")).toString();
    if (sessionId.isEmpty()) {
        emit browserEvent(method, params);
        return;
    }
    auto it = m_sessions.constFind(sessionId);
    if (it != m_sessions.cend() && it->context && it->handler) {
        // Copy: the handler may remove itself.
        const CdpEventHandler handler = it->handler;
        handler(method, params);
    }
}

void CdpConnection::onClosed(const QString& reason) {
    m_closeReason = reason;
    // What the browser said before it went is heard first, as it always was.
    QPointer<CdpConnection> self(this);
    handleReceived();
    if (!self) {
        return;
    }
    QHash<int, Pending> pending;
    pending.swap(m_pending);
    for (auto it = pending.begin(); it != pending.end(); ++it) {
        if (it->context && it->handler) {
            it->handler(CdpReply{false, {}, it->method + QStringLiteral(": ") + reason, CdpFailure::Closed});
        }
    }
    emit closed(reason);
}

}  // namespace lumiclip
