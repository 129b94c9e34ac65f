#include "core/capture/page_capture.h"

#include "core/browser/browser.h"
#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"

#include <QJsonArray>

namespace lumiclip {

namespace {

const QString kLoad = QStringLiteral("load");

// Attach to every target the page (or a frame) starts, holding it until it is set up.
QJsonObject AutoAttachParams() {
    return {{QStringLiteral("autoAttach"), true},
            {QStringLiteral("waitForDebuggerOnStart"), true},
            {QStringLiteral("flatten"), true}};
}

}  // namespace

PageCapture::PageCapture(Browser& browser, PageCaptureOptions options, QObject* parent)
    : QObject(parent), m_browser(browser), m_options(std::move(options)) {
    // Precise: a coarse timer may fire a few per cent early, which at 30 s is a second.
    m_limitTimer.setSingleShot(true);
    m_limitTimer.setTimerType(Qt::PreciseTimer);
    m_endTimer.setSingleShot(true);
    m_endTimer.setTimerType(Qt::PreciseTimer);
    m_graceTimer.setSingleShot(true);
    connect(&m_limitTimer, &QTimer::timeout, this, &PageCapture::onLimit);
    connect(&m_endTimer, &QTimer::timeout, this, [this] {
        fail(QStringLiteral("the page could not be captured within %1 s")
                 .arg(QString::number((m_options.timeLimitMs + m_options.finalGraceMs) / 1000.0)));
    });
    connect(&m_graceTimer, &QTimer::timeout, this, [this] { endWait(m_outcome.waitEnd); });
    m_errorPageTimer.setSingleShot(true);
    connect(&m_errorPageTimer, &QTimer::timeout, this, [this] { endWait(WaitEnd::Loaded); });
}

PageCapture::~PageCapture() {
    dispose();
}

void PageCapture::start() {
    if (m_stage != Stage::Idle) {
        return;
    }
    m_clock.start();
    m_stage = Stage::Setup;
    QString error;
    if (!m_browser.ensureStarted(&error)) {
        QTimer::singleShot(0, this, [this, error] { fail(error); });
        return;
    }
    CdpConnection* connection = m_browser.connection();
    connect(connection, &CdpConnection::browserEvent, this, &PageCapture::onBrowserEvent);
    connect(connection, &CdpConnection::closed, this, [this](const QString& reason) {
        fail(QStringLiteral("the browser went away (%1)").arg(reason));
    });
    // The first call to a browser that has just been started waits for it to come up, under a deadline
    // of its own; the page's limit starts once the browser answers.
    const bool coldBrowser = !connection->hasHeardFromPeer();
    if (!coldBrowser) {
        startLimit();
    }
    browserCall(
        QStringLiteral("Target.createBrowserContext"), {{QStringLiteral("disposeOnDetach"), true}},
        [this, coldBrowser](const QJsonObject& result) {
            if (coldBrowser) {
                startLimit();
            }
            m_contextId = result.value(QStringLiteral("browserContextId")).toString();
            QJsonObject params{{QStringLiteral("url"), QStringLiteral("about:blank")},
                               {QStringLiteral("width"), m_options.viewWidth},
                               {QStringLiteral("height"), m_options.viewHeight},
                               {QStringLiteral("browserContextId"), m_contextId}};
            if (!m_browser.isHeadlessShell()) {
                params.insert(QStringLiteral("newWindow"), true);
            }
            browserCall(
                QStringLiteral("Target.createTarget"), params,
                [this](const QJsonObject& created) {
                    onTargetCreated(created.value(QStringLiteral("targetId")).toString());
                },
                remainingMs());
        },
        coldBrowser ? Browser::kStartTimeoutMs : remainingMs());
}

void PageCapture::startLimit() {
    m_limitClock.start();
    m_limitTimer.start(m_options.timeLimitMs);
    m_endTimer.start(m_options.timeLimitMs + m_options.finalGraceMs);
}

void PageCapture::onLimit() {
    if (m_stage == Stage::Setup) {
        fail(QStringLiteral("the browser did not prepare the page within %1 s")
                 .arg(QString::number(m_options.timeLimitMs / 1000.0)));
        return;
    }
    beginStop(WaitEnd::TimedOut);
}

int PageCapture::remainingMs() const {
    constexpr int kMarginMs = 500;
    if (!m_limitClock.isValid()) {
        return Browser::kStartTimeoutMs;
    }
    const qint64 left = m_options.timeLimitMs + m_options.finalGraceMs - m_limitClock.elapsed();
    return static_cast<int>(std::max<qint64>(left, 0)) + kMarginMs;
}

void PageCapture::browserCall(const QString& method, const QJsonObject& params,
                              std::function<void(const QJsonObject&)> onResult, int timeoutMs) {
    CdpConnection* connection = m_browser.connection();
    if (!connection) {
        QTimer::singleShot(0, this,
                           [this, method] { fail(method + QStringLiteral(": the browser is not running")); });
        return;
    }
    connection->call(method, params, {}, timeoutMs, this, guardedReply(std::move(onResult)));
}

CdpReplyHandler PageCapture::guardedReply(std::function<void(const QJsonObject&)> onResult) {
    return [this, onResult = std::move(onResult)](const CdpReply& reply) {
        if (m_finished) {
            return;
        }
        if (!reply.ok) {
            fail(reply.error);
            return;
        }
        if (onResult) {
            onResult(reply.result);
        }
    };
}

void PageCapture::call(const QString& method, const QJsonObject& params,
                       std::function<void(const QJsonObject&)> onResult, int timeoutMs) {
    if (!m_session) {
        QTimer::singleShot(0, this, [this, method] { fail(method + QStringLiteral(": the page is gone")); });
        return;
    }
    m_session->call(method, params, this, guardedReply(std::move(onResult)),
                    timeoutMs < 0 ? remainingMs() : timeoutMs);
}

void PageCapture::sideCall(CdpSession* session, const QString& method, const QJsonObject& params) {
    if (session) {
        session->call(
            method, params, this, [](const CdpReply&) {}, remainingMs());
    }
}

bool PageCapture::answerDialog(CdpSession* session, const QString& method, const QJsonObject& params) {
    if (method != QStringLiteral("Page.javascriptDialogOpening")) {
        return false;
    }
    // An open dialog holds the renderer until it is answered: no load, no script end, no screenshot.
    // An alert has one answer; leaving a page always goes ahead; what a page asks is declined.
    const QString type = params.value(QStringLiteral("type")).toString();
    const bool accept = type == QStringLiteral("alert") || type == QStringLiteral("beforeunload");
    sideCall(session, QStringLiteral("Page.handleJavaScriptDialog"), {{QStringLiteral("accept"), accept}});
    return true;
}

void PageCapture::onTargetCreated(const QString& targetId) {
    m_targetId = targetId;
    browserCall(
        QStringLiteral("Target.attachToTarget"),
        {{QStringLiteral("targetId"), targetId}, {QStringLiteral("flatten"), true}},
        [this](const QJsonObject& result) {
            onAttached(result.value(QStringLiteral("sessionId")).toString());
        },
        remainingMs());
}

void PageCapture::onAttached(const QString& sessionId) {
    m_session = new CdpSession(m_browser.connection(), sessionId, this);
    connect(m_session, &CdpSession::eventReceived, this, &PageCapture::onEvent);
    prepare();
}

void PageCapture::prepare() {
    // Sent together, awaited together: one round trip instead of seven.
    const QJsonObject white{{QStringLiteral("r"), 255},
                            {QStringLiteral("g"), 255},
                            {QStringLiteral("b"), 255},
                            {QStringLiteral("a"), 1}};
    const QList<QPair<QString, QJsonObject>> steps{
        {QStringLiteral("Page.enable"), {}},
        {QStringLiteral("Page.setLifecycleEventsEnabled"), {{QStringLiteral("enabled"), true}}},
        {QStringLiteral("Network.enable"), {}},
        {QStringLiteral("Network.setCacheDisabled"), {{QStringLiteral("cacheDisabled"), true}}},
        // The view has no scroll bars and no border: the page is laid out in the whole view.
        {QStringLiteral("Emulation.setScrollbarsHidden"), {{QStringLiteral("hidden"), true}}},
        {QStringLiteral("Emulation.setDefaultBackgroundColorOverride"), {{QStringLiteral("color"), white}}},
        // Frames the browser renders in processes of their own (cross-site frames, when sites are
        // isolated) are targets of their own; they report their loads only to a session on them.
        {QStringLiteral("Target.setAutoAttach"), AutoAttachParams()},
        {QStringLiteral("Emulation.setDeviceMetricsOverride"),
         {{QStringLiteral("width"), m_options.viewWidth},
          {QStringLiteral("height"), m_options.viewHeight},
          {QStringLiteral("deviceScaleFactor"), 1},
          {QStringLiteral("mobile"), false}}},
    };
    auto remaining = std::make_shared<int>(static_cast<int>(steps.size()));
    for (const auto& [method, params] : steps) {
        call(method, params, [this, remaining](const QJsonObject&) {
            if (--*remaining == 0) {
                navigate();
            }
        });
    }
}

void PageCapture::navigate() {
    m_stage = Stage::Navigating;
    call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), m_options.url}},
         [this](const QJsonObject& result) { onNavigated(result); });
    // A stop or quit that came during the set-up must not wait for a navigation that may never answer.
    if (m_stopWanted) {
        beginStop(WaitEnd::Stopped);
    } else if (m_finishNowWanted) {
        // Stop the navigation first: a document being replaced cannot be snapshotted.
        beginStop(WaitEnd::FinishedEarly);
    }
}

