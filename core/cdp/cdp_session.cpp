#include "core/cdp/cdp_session.h"

namespace lumiclip {

CdpSession::CdpSession(CdpConnection* connection, const QString& sessionId, QObject* parent)
    : QObject(parent), m_connection(connection), m_sessionId(sessionId) {
    m_connection->setSessionHandler(
        m_sessionId, this,
        [this](const QString& method, const QJsonObject& params) { emit eventReceived(method, params); });
}

CdpSession::~CdpSession() {
    if (m_connection) {
        m_connection->removeSessionHandler(m_sessionId);
    }
}

void CdpSession::call(const QString& method, const QJsonObject& params, QObject* context,
                      CdpReplyHandler handler, int timeoutMs) {
    if (!m_connection) {
        // The connection is gone: fail from the event loop like any other failure.
        QMetaObject::invokeMethod(
            context,
            [handler, method] {
                handler(
                    CdpReply{false, {}, method + QStringLiteral(": browser is gone"), CdpFailure::Closed});
            },
            Qt::QueuedConnection);
        return;
    }
    m_connection->call(method, params, m_sessionId, timeoutMs, context, std::move(handler));
}

}  // namespace lumiclip
