#include "core/capture/ready_watcher.h"

namespace lumiclip {

namespace {

// How often an element that is not there yet is looked for again.
constexpr int kProbeIntervalMs = 100;

QString LifecycleName(WaitCondition condition) {
    switch (condition) {
        case WaitCondition::DomContentLoaded:
            return QStringLiteral("DOMContentLoaded");
        case WaitCondition::NetworkIdle:
            return QStringLiteral("networkIdle");
        case WaitCondition::Load:
            break;
    }
    return QStringLiteral("load");
}

}  // namespace

ReadyWatcher::ReadyWatcher(const CaptureOptions& options, QObject* parent)
    : QObject(parent),
      m_limits(options.limits),
      m_condition(LifecycleName(options.wait)),
      m_waitFor(options.waitFor),
      m_delayMs(options.delayMs) {
    // Precise, like the limit: a coarse timer may fire a few per cent early.
    for (QTimer* timer : {&m_graceTimer, &m_errorPageTimer, &m_probeTimer, &m_delayTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_graceTimer, &QTimer::timeout, this, [this] { end(m_pendingEnd); });
    connect(&m_errorPageTimer, &QTimer::timeout, this, [this] { conditionReached(); });
    connect(&m_probeTimer, &QTimer::timeout, this, [this] {
        if (m_stage == Stage::Element) {
            emit probeWanted();
        }
    });
    connect(&m_delayTimer, &QTimer::timeout, this, [this] { end(WaitEnd::Loaded); });
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
    if (m_earlyConditions.contains(loaderId)) {
        conditionReached();
        return;
    }
    if (m_navigationFailed) {
        // A failed navigation goes on to the browser's error page, under the same loader; its load ends
        // the wait. Some failures show none, so the wait for it is short.
        m_errorPageTimer.start(m_limits.errorPageMs);
    }
}

void ReadyWatcher::lifecycleEvent(const QString& frameId, const QString& loaderId, const QString& name) {
    const bool load = name == QStringLiteral("load");
    // Enabling lifecycle events replays about:blank's, so only the events of the loader that our
    // navigation started count for the main frame.
    if (frameId == m_mainFrame) {
        const bool condition = name == m_condition;
        if (m_stage == Stage::Navigating) {
            if (condition) {
                m_earlyConditions.insert(loaderId);
            }
        } else if (loaderId == m_loaderId) {
            if (m_stage == Stage::Grace && (load || condition)) {
                end(m_pendingEnd);
            } else if (m_stage == Stage::Waiting && (condition || (load && m_navigationFailed))) {
                conditionReached();
            }
        }
        return;
    }
    if (!load || (m_stage != Stage::Navigating && m_stage != Stage::Waiting && m_stage != Stage::Grace)) {
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

void ReadyWatcher::conditionReached() {
    if (m_stage != Stage::Waiting) {
        return;
    }
    m_errorPageTimer.stop();
    if (m_waitFor.isEmpty()) {
        afterElement();
        return;
    }
    m_stage = Stage::Element;
    emit probeWanted();
}

void ReadyWatcher::elementProbed(bool visible, const QString& error) {
    if (m_stage != Stage::Element) {
        return;
    }
    if (!error.isEmpty()) {
        fail(error);
    } else if (visible) {
        afterElement();
    } else {
        m_probeTimer.start(kProbeIntervalMs);
    }
}

void ReadyWatcher::afterElement() {
    if (m_delayMs > 0) {
        m_stage = Stage::Delay;
        m_delayTimer.start(m_delayMs);
        return;
    }
    end(WaitEnd::Loaded);
}

void ReadyWatcher::stop() {
    if (m_stage == Stage::Waiting || m_stage == Stage::Navigating) {
        beginStop(WaitEnd::Stopped);
    } else if (m_stage == Stage::Element || m_stage == Stage::Delay) {
        end(WaitEnd::Stopped);  // the page has loaded: there is nothing to stop
    } else if (m_stage == Stage::Idle) {
        m_stopWanted = true;  // acted on once the navigation has started
    }
}

void ReadyWatcher::timeLimitReached() {
    if (m_stage == Stage::Element) {
        fail(QStringLiteral("%1 did not appear within %2 s")
                 .arg(m_waitFor, QString::number(m_limits.pageMs / 1000.0)));
    } else if (m_stage == Stage::Delay) {
        end(WaitEnd::Loaded);
    } else {
        beginStop(WaitEnd::TimedOut);
    }
}

void ReadyWatcher::finishNow() {
    if (m_stage == Stage::Waiting || m_stage == Stage::Grace || m_stage == Stage::Element ||
        m_stage == Stage::Delay) {
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
    if (m_stage == Stage::Idle || m_stage == Stage::Done) {
        return;
    }
    m_stage = Stage::Done;
    for (QTimer* timer : {&m_graceTimer, &m_errorPageTimer, &m_probeTimer, &m_delayTimer}) {
        timer->stop();
    }
    emit ready(how);
}

void ReadyWatcher::fail(const QString& reason) {
    if (m_stage == Stage::Idle || m_stage == Stage::Done) {
        return;
    }
    m_stage = Stage::Done;
    for (QTimer* timer : {&m_graceTimer, &m_errorPageTimer, &m_probeTimer, &m_delayTimer}) {
        timer->stop();
    }
    emit failed(reason);
}

}  // namespace lumiclip