void PageCapture::onNavigated(const QJsonObject& result) {
    m_loaderId = result.value(QStringLiteral("loaderId")).toString();
    m_outcome.navigationError = result.value(QStringLiteral("errorText")).toString();
    m_outcome.httpStatus = m_statusByLoader.value(m_loaderId);
    if (m_stage == Stage::Grace) {
        // Stopped (or at the limit) while the navigation call was out: an aborted navigation has
        // nothing more to load, else the grace runs on.
        if (!m_outcome.navigationError.isEmpty()) {
            endWait(m_outcome.waitEnd);
        }
        return;
    }
    if (m_stage != Stage::Navigating) {
        return;  // finished while the navigation call was out
    }
    m_stage = Stage::Waiting;
    if (m_earlyLoads.contains(m_loaderId)) {
        endWait(WaitEnd::Loaded);
        return;
    }
    if (!m_outcome.navigationError.isEmpty()) {
        // A failed navigation goes on to the browser's error page, under the same loader; its load ends
        // the wait. The page is not there yet (a screenshot now finds no active page), and some
        // failures show none, so the wait for it is short.
        m_errorPageTimer.start(kErrorPageWaitMs);
    }
    if (m_stopWanted) {
        beginStop(WaitEnd::Stopped);
    } else if (m_finishNowWanted) {
        endWait(WaitEnd::FinishedEarly);
    }
}

