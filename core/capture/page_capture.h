#pragma once

#include "core/capture/capture_error.h"
#include "core/capture/capture_request.h"
#include "core/capture/page_snapshot.h"
#include "core/capture/ready_watcher.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

namespace lumiclip {

class AddressGuard;
class Browser;
class CdpSession;
class PageTarget;
class TargetPool;

struct PageCaptureOutcome {
    bool ok = false;
    // Why the capture failed: names the protocol method or the condition; and its kind.
    QString error;
    ErrorKind errorKind = ErrorKind::None;
    PageSnapshot snapshot;
    WaitEnd waitEnd = WaitEnd::None;
    // The browser's reason when the navigation itself failed (net::ERR_...), else empty.
    QString navigationError;
    // HTTP status of the top-level document, 0 when there was none (file:, about:, failures).
    int httpStatus = 0;
    int frameDocuments = 0;
    // The page's address after redirects and its title, when the snapshot was taken.
    QString finalUrl;
    QString title;
    qint64 elapsedMs = 0;
};

// One page, captured asynchronously in a browser, in a browser context of its own that is disposed at
// the end whatever happens: the target is set up (PageTarget), the page navigates, the ready watcher
// says when it is ready (the top-level load, stop(), the time limit or finishNow()), then the snapshot
// is taken. Every other way out is a failure. finished() is emitted exactly once, at the latest at the
// time limit plus the final grace.
class PageCapture final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PageCapture)

public:
    // Uses the options' address, view size and time limits.
    PageCapture(Browser& browser, CaptureRequest options, QObject* parent = nullptr);
    ~PageCapture() override;

    // Before start(): the capture takes its context from pool when one waits there, and else opens one.
    void setTargetPool(TargetPool* pool);
    void start();
    // Ends the wait: stops scripts and loading, grants the grace, then snapshots.
    void stop();
    // Ends the wait at once and snapshots what is there (the application is quitting).
    void finishNow();

    bool isFinished() const { return m_finished; }
    const PageCaptureOutcome& outcome() const { return m_outcome; }
    const CaptureRequest& options() const { return m_options; }

signals:
    void frameDocumentComplete();
    // The wait is over (load, stop, limit); the snapshot follows.
    void waitEnded(lumiclip::WaitEnd how);
    void finished();

private:
    // Starts the time limit and the capture's final deadline.
    void startLimit();
    // Until the capture's final deadline, with a little margin so that it, not a call, reports first.
    int remainingMs() const;
    void navigate();
    // A call on the page's session whose failure fails the capture; done gets the result.
    void callPage(const QString& method, const QJsonObject& params,
                  std::function<void(const QJsonObject& result)> done);
    void onPageEvent(const QString& method, const QJsonObject& params);
    void handlePageEvent(const QString& method, const QJsonObject& params);
    // Lets a held request go once its address is allowed, or fails it (and with it the capture, when it
    // is the page's own document); answers a challenge. On the session the request came from.
    void answerFetch(CdpSession* from, const QString& method, const QJsonObject& params);
    void onStopWanted();
    void onReady(WaitEnd how);
    // One Runtime.evaluate on the page (promises awaited); a failed call fails the capture.
    void evaluate(const QString& expression, std::function<void(const QJsonObject& result)> done);
    void probeElement();
    void probeExpression();
    // The steps between the waits and the snapshot, in this order.
    enum class Step { Fonts, Clicks, Script, LazyLoad, Hide, Animations };
    void prepareSnapshot(Step step);
    // When the page went on to another document after the waits (a script sent it): waits for that one
    // within what is left of the time limit, and true.
    bool waitAgainIfNavigating();
    void takeSnapshot();
    void fail(ErrorKind kind, const QString& error);
    void fail(const CaptureError& error);
    void finish();

    Browser& m_browser;
    CaptureRequest m_options;
    PageCaptureOutcome m_outcome;
    PageTarget* m_target = nullptr;
    QPointer<TargetPool> m_pool;
    ReadyWatcher m_watcher;
    bool m_started = false;
    bool m_finished = false;
    // Where the steps resume when the page went to another document during them, and the clicks done.
    Step m_resumeStep = Step::Fonts;
    qsizetype m_clicksDone = 0;
    bool m_cookiesSet = false;
    // Guarded captures only: the checks of addresses, and whether the page's own has passed.
    AddressGuard* m_guard = nullptr;
    bool m_addressChecked = false;
    // Answers to calls made for a document that has since gone are dropped: each wait again counts one.
    int m_generation = 0;
    QString m_loaderId;
    QHash<QString, int> m_statusByLoader;
    QTimer m_limitTimer;
    QTimer m_endTimer;
    QElapsedTimer m_limitClock;
    QElapsedTimer m_clock;
};

}  // namespace lumiclip
