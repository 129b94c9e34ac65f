#pragma once

#include "core/capture/capture_options.h"

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
// (probed through probeWanted()/elementProbed()), then a delay. A stop (with a grace for the frame to
// report that it stopped), the time limit or a quit end the wait sooner. Frame documents completing on
// the way are counted and announced. The answer comes once, as ready() or failed(); new conditions for
// readiness belong here, not in the capture.
class ReadyWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReadyWatcher)

public:
    // Uses the options' limits and waits.
    explicit ReadyWatcher(const CaptureOptions& options, QObject* parent = nullptr);

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
    // The answer to probeWanted(): whether the element is there and visible, or why the probe failed.
    void elementProbed(bool visible, const QString& error);

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

signals:
    void frameDocumentComplete();
    // Scripts and loading should stop now (a stop, the limit, a quit during the navigation).
    void stopWanted();
    void ready(lumiclip::WaitEnd how);
    // The page never became ready in the way asked for (the element did not appear).
    void failed(const QString& reason);
    // Ask the page whether the element of the options' waitFor is there and visible.
    void probeWanted();

private:
    enum class Stage { Idle, Navigating, Waiting, Grace, Element, Delay, Done };

    // The main frame reached the condition: on to the element, the delay, the end.
    void conditionReached();
    void afterElement();
    void beginStop(WaitEnd how);
    void end(WaitEnd how);
    void fail(const QString& reason);

    TimeLimits m_limits;
    QString m_condition;
    QString m_waitFor;
    int m_delayMs = 0;
    Stage m_stage = Stage::Idle;
    WaitEnd m_pendingEnd = WaitEnd::None;
    bool m_stopWanted = false;
    bool m_finishNowWanted = false;
    QString m_mainFrame;
    QString m_loaderId;
    bool m_navigationFailed = false;
    // Main-frame loads, and the condition's events, seen before Page.navigate answered, by loader.
    QSet<QString> m_earlyLoads;
    QSet<QString> m_earlyConditions;
    QSet<QString> m_frameDocuments;
    int m_frameDocumentCount = 0;
    QTimer m_graceTimer;
    QTimer m_errorPageTimer;
    QTimer m_probeTimer;
    QTimer m_delayTimer;
};

}  // namespace lumiclip