void PageCapture::onEvent(const QString& method, const QJsonObject& params) {
    if (m_finished) {
        return;
    }
    if (onFrameTreeEvent(m_session, method, params)) {
        return;
    }
    if (method == QStringLiteral("Network.responseReceived")) {
        if (params.value(QStringLiteral("type")).toString() == QStringLiteral("Document") &&
            params.value(QStringLiteral("frameId")).toString() == m_targetId) {
            const QString loader = params.value(QStringLiteral("loaderId")).toString();
            const int status =
                params.value(QStringLiteral("response")).toObject().value(QStringLiteral("status")).toInt();
            m_statusByLoader.insert(loader, status);
            if (loader == m_loaderId) {
                m_outcome.httpStatus = status;
            }
        }
    } else if (method == QStringLiteral("Inspector.targetCrashed")) {
        fail(QStringLiteral("the page crashed while loading"));
    } else if (method == QStringLiteral("Page.frameStoppedLoading")) {
        if (m_stage == Stage::Grace && params.value(QStringLiteral("frameId")).toString() == m_targetId) {
            endWait(m_outcome.waitEnd);
        }
    }
}

bool PageCapture::onFrameTreeEvent(CdpSession* session, const QString& method, const QJsonObject& params) {
    if (answerDialog(session, method, params)) {
        return true;
    }
    if (method == QStringLiteral("Target.attachedToTarget")) {
        onChildAttached(params);
    } else if (method == QStringLiteral("Target.detachedFromTarget")) {
        onChildDetached(params.value(QStringLiteral("sessionId")).toString());
    } else if (method == QStringLiteral("Page.lifecycleEvent")) {
        if (params.value(QStringLiteral("name")).toString() == kLoad) {
            onLifecycle(params.value(QStringLiteral("frameId")).toString(),
                        params.value(QStringLiteral("loaderId")).toString());
        }
    } else {
        return false;
    }
    return true;
}

