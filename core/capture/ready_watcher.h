#pragma once

#include "core/capture/time_limits.h"

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

namespace lumiclip {

// How the wait for the page ended.
enum class WaitEnd { None, Loaded, Stopped, TimedOut, FinishedEarly };

// Decides when the page is ready, from the frame events of one navigation: the main frame's "load" of
// the loader the navigation started, a stop (with a grace for the frame to report that it stopped), the
// time limit, a quit. Frame documents completing on the way are counted and announced. The answer
// comes once, as ready(); new conditions for readiness belong here, not in the capture.
class ReadyWatcher final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ReadyWatcher)

public:
    ReadyWatcher(const TimeLimits& limits, QObject* parent = nullptr);

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

    // The user's stop: scripts and loading are stopped, the grace runs, then ready(Stopped).
    void stop();
    // The time limit was reached: as stop(), ending in ready(TimedOut).
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

private:
    enum class Stage { Idle, Navigating, Waiting, Grace, Done };

    void beginStop(WaitEnd how);
    void end(WaitEnd how);

    TimeLimits m_limits;
    Stage m_stage = Stage::Idle;
    WaitEnd m_pendingEnd = WaitEnd::None;
    bool m_stopWanted = false;
    bool m_finishNowWanted = false;
    QString m_mainFrame;
    QString m_loaderId;
    bool m_navigationFailed = false;
    // Main-frame loads seen before Page.navigate answered, by loader.
    QSet<QString> m_earlyLoads;
    QSet<QString> m_frameDocuments;
    int m_frameDocumentCount = 0;
    QTimer m_graceTimer;
    QTimer m_errorPageTimer;
};

}  // namespace lumiclip
