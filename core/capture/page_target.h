#pragma once

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace lumiclip {

class Browser;
class CdpSession;

// The browser side of one capture: a fresh browser context holding one page target of the view size,
// prepared for a capture (no cache, no scroll bars, a white background, lifecycle events), and sessions
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
    void open(int width, int height, int firstCallMs);
    // Device pixels per CSS pixel of the page's rendering (default 1); set before open().
    void setScaleFactor(double scaleFactor) { m_scaleFactor = scaleFactor; }
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
    void failed(const QString& error);
    // An event of the page or of a frame in a process of its own, dialogs and attachments excepted.
    void pageEvent(const QString& method, const QJsonObject& params);

private:
    void browserCall(const QString& method, const QJsonObject& params,
                     std::function<void(const QJsonObject&)> onResult, int timeoutMs);
    void onAttached(const QString& sessionId);
    void prepare(int width, int height);
    void onSessionEvent(CdpSession* from, const QString& method, const QJsonObject& params);
    void onChildAttached(const QJsonObject& params);
    void onChildDetached(const QString& sessionId);
    void onBrowserEvent(const QString& method, const QJsonObject& params);
    void fail(const QString& error);

    Browser& m_browser;
    std::function<int()> m_deadline;
    double m_scaleFactor = 1;
    bool m_failed = false;
    QString m_contextId;
    QString m_targetId;
    QPointer<CdpSession> m_session;
    QHash<QString, CdpSession*> m_childSessions;
};

}  // namespace lumiclip