void PageCapture::onChildAttached(const QJsonObject& params) {
    CdpConnection* connection = m_browser.connection();
    const QString sessionId = params.value(QStringLiteral("sessionId")).toString();
    if (!connection || sessionId.isEmpty() || m_childSessions.contains(sessionId)) {
        return;
    }
    auto* child = new CdpSession(connection, sessionId, this);
    m_childSessions.insert(sessionId, child);
    const bool isFrame =
        params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("type")).toString() ==
        QStringLiteral("iframe");
    // The child waits for us before it runs; whatever it is, it is let go, and a failing call here
    // (a frame already gone) is no failure of the capture.
    const auto ignore = [](const CdpReply&) {};
    if (isFrame) {
        // Its loads count like any frame's; a frame of another site inside it attaches in turn.
        connect(child, &CdpSession::eventReceived, this,
                [this, child](const QString& childMethod, const QJsonObject& childParams) {
                    if (!m_finished) {
                        onFrameTreeEvent(child, childMethod, childParams);
                    }
                });
        child->call(QStringLiteral("Page.enable"), {}, this, ignore);
        child->call(QStringLiteral("Page.setLifecycleEventsEnabled"), {{QStringLiteral("enabled"), true}},
                    this, ignore);
        child->call(QStringLiteral("Target.setAutoAttach"), AutoAttachParams(), this, ignore);
    }
    child->call(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, this, ignore);
}

void PageCapture::onChildDetached(const QString& sessionId) {
    if (CdpSession* child = m_childSessions.take(sessionId)) {
        child->deleteLater();  // this may run inside a child's own event delivery
    }
}

void PageCapture::onLifecycle(const QString& frameId, const QString& loaderId) {
    // The main frame's id is its target's id. Enabling lifecycle events replays about:blank's, so only
    // the load of the loader that our navigation started counts.
    if (frameId == m_targetId) {
        if (m_stage == Stage::Navigating) {
            m_earlyLoads.insert(loaderId);
        } else if ((m_stage == Stage::Waiting || m_stage == Stage::Grace) && loaderId == m_loaderId) {
            endWait(m_stage == Stage::Grace ? m_outcome.waitEnd : WaitEnd::Loaded);
        }
        return;
    }
    if (m_stage != Stage::Navigating && m_stage != Stage::Waiting && m_stage != Stage::Grace) {
        return;
    }
    if (!m_frameDocuments.contains(frameId + QLatin1Char('/') + loaderId)) {
        m_frameDocuments.insert(frameId + QLatin1Char('/') + loaderId);
        ++m_outcome.frameDocuments;
        emit frameDocumentComplete();
    }
}

void PageCapture::onBrowserEvent(const QString& method, const QJsonObject& params) {
    if (m_finished) {
        return;
    }
    if (method == QStringLiteral("Target.targetCrashed") &&
        params.value(QStringLiteral("targetId")).toString() == m_targetId) {
        fail(QStringLiteral("the page crashed while loading"));
    } else if (method == QStringLiteral("Target.detachedFromTarget") && m_session &&
               params.value(QStringLiteral("sessionId")).toString() == m_session->id()) {
        fail(QStringLiteral("the page was closed while loading"));
    }
}

void PageCapture::stop() {
    if (m_finished) {
        return;
    }
    if (m_stage == Stage::Waiting || m_stage == Stage::Navigating) {
        beginStop(WaitEnd::Stopped);
    } else if (m_stage == Stage::Setup) {
        m_stopWanted = true;  // acted on once the navigation has started
    }
}

