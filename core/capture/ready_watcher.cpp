#include "core/capture/ready_watcher.h"

namespace lumiclip {

ReadyWatcher::ReadyWatcher(const TimeLimits& limits, QObject* parent) : QObject(parent), m_limits(limits) {
    // Precise, like the limit: a coarse timer may fire a few per cent early.
    m_graceTimer.setSingleShot(true);
    m_graceTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_graceTimer, &QTimer::timeout, this, [this] { end(m_pendingEnd); });
    m_errorPageTimer.setSingleShot(true);
    m_errorPageTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_errorPageTimer, &QTimer::timeout, this, [this] { end(WaitEnd::Loaded); });
}

void ReadyWatcher::navigationStarted() {
    if (m_stage != Stage::Idle) {
        return;
    }
    m_stage = Stage::Navigating;
    // A stop or quit that came during the set-up must not wait for a navigation that may never answer;
    // a quit stops the navigation first, since a document being replaced cannot be snapshotted.
    if (m_stopWanted) {
        beginStop(WaitEnd::Stopped);
    } else if (m_finishNowWanted) {
        beginStop(WaitEnd::FinishedEarly);
    }
}

void ReadyWatcher::navigated(const QString& loaderId, const QString& errorText) {
    m_loaderId = loaderId;
    m_navigationFailed = !errorText.isEmpty();
    if (m_stage == Stage::Grace) {
        // Stopped (or at the limit) while the navigation call was out: an aborted navigation has
        // nothing more to load, else the grace runs on.
        if (m_navigationFailed) {
            end(m_pendingEnd);
        }
        return;
    }
    if (m_stage != Stage::Navigating) {
        return;
    }
    m_stage = Stage::Waiting;
    if (m_earlyLoads.contains(loaderId)) {
        end(WaitEnd::Loaded);
        return;
    }
    if (m_navigationFailed) {
        // A failed navigation goes on to the browser's error page, under the same loader; its load ends
        // the wait. Some failures show none, so the wait for it is short.
        m_errorPageTimer.start(m_limits.errorPageMs);
    }
}

void ReadyWatcher::lifecycleEvent(const QString& frameId, const QString& loaderId, const QString& name) {
    if (name != QStringLiteral("load")) {
        return;
    }
    // Enabling lifecycle events replays about:blank's, so only the load of the loader that our
    // navigation started counts for the main frame.
    if (frameId == m_mainFrame) {
        if (m_stage == Stage::Navigating) {
            m_earlyLoads.insert(loaderId);
        } else if ((m_stage == Stage::Waiting || m_stage == Stage::Grace) && loaderId == m_loaderId) {
            end(m_stage == Stage::Grace ? m_pendingEnd : WaitEnd::Loaded);
        }
        return;
    }
    if (m_stage != Stage::Navigating && m_stage != Stage::Waiting && m_stage != Stage::Grace) {
        return;
    }
    const QString document = frameId + QLatin1Char('/') + loaderId;
    if (!m_frameDocuments.contains(document)) {
        m_frameDocuments.insert(document);
        ++m_frameDocumentCount;
        emit frameDocumentComplete();
    }
}

void ReadyWatcher::frameStoppedLoading(const QString& frameId) {
    if (m_stage == Stage::Grace && frameId == m_mainFrame) {
        end(m_pendingEnd);
    }
}

void ReadyWatcher::stop() {
    if (m_stage == Stage::Waiting || m_stage == Stage::Navigating) {
        beginStop(WaitEnd::Stopped);
    } else if (m_stage == Stage::Idle) {
        m_stopWanted = true;  // acted on once the navigation has started
    }
}

void ReadyWatcher::timeLimitReached() {
    beginStop(WaitEnd::TimedOut);
}

void ReadyWatcher::finishNow() {
    if (m_stage == Stage::Waiting || m_stage == Stage::Grace) {
        end(WaitEnd::FinishedEarly);
    } else if (m_stage == Stage::Navigating) {
        beginStop(WaitEnd::FinishedEarly);
    } else if (m_stage == Stage::Idle) {
        m_finishNowWanted = true;
    }
}

void ReadyWatcher::beginStop(WaitEnd how) {
    // While Page.navigate is still out (a server that never answers), stopping the load makes the
    // navigation call return.
    if (m_stage != Stage::Waiting && m_stage != Stage::Navigating) {
        return;
    }
    m_stage = Stage::Grace;
    m_pendingEnd = how;
    emit stopWanted();
    if (m_stage == Stage::Grace) {
        m_graceTimer.start(m_limits.stopGraceMs);
    }
}

void ReadyWatcher::end(WaitEnd how) {
    if (m_stage != Stage::Waiting && m_stage != Stage::Grace && m_stage != Stage::Navigating) {
        return;
    }
    m_stage = Stage::Done;
    m_graceTimer.stop();
    m_errorPageTimer.stop();
    emit ready(how);
}

}  // namespace lumiclip
