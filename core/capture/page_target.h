#pragma once

#include "core/capture/capture_error.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace lumiclip {

struct CdpReply;

class Browser;
class CdpSession;
struct CaptureRequest;

// The browser side of one capture: a fresh browser context holding one page target of the view size,
// prepared for a capture (no cache, no scroll bars, a white background, lifecycle events, and the
// options' page set-up: device, agent, languages, time zone, headers, media features, blocked requests),
// and sessions
// on the targets the page starts (frames rendered in processes of their own, workers), each let go once
// it is set up. Dialogs the page or its frames open are answered at once (alert and beforeunload
// accepted, confirm and prompt cancelled): an open dialog holds the renderer. The context, and with it
// the target, is disposed when this object goes.
class PageTarget final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageTarget)

public:
    // deadline: the timeout for each call from now on, in milliseconds.
    PageTarget(Browser& browser, std::function<int()> deadline, QObject* parent = nullptr);
    ~PageTarget() override;

    // Creates the context and the target, attaches and prepares; then ready(), or failed(). The first
    // call gets firstCallMs (a browser that has just been started answers it once it is up).
    void open(const CaptureRequest& options, int firstCallMs);
    // The timeout for each call from now on: a target prepared ahead gets its capture's when taken.
    void setDeadline(std::function<int()> deadline) { m_deadline = std::move(deadline); }
    // Whether the browser has answered the first call, and whether ready() has been emitted.
    bool hasAnswered() const { return m_answered; }
    bool isReady() const { return m_ready; }
    bool hasFailed() const { return m_failed; }
    // The page's session once ready(), else null.
    CdpSession* session() const { return m_session; }
    // The main frame's id, which is the target's.
    const QString& targetId() const { return m_targetId; }
    // Disposes of the context now (the browser closes the target with it); the answer is not waited for.
    void dispose(int timeoutMs);

signals:
    // The browser answered the first call.
    void browserAnswered();
    void ready();
    // Set-up failed, the page crashed or was closed, or the browser went away.
    void failed(const lumiclip::CaptureError& error);
    // An event of the page or of a frame in a process of its own, dialogs, attachments and held requests
    // excepted.
    void pageEvent(const QString& method, const QJsonObject& params);
    // A request held for the capture (Fetch.requestPaused, Fetch.authRequired): answered on the session
    // it came from, the page's or a frame's in a process of its own. That session may go before the
    // answer (a frame removed).
    void requestHeld(lumiclip::CdpSession* from, const QString& method, const QJsonObject& params);

private:
    void browserCall(const QString& method, const QJsonObject& params,
                     std::function<void(const QJsonObject&)> onResult, int timeoutMs);
    void onAttached(const QString& sessionId);
    void prepare(const CaptureRequest& options);
    void onSessionEvent(CdpSession* from, const QString& method, const QJsonObject& params);
    void onChildAttached(const QJsonObject& params);
    void onChildDetached(const QString& sessionId);
    void onBrowserEvent(const QString& method, const QJsonObject& params);
    void fail(ErrorKind kind, const QString& error);
    void fail(const CdpReply& reply);

    Browser& m_browser;
    std::function<int()> m_deadline;
    bool m_failed = false;
    bool m_answered = false;
    bool m_ready = false;
    QString m_contextId;
    QString m_targetId;
    // The browser's own user agent, when the page's languages are set without one.
    QString m_browserAgent;
    // Fetch.enable's parameters when requests are held (credentials to give, addresses to check); empty
    // when none are. Where addresses are checked, the requests of the frames and workers the page starts
    // in processes of their own are held too.
    QJsonObject m_holdRequests;
    bool m_holdChildRequests = false;
    QPointer<CdpSession> m_session;
    QHash<QString, CdpSession*> m_childSessions;
};

}  // namespace lumiclip
