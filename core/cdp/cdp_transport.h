#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace lumiclip {

// What carries protocol messages between us and a browser: whole messages each way, whatever the
// framing below (NUL-terminated on a pipe, frames on a WebSocket, a script in a test). The connection
// above never sees the framing. A transport closes once and says so once.
class CdpTransport : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CdpTransport)

public:
    explicit CdpTransport(QObject* parent = nullptr) : QObject(parent) {}
    ~CdpTransport() override = default;

    // Queues one message. False once the transport is closed.
    virtual bool send(const QByteArray& message) = 0;
    virtual bool isOpen() const = 0;
    // Ends the transport; emits closed() once, with the reason.
    virtual void close(const QString& reason) = 0;

signals:
    void messageReceived(const QByteArray& message);
    void closed(const QString& reason);
};

}  // namespace lumiclip
