#pragma once

#include "core/cdp/cdp_connection.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

namespace lumiclip {

class Browser;
class CdpSession;

struct PageCaptureOptions {
    QString url;
    int viewWidth = 810;
    int viewHeight = 600;
    // The longest the page may load before the capture goes on with what is there. It counts from the
    // capture's start (from the browser's first answer when the capture had to start the browser).
    int timeLimitMs = 30000;
    // After a stop (or at the limit): how long the main frame may take to report that it stopped.
    int stopGraceMs = 500;
    // What the capture may take beyond the limit, stop and snapshot included, before it fails: the limit
    // plus this bounds the whole capture.
    int finalGraceMs = 3000;
};

// What the view held when the wait ended: its rendering (PNG of the view size) and whether the
// document has a body at all (an SVG document, say, has none).
struct PageSnapshot {
    QByteArray png;
    bool hasBody = false;
};

enum class WaitEnd { None, Loaded, Stopped, TimedOut, FinishedEarly };

struct PageCaptureOutcome {
    bool ok = false;
    // Why the capture failed: names the protocol method or the condition.
    QString error;
    PageSnapshot snapshot;
    WaitEnd waitEnd = WaitEnd::None;
    // The browser's reason when the navigation itself failed (net::ERR_...), else empty.
    QString navigationError;
    // HTTP status of the top-level document, 0 when there was none (file:, about:, failures).
    int httpStatus = 0;
    int frameDocuments = 0;
    qint64 elapsedMs = 0;
};

// One page, captured asynchronously in the shared browser, in a browser context of its own that is
// disposed at the end whatever happens: create the context and a target of the view size, prepare the
// page (no cache, no scroll bars, white background), navigate, wait for the top-level "load" (frames'
// loads are reported along the way), then take the body check and a screenshot of the view.
// The wait ends on the load, on stop(), at the time limit, or on finishNow(); every other way out is a
// failure. Dialogs the page opens are answered at once (alert and beforeunload accepted, confirm and
// prompt cancelled), so that they never hold the renderer. finished() is emitted exactly once, at the
// latest at the time limit plus the final grace.
class PageCapture final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageCapture)

public:
    PageCapture(Browser& browser, PageCaptureOptions options, QObject* parent = nullptr);
    ~PageCapture() override;

    void start();
    // Ends the wait: stops scripts and loading, grants the grace, then snapshots.
    void stop();
    // Ends the wait at once and snapshots what is there (the application is quitting).
    void finishNow();

    bool isFinished() const { return m_finished; }
    const PageCaptureOutcome& outcome() const { return m_outcome; }

signals:
    void frameDocumentComplete();
    // The wait is over (load, stop, limit); the snapshot follows.
    void waitEnded(lumiclip::WaitEnd how);
    void finished();

private:
    enum class Stage { Idle, Setup, Navigating, Waiting, Grace, Snapshot, Done };

    // A reply handler that drops replies after the end and fails the capture on an error.
    CdpReplyHandler guardedReply(std::function<void(const QJsonObject&)> onResult);
    // A call on the page's session; its deadline is the capture's own unless one is given.
    void call(const QString& method, const QJsonObject& params,
              std::function<void(const QJsonObject&)> onResult, int timeoutMs = -1);
    // A call whose answer does not matter (its failure is none of the capture's).
    void sideCall(CdpSession* session, const QString& method, const QJsonObject& params = {});
    // Starts the time limit and the capture's final deadline.
    void startLimit();
    void onLimit();
    // Until the capture's final deadline, with a little margin so that it, not a call, reports first.
    int remainingMs() const;
    // Answers a dialog the page (or a frame of it) opened; false when the event is no dialog.
    bool answerDialog(CdpSession* session, const QString& method, const QJsonObject& params);
    void browserCall(const QString& method, const QJsonObject& params,
                     std::function<void(const QJsonObject&)> onResult, int timeoutMs);
    void onTargetCreated(const QString& targetId);
    void onAttached(const QString& sessionId);
    void prepare();
    void navigate();
    void onNavigated(const QJsonObject& result);
    void onEvent(const QString& method, const QJsonObject& params);
    void onLifecycle(const QString& frameId, const QString& loaderId);
    // Frame loads and the targets the page or its frames start, from any of our sessions; false when
    // the event is none of these.
    bool onFrameTreeEvent(CdpSession* session, const QString& method, const QJsonObject& params);
    void onChildAttached(const QJsonObject& params);
    void onChildDetached(const QString& sessionId);
    void onBrowserEvent(const QString& method, const QJsonObject& params);
    void beginStop(WaitEnd how);
    void endWait(WaitEnd how);
    void snapshot();
    void fail(const QString& error);
    void finish();
    void dispose();

    Browser& m_browser;
    PageCaptureOptions m_options;
    PageCaptureOutcome m_outcome;
    Stage m_stage = Stage::Idle;
    bool m_finished = false;
    bool m_stopWanted = false;
    bool m_finishNowWanted = false;
    QString m_contextId;
    QString m_targetId;
    QPointer<CdpSession> m_session;
    // Sessions on targets the page started: frames rendered in processes of their own, workers.
    QHash<QString, CdpSession*> m_childSessions;
    QString m_loaderId;
    // Main-frame loads and document responses seen before Page.navigate answered, by loader.
    QSet<QString> m_earlyLoads;
    QHash<QString, int> m_statusByLoader;
    QSet<QString> m_frameDocuments;
    QTimer m_limitTimer;
    QTimer m_endTimer;
    QElapsedTimer m_limitClock;
    QTimer m_graceTimer;
    QTimer m_errorPageTimer;
    // How long a failed navigation's error page may take to load before the snapshot goes ahead.
    static constexpr int kErrorPageWaitMs = 3000;
    QElapsedTimer m_clock;
    int m_snapshotParts = 0;
};

}  // namespace lumiclip
