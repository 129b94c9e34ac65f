#pragma once

#include "core/cdp/cdp_connection.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace lumiclip {

// One attached target (a page) on a connection: calls carry the session id, and the target's events
// arrive as eventReceived. Detaches its event route when destroyed.
class CdpSession final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CdpSession)

public:
    CdpSession(CdpConnection* connection, const QString& sessionId, QObject* parent = nullptr);
    ~CdpSession() override;

    static constexpr int kDefaultTimeoutMs = 10000;

    void call(const QString& method, const QJsonObject& params, QObject* context, CdpReplyHandler handler,
              int timeoutMs = kDefaultTimeoutMs);
    const QString& id() const { return m_sessionId; }
    CdpConnection* connection() const { return m_connection; }

signals:
    void eventReceived(const QString& method, const QJsonObject& params);

private:
    QPointer<CdpConnection> m_connection;
    QString m_sessionId;
};

}  // namespace lumiclip
