#pragma once

#include "core/capture/capture_error.h"
#include "core/capture/capture_request.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

namespace lumiclip {

// How the wait for the page ended.
enum class WaitEnd { None, Loaded, Stopped, TimedOut, FinishedEarly };

// Decides when the page is ready, from the frame events of one navigation: the main frame's lifecycle
// event of the options' condition ("load" by default, "DOMContentLoaded", "networkIdle") for the loader
// the navigation started; then, when asked for, an element that matches a selector and is visible
// (probed through probeWanted()/elementProbed()), then an expression of the page's that is truthy
// (expressionWanted()/expressionProbed()), then a delay. A stop (with a grace for the frame to report
// that it stopped), the time limit or a quit end the wait sooner; at the limit an element or expression
// still awaited fails the page, unless the options capture it as it is then. Frame documents completing on
// the way are counted and announced. A page that loads another document itself (a refresh, a script that
// sets location) is followed: the document that counts is the last one committed, and the page is ready
// only once no navigation of its own is under way; one it sets off after ready() (a refresh scheduled as
// it finished loading, a script's location) shows in isNavigatingAgain(). The answer comes once, as
// ready() or failed(), unless waitAgain() asks for the next document; new conditions for readiness belong
// here, not in the capture.
class ReadyWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReadyWatcher)

public:
    // Uses the options' limits and waits.
    explicit ReadyWatcher(const CaptureRequest& options, QObject* parent = nullptr);

    // The main frame's id (its target's id); frame events of other ids are frames of the page.
    void setMainFrame(const QString& frameId) { m_mainFrame = frameId; }
    // The navigation has been asked for; its answer comes with navigated().
    void navigationStarted();
    // Page.navigate's answer: the loader it started and, when it failed, the browser's reason.
    void navigated(const QString& loaderId, const QString& errorText);
    // Page.lifecycleEvent, from the page or any frame of it.
    void lifecycleEvent(const QString& frameId, const QString& loaderId, const QString& name);
    // Page.frameStoppedLoading.
    void frameStoppedLoading(const QString& frameId);
    // Page.frameStartedNavigating: a frame began loading another document (navigationType "reload",
    // "differentDocument", ...; the same-document kinds load nothing).
    void frameStartedNavigating(const QString& frameId, const QString& loaderId,
                                const QString& navigationType);
    // Page.frameNavigated: a frame's new document was committed.
    void frameNavigated(const QString& frameId, const QString& loaderId);
    // Page.frameScheduledNavigation and Page.frameClearedScheduledNavigation: a navigation the page
    // set off (a refresh, a script) that starts after delaySeconds, and its start or cancellation.
    void navigationScheduled(const QString& frameId, double delaySeconds);
    void scheduledNavigationCleared(const QString& frameId);

    // Whether, after ready(), the page has begun (or is about to begin) loading another document itself:
    // a refresh due as it finished loading, or a script run before the snapshot navigated.
    bool isNavigatingAgain() const { return m_stage == Stage::Done && (!m_inFlight.isEmpty() || m_replaced); }
    // Waits for that document as for the first: ready() or failed() once more.
    void waitAgain();
    // What a probe of the element found.
    enum class ElementState { Missing, NotVisible, Visible };
    // The answer to probeWanted(): the element's state, or why the probe failed.
    void elementProbed(ElementState state, const QString& error);
    // The answer to expressionWanted(): whether the expression was truthy, or what it threw.
    void expressionProbed(bool truthy, const QString& error);

    // The user's stop: scripts and loading are stopped, the grace runs, then ready(Stopped).
    void stop();
    // The time limit was reached: as stop(), ending in ready(TimedOut); while the element is awaited,
    // failed(); during the delay, the delay is cut short.
    void timeLimitReached();
    // A quit: ready(FinishedEarly) as soon as there is a document to snapshot.
    void finishNow();

    bool isWaiting() const { return m_stage != Stage::Idle && m_stage != Stage::Done; }
    bool isOver() const { return m_stage == Stage::Done; }
    int frameDocuments() const { return m_frameDocumentCount; }
    // The loader of the main frame's document that counts: the navigation's, or the page's own later one.
    const QString& documentLoader() const { return m_loaderId; }

signals:
    void frameDocumentComplete();
    // Scripts and loading should stop now (a stop, the limit, a quit during the navigation).
    void stopWanted();
    void ready(lumiclip::WaitEnd how);
    // The page never became ready in the way asked for (the element did not appear).
    void failed(const lumiclip::CaptureError& error);
    // Ask the page whether the element of the options' waitFor is there and visible.
    void probeWanted();
    // Ask the page whether the options' expression is truthy (the probe may watch it for a while).
    void expressionWanted();

private:
    enum class Stage { Idle, Navigating, Waiting, Grace, Element, Expression, Delay, Done };

    // The main frame reached the condition: on to the element, the delay, the end.
    void conditionReached();
    // The main frame holds a new document the page loaded itself: its events are the ones that count.
    void adoptDocument(const QString& loaderId);
    // A navigation of the page's own is under way (its loader, or kScheduled).
    void setInFlight(const QString& navigation);
    // A navigation of the page's own ended without a new document (cancelled): back to what was met.
    void inFlightEnded();
    void afterElement();
    void afterExpression();
    void beginStop(WaitEnd how);
    void end(WaitEnd how);
    void fail(ErrorKind kind, const QString& reason);

    TimeLimits m_limits;
    QString m_condition;
    QString m_waitFor;
    QString m_expression;
    int m_delayMs = 0;
    bool m_captureAtLimit = false;
    Stage m_stage = Stage::Idle;
    WaitEnd m_pendingEnd = WaitEnd::None;
    bool m_stopWanted = false;
    bool m_finishNowWanted = false;
    QString m_mainFrame;
    QString m_loaderId;
    bool m_navigationFailed = false;
    ElementState m_element = ElementState::Missing;
    // A navigation the page started itself and that has not committed: its loader, or kScheduled while
    // it is only scheduled; empty when none.
    QString m_inFlight;
    // The condition was met for the current document while a navigation was in flight.
    bool m_conditionMet = false;
    // After ready(): the page committed another document.
    bool m_replaced = false;
    // The main frame's loaders in the order they started, while Page.navigate had not answered.
    QStringList m_startedEarly;
    QSet<QString> m_committedEarly;
    // The main frame's loaders that reached the condition (or, for a failed navigation, loaded).
    QSet<QString> m_conditionLoaders;
    QSet<QString> m_frameDocuments;
    int m_frameDocumentCount = 0;
    QTimer m_graceTimer;
    QTimer m_errorPageTimer;
    QTimer m_probeTimer;
    QTimer m_delayTimer;
};

}  // namespace lumiclip