void PageCapture::finishNow() {
    if (m_finished) {
        return;
    }
    if (m_stage == Stage::Waiting || m_stage == Stage::Grace) {
        endWait(WaitEnd::FinishedEarly);
    } else if (m_stage == Stage::Navigating) {
        beginStop(WaitEnd::FinishedEarly);
    } else if (m_stage == Stage::Setup) {
        m_finishNowWanted = true;
    }
}

void PageCapture::beginStop(WaitEnd how) {
    // While Page.navigate is still out (a server that never answers), stopping the load makes the
    // navigation call return.
    if (m_stage != Stage::Waiting && m_stage != Stage::Navigating) {
        return;
    }
    m_stage = Stage::Grace;
    m_outcome.waitEnd = how;
    m_limitTimer.stop();
    // An endless script keeps the renderer from doing anything else, screenshots included. Neither
    // answer matters: the grace runs on, and the final deadline bounds what follows.
    sideCall(m_session, QStringLiteral("Runtime.terminateExecution"));
    sideCall(m_session, QStringLiteral("Page.stopLoading"));
    m_graceTimer.start(m_options.stopGraceMs);
}

void PageCapture::endWait(WaitEnd how) {
    if (m_stage != Stage::Waiting && m_stage != Stage::Grace && m_stage != Stage::Navigating) {
        return;
    }
    m_stage = Stage::Snapshot;
    m_limitTimer.stop();
    m_graceTimer.stop();
    m_errorPageTimer.stop();
    m_outcome.waitEnd = how;
    emit waitEnded(how);
    if (!m_finished) {
        snapshot();
    }
}

void PageCapture::snapshot() {
    // The body check and the screenshot need the renderer's main thread, which a script that runs on
    // (endless, or started after the load) keeps to itself. Ending scripts costs nothing when none runs.
    sideCall(m_session, QStringLiteral("Runtime.terminateExecution"));
    m_snapshotParts = 2;
    auto partDone = [this] {
        if (--m_snapshotParts == 0) {
            m_outcome.ok = true;
            finish();
        }
    };
    call(QStringLiteral("Runtime.evaluate"),
         {{QStringLiteral("expression"), QStringLiteral("document.body !== null")},
          {QStringLiteral("returnByValue"), true}},
         [this, partDone](const QJsonObject& result) {
             m_outcome.snapshot.hasBody =
                 result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toBool();
             partDone();
         });
    call(QStringLiteral("Page.captureScreenshot"),
         {{QStringLiteral("format"), QStringLiteral("png")},
          {QStringLiteral("fromSurface"), true},
          {QStringLiteral("captureBeyondViewport"), false},
          {QStringLiteral("optimizeForSpeed"), true}},
         [this, partDone](const QJsonObject& result) {
             m_outcome.snapshot.png =
                 QByteArray::fromBase64(result.value(QStringLiteral("data")).toString().toLatin1());
             partDone();
         });
}

void PageCapture::fail(const QString& error) {
    if (m_finished) {
        return;
    }
    m_outcome.ok = false;
    m_outcome.error = error;
    finish();
}

void PageCapture::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_stage = Stage::Done;
    m_limitTimer.stop();
    m_endTimer.stop();
    m_graceTimer.stop();
    m_errorPageTimer.stop();
    m_outcome.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    dispose();
    emit finished();
}

void PageCapture::dispose() {
    for (CdpSession* child : std::as_const(m_childSessions)) {
        child->deleteLater();
    }
    m_childSessions.clear();
    if (m_session) {
        // Later: this may run inside the session's own event delivery.
        m_session->deleteLater();
        m_session = nullptr;
    }
    if (m_contextId.isEmpty()) {
        return;
    }
    const QString contextId = std::exchange(m_contextId, QString());
    CdpConnection* connection = m_browser.connection();
    if (connection && connection->isOpen()) {
        // Closes the target too. The browser object is the context: this outlives the capture.
        connection->call(QStringLiteral("Target.disposeBrowserContext"),
                         {{QStringLiteral("browserContextId"), contextId}}, {}, 10000, &m_browser,
                         [](const CdpReply&) {});
    }
}

}  // namespace lumiclip
