#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace lumiclip {

class CdpTransport;

// The protocol trace: every message sent and received, at debug level.
Q_DECLARE_LOGGING_CATEGORY(lcProtocol)

// Why a protocol call has no result.
enum class CdpFailure {
    None,
    Refused,   // the browser answered with an error
    NoAnswer,  // no answer within the call's deadline
    Closed,    // the connection closed (the browser went away) before or while the call was out
};

// The answer to one protocol call: the result object, or an error whose text names the method.
struct CdpReply {
    bool ok = false;
    QJsonObject result;
    QString error;
    CdpFailure failure = CdpFailure::None;
};

using CdpReplyHandler = std::function<void(const CdpReply&)>;
using CdpEventHandler = std::function<void(const QString& method, const QJsonObject& params)>;

// Message ids, pending calls and event routing over a transport. Every call has a deadline; when the
// transport closes, every pending call fails at once. Handlers always run from the event loop, never
// inside call(), and never after their context object is gone.
class CdpConnection final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CdpConnection)

public:
    // Takes ownership of the transport.
    explicit CdpConnection(CdpTransport* transport, QObject* parent = nullptr);
    ~CdpConnection() override;

    // Sends method(params) to the browser, or to the target of sessionId when it is not empty.
    // Returns the message id.
    int call(const QString& method, const QJsonObject& params, const QString& sessionId, int timeoutMs,
             QObject* context, CdpReplyHandler handler);
    // Events of one session go to its handler; one handler per session.
    void setSessionHandler(const QString& sessionId, QObject* context, CdpEventHandler handler);
    void removeSessionHandler(const QString& sessionId);

    bool isOpen() const;
    // Why the connection closed; empty while it is open.
    const QString& closeReason() const { return m_closeReason; }
    // Whether the peer has sent anything yet: a browser that has just been started answers its first
    // call only once it is up.
    bool hasHeardFromPeer() const { return m_heardFromPeer; }
    void close(const QString& reason);
    int pendingCount() const { return static_cast<int>(m_pending.size()); }

    // Longest identifier (of a context, a target or a session) taken from the browser: an identifier is
    // sent back in later calls, and a browser's are a few dozen characters.
    static constexpr qsizetype kMaxIdChars = 1024;
    // Longest stretch of the browser's own text that an error quotes.
    static constexpr qsizetype kMaxQuotedChars = 300;
    // The browser's text as an error quotes it: at most kMaxQuotedChars, and saying so when cut.
    static QString Quote(const QString& text);
    // The identifier named key in method's answer (or event); empty with *error naming method and key
    // when it is longer than kMaxIdChars.
    static QString IdFrom(const QJsonObject& result, const QString& key, const QString& method,
                          QString* error);

signals:
    // An event that belongs to no session (Target.*, Inspector.* of the browser).
    void browserEvent(const QString& method, const QJsonObject& params);
    void closed(const QString& reason);

private:
    struct Pending {
        QString method;
        QPointer<QObject> context;
        CdpReplyHandler handler;
    };
    struct SessionSink {
        QPointer<QObject> context;
        CdpEventHandler handler;
    };

    void onMessage(const QByteArray& message);
    void handleReceived();
    void handle(const QJsonObject& object);
    void onClosed(const QString& reason);
    void expire(int id, int timeoutMs);
    void deliverLater(Pending pending, CdpReply reply);

    CdpTransport* m_transport;
    int m_nextId = 1;
    QHash<int, Pending> m_pending;
    QHash<QString, SessionSink> m_sessions;
    // Messages parsed, not yet handled.
    QList<QJsonObject> m_received;
    bool m_handlingQueued = false;
    QString m_closeReason;
    bool m_heardFromPeer = false;
};

}  // namespace lumiclip
