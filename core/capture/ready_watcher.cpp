#include "core/capture/ready_watcher.h"

namespace lumiclip {

namespace {

// How often an element that is not there yet is looked for again.
constexpr int kProbeIntervalMs = 100;

// m_inFlight while the page's navigation is scheduled and has not started.
const QString kScheduled = QStringLiteral("scheduled");

// A refresh or scheduled navigation due within this is followed; a later one (a news page that reloads
// itself every five minutes) is not waited for.
constexpr double kFollowedScheduleSeconds = 5;

// Whether a navigation of this type loads another document.
bool LoadsDocument(const QString& navigationType) {
    return navigationType != QStringLiteral("sameDocument") &&
           navigationType != QStringLiteral("historySameDocument");
}

}  // namespace

ReadyWatcher::ReadyWatcher(const CaptureRequest& options, QObject* parent)
    : QObject(parent),
      m_limits(options.limits),
      m_condition(WaitConditionLifecycleEvent(options.wait.condition)),
      m_waitFor(options.wait.selector),
      m_expression(options.wait.expression),
      m_delayMs(options.wait.delayMs),
      m_captureAtLimit(options.wait.captureAtLimit) {
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
        } else if (m_stage == Stage::Expression) {
            emit expressionWanted();
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
    // What the page started itself before this answer came: a loader after ours is its own navigation.
    const qsizetype ours = m_startedEarly.indexOf(loaderId);
    if (ours >= 0 && ours + 1 < m_startedEarly.size()) {
        const QString later = m_startedEarly.last();
        if (m_committedEarly.contains(later)) {
            m_loaderId = later;
            m_navigationFailed = false;
        } else {
            m_inFlight = later;
        }
    }
    m_startedEarly.clear();
    m_committedEarly.clear();
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
    if (m_conditionLoaders.contains(m_loaderId)) {
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
    // navigation started (or a document the page loaded after it) count for the main frame.
    if (frameId == m_mainFrame) {
        const bool condition = name == m_condition;
        if (condition || (load && m_navigationFailed)) {
            m_conditionLoaders.insert(loaderId);
        }
        if (m_stage == Stage::Navigating || loaderId != m_loaderId) {
            return;
        }
        if (m_stage == Stage::Grace && (load || condition)) {
            end(m_pendingEnd);
        } else if (m_stage == Stage::Waiting && (condition || (load && m_navigationFailed))) {
            conditionReached();
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
    if (frameId != m_mainFrame) {
        return;
    }
    if (m_stage == Stage::Grace) {
        end(m_pendingEnd);
    }
}

void ReadyWatcher::frameStartedNavigating(const QString& frameId, const QString& loaderId,
                                          const QString& navigationType) {
    if (frameId != m_mainFrame || !LoadsDocument(navigationType) || m_stage == Stage::Idle) {
        return;
    }
    if (m_stage == Stage::Navigating) {
        m_startedEarly.append(loaderId);
        return;
    }
    if (loaderId == m_loaderId) {
        return;
    }
    setInFlight(loaderId);
}

void ReadyWatcher::frameNavigated(const QString& frameId, const QString& loaderId) {
    if (frameId != m_mainFrame || m_stage == Stage::Idle) {
        return;
    }
    if (m_stage == Stage::Navigating) {
        m_committedEarly.insert(loaderId);
        return;
    }
    if (loaderId != m_loaderId) {
        adoptDocument(loaderId);
    }
}

void ReadyWatcher::navigationScheduled(const QString& frameId, double delaySeconds) {
    if (frameId != m_mainFrame || m_stage == Stage::Idle || m_stage == Stage::Navigating ||
        delaySeconds > kFollowedScheduleSeconds || !m_inFlight.isEmpty()) {
        return;
    }
    setInFlight(kScheduled);
}

void ReadyWatcher::setInFlight(const QString& navigation) {
    m_inFlight = navigation;
    // The element, the expression or the delay was of a document on its way out: wait for the next one.
    if (m_stage == Stage::Element || m_stage == Stage::Expression || m_stage == Stage::Delay) {
        m_probeTimer.stop();
        m_delayTimer.stop();
        m_stage = Stage::Waiting;
        m_conditionMet = true;
    }
}

void ReadyWatcher::scheduledNavigationCleared(const QString& frameId) {
    // Cleared as it starts (its loader is in flight by then) or cancelled.
    if (frameId == m_mainFrame && m_inFlight == kScheduled) {
        inFlightEnded();
    }
}

void ReadyWatcher::adoptDocument(const QString& loaderId) {
    m_loaderId = loaderId;
    m_navigationFailed = false;
    m_inFlight.clear();
    m_conditionMet = false;
    m_errorPageTimer.stop();
    m_probeTimer.stop();
    m_delayTimer.stop();
    if (m_stage == Stage::Done) {
        m_replaced = true;
        return;
    }
    if (m_stage == Stage::Grace) {
        return;  // the grace ends on this document's load or stop
    }
    m_stage = Stage::Waiting;
    if (m_conditionLoaders.contains(loaderId)) {
        conditionReached();
    }
}

void ReadyWatcher::inFlightEnded() {
    m_inFlight.clear();
    if (m_stage == Stage::Waiting && m_conditionMet) {
        m_conditionMet = false;
        conditionReached();
    }
}

void ReadyWatcher::waitAgain() {
    if (m_stage != Stage::Done) {
        return;
    }
    m_replaced = false;
    m_conditionMet = false;
    m_stage = Stage::Waiting;
    if (m_inFlight.isEmpty() && m_conditionLoaders.contains(m_loaderId)) {
        conditionReached();
    } else if (!m_inFlight.isEmpty()) {
        m_conditionMet = m_conditionLoaders.contains(m_loaderId);
    }
}

void ReadyWatcher::conditionReached() {
    if (m_stage != Stage::Waiting) {
        return;
    }
    m_errorPageTimer.stop();
    if (!m_inFlight.isEmpty()) {
        m_conditionMet = true;  // the page is on its way to another document
        return;
    }
    if (m_waitFor.isEmpty()) {
        afterElement();
        return;
    }
    m_stage = Stage::Element;
    emit probeWanted();
}

void ReadyWatcher::elementProbed(ElementState state, const QString& error) {
    if (m_stage != Stage::Element) {
        return;
    }
    m_element = state;
    if (!error.isEmpty()) {
        fail(ErrorKind::Selector, error);
    } else if (state == ElementState::Visible) {
        afterElement();
    } else {
        m_probeTimer.start(kProbeIntervalMs);
    }
}

void ReadyWatcher::afterElement() {
    if (!m_expression.isEmpty()) {
        m_stage = Stage::Expression;
        emit expressionWanted();
        return;
    }
    afterExpression();
}

void ReadyWatcher::expressionProbed(bool truthy, const QString& error) {
    if (m_stage != Stage::Expression) {
        return;
    }
    if (!error.isEmpty()) {
        fail(ErrorKind::Script, error);
    } else if (truthy) {
        afterExpression();
    } else {
        // Each probe watches the page for a while itself; the next one follows at once.
        m_probeTimer.start(0);
    }
}

void ReadyWatcher::afterExpression() {
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
    } else if (m_stage == Stage::Element || m_stage == Stage::Expression || m_stage == Stage::Delay) {
        end(WaitEnd::Stopped);  // the page has loaded: there is nothing to stop
    } else if (m_stage == Stage::Idle) {
        m_stopWanted = true;  // acted on once the navigation has started
    }
}

void ReadyWatcher::timeLimitReached() {
    const bool awaiting = m_stage == Stage::Element || m_stage == Stage::Expression;
    if (awaiting && m_captureAtLimit) {
        end(WaitEnd::TimedOut);  // the page as it is now
    } else if (m_stage == Stage::Expression) {
        fail(ErrorKind::Timeout, QStringLiteral("--wait-for-js: %1 was not true within %2 s")
                                     .arg(m_expression, QString::number(m_limits.pageMs / 1000.0)));
    } else if (m_stage == Stage::Element) {
        // An element that is there but shows nothing is a different fault from one never made.
        const QString seconds = QString::number(m_limits.pageMs / 1000.0);
        fail(ErrorKind::Timeout,
             m_element == ElementState::NotVisible
                 ? QStringLiteral(
                       "%1 is on the page but was not visible (hidden, or an empty box) within %2 s")
                       .arg(m_waitFor, seconds)
                 : QStringLiteral("%1 did not appear within %2 s").arg(m_waitFor, seconds));
    } else if (m_stage == Stage::Delay) {
        end(WaitEnd::Loaded);
    } else {
        beginStop(WaitEnd::TimedOut);
    }
}

void ReadyWatcher::finishNow() {
    if (m_stage == Stage::Waiting || m_stage == Stage::Grace || m_stage == Stage::Element ||
        m_stage == Stage::Expression || m_stage == Stage::Delay) {
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

void ReadyWatcher::fail(ErrorKind kind, const QString& reason) {
    if (m_stage == Stage::Idle || m_stage == Stage::Done) {
        return;
    }
    m_stage = Stage::Done;
    for (QTimer* timer : {&m_graceTimer, &m_errorPageTimer, &m_probeTimer, &m_delayTimer}) {
        timer->stop();
    }
    emit failed(CaptureError{kind, reason});
}

}  // namespace lumiclip
