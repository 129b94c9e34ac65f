#include "core/capture/page_target.h"

#include "core/browser/browser.h"
#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"

#include "core/capture/capture_request.h"

#include <QJsonArray>
#include <QTimer>

#include <memory>

namespace lumiclip {

namespace {

// Attach to every target the page (or a frame) starts, holding it until it is set up.
QJsonObject AutoAttachParams() {
    return {{QStringLiteral("autoAttach"), true},
            {QStringLiteral("waitForDebuggerOnStart"), true},
            {QStringLiteral("flatten"), true}};
}

}  // namespace

PageTarget::PageTarget(Browser& browser, std::function<int()> deadline, QObject* parent)
    : QObject(parent), m_browser(browser), m_deadline(std::move(deadline)) {}

PageTarget::~PageTarget() {
    dispose(10000);
}

void PageTarget::open(const CaptureRequest& options, int firstCallMs) {
    CdpConnection* connection = m_browser.connection();
    if (!connection) {
        QTimer::singleShot(0, this, [this] {
            fail(ErrorKind::BrowserUnavailable, QStringLiteral("the browser is not running"));
        });
        return;
    }
    connect(connection, &CdpConnection::browserEvent, this, &PageTarget::onBrowserEvent);
    connect(connection, &CdpConnection::closed, this, [this](const QString& reason) {
        fail(ErrorKind::BrowserLost, QStringLiteral("the browser went away (%1)").arg(reason));
    });
    QJsonObject context{{QStringLiteral("disposeOnDetach"), true}};
    if (!options.page.proxy.isEmpty()) {
        context.insert(QStringLiteral("proxyServer"), options.page.proxy);
    }
    browserCall(
        QStringLiteral("Target.createBrowserContext"), context,
        [this, options](const QJsonObject& result) {
            m_answered = true;
            emit browserAnswered();
            // Identifiers go back to the browser in later calls: an absurd one is refused, not echoed.
            QString refused;
            m_contextId = CdpConnection::IdFrom(result, QStringLiteral("browserContextId"),
                                                QStringLiteral("Target.createBrowserContext"), &refused);
            if (!refused.isEmpty()) {
                fail(ErrorKind::BrowserError, refused);
                return;
            }
            QJsonObject params{{QStringLiteral("url"), QStringLiteral("about:blank")},
                               {QStringLiteral("width"), options.page.viewWidth},
                               {QStringLiteral("height"), options.page.viewHeight},
                               {QStringLiteral("browserContextId"), m_contextId}};
            if (!m_browser.isHeadlessShell()) {
                params.insert(QStringLiteral("newWindow"), true);
            }
            browserCall(
                QStringLiteral("Target.createTarget"), params,
                [this, options](const QJsonObject& created) {
                    QString targetRefused;
                    m_targetId = CdpConnection::IdFrom(created, QStringLiteral("targetId"),
                                                       QStringLiteral("Target.createTarget"), &targetRefused);
                    if (!targetRefused.isEmpty()) {
                        fail(ErrorKind::BrowserError, targetRefused);
                        return;
                    }
                    browserCall(
                        QStringLiteral("Target.attachToTarget"),
                        {{QStringLiteral("targetId"), m_targetId}, {QStringLiteral("flatten"), true}},
                        [this, options](const QJsonObject& attached) {
                            QString sessionRefused;
                            const QString sessionId = CdpConnection::IdFrom(
                                attached, QStringLiteral("sessionId"),
                                QStringLiteral("Target.attachToTarget"), &sessionRefused);
                            if (!sessionRefused.isEmpty()) {
                                fail(ErrorKind::BrowserError, sessionRefused);
                                return;
                            }
                            onAttached(sessionId);
                            if (options.page.locale.isEmpty() || !options.page.userAgent.isEmpty()) {
                                prepare(options);
                                return;
                            }
                            // Languages are set with an agent: the browser's own, asked for once.
                            browserCall(
                                QStringLiteral("Browser.getVersion"), {},
                                [this, options](const QJsonObject& version) {
                                    m_browserAgent = version.value(QStringLiteral("userAgent")).toString();
                                    prepare(options);
                                },
                                m_deadline());
                        },
                        m_deadline());
                },
                m_deadline());
        },
        firstCallMs);
}

void PageTarget::browserCall(const QString& method, const QJsonObject& params,
                             std::function<void(const QJsonObject&)> onResult, int timeoutMs) {
    CdpConnection* connection = m_browser.connection();
    if (!connection) {
        QTimer::singleShot(0, this, [this, method] {
            fail(ErrorKind::BrowserUnavailable, method + QStringLiteral(": the browser is not running"));
        });
        return;
    }
    connection->call(method, params, {}, timeoutMs, this,
                     [this, onResult = std::move(onResult)](const CdpReply& reply) {
                         if (m_failed) {
                             return;
                         }
                         if (!reply.ok) {
                             fail(reply);
                             return;
                         }
                         onResult(reply.result);
                     });
}

void PageTarget::onAttached(const QString& sessionId) {
    m_session = new CdpSession(m_browser.connection(), sessionId, this);
    CdpSession* session = m_session;
    connect(m_session, &CdpSession::eventReceived, this,
            [this, session](const QString& method, const QJsonObject& params) {
                onSessionEvent(session, method, params);
            });
}

void PageTarget::prepare(const CaptureRequest& options) {
    // Sent together, awaited together: one round trip instead of eight.
    const QJsonObject white{{QStringLiteral("r"), 255},
                            {QStringLiteral("g"), 255},
                            {QStringLiteral("b"), 255},
                            {QStringLiteral("a"), 1}};
    QList<QPair<QString, QJsonObject>> steps{
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
         {{QStringLiteral("width"), options.page.viewWidth},
          {QStringLiteral("height"), options.page.viewHeight},
          {QStringLiteral("deviceScaleFactor"), options.page.scaleFactor},
          {QStringLiteral("mobile"), options.page.mobile}}},
    };
    if (options.page.touch) {
        // Touch events, and with them a coarse pointer that cannot hover.
        steps.append({QStringLiteral("Emulation.setTouchEmulationEnabled"),
                      {{QStringLiteral("enabled"), true}, {QStringLiteral("maxTouchPoints"), 5}}});
    }
    if (!options.page.locale.isEmpty()) {
        steps.append({QStringLiteral("Emulation.setLocaleOverride"),
                      {{QStringLiteral("locale"), options.page.locale}}});
    }
    if (!options.page.timezone.isEmpty()) {
        steps.append({QStringLiteral("Emulation.setTimezoneOverride"),
                      {{QStringLiteral("timezoneId"), options.page.timezone}}});
    }
    if (!options.page.auth.isEmpty() || options.page.addresses.guarded) {
        // Requests are held until the capture lets them go, so that a challenge can be answered, by the
        // capture, which knows whose host it is, and so that no request leaves before its address is
        // checked: redirects are held again, as new requests.
        m_holdRequests = {
            {QStringLiteral("handleAuthRequests"), !options.page.auth.isEmpty()},
            {QStringLiteral("patterns"),
             QJsonArray{QJsonObject{{QStringLiteral("urlPattern"), QStringLiteral("*")},
                                    {QStringLiteral("requestStage"), QStringLiteral("Request")}}}}};
        steps.append({QStringLiteral("Fetch.enable"), m_holdRequests});
        m_holdChildRequests = options.page.addresses.guarded;
    }
    if (options.page.ignoreHttpsErrors) {
        steps.append(
            {QStringLiteral("Security.setIgnoreCertificateErrors"), {{QStringLiteral("ignore"), true}}});
    }
    if (!options.page.block.isEmpty()) {
        steps.append({QStringLiteral("Network.setBlockedURLs"),
                      {{QStringLiteral("urls"), QJsonArray::fromStringList(options.page.block)}}});
    }
    if (!options.page.userAgent.isEmpty() || !options.page.locale.isEmpty()) {
        // The page's languages come with the agent; the browser's own agent stands when none is given.
        QJsonObject agent{{QStringLiteral("userAgent"),
                           options.page.userAgent.isEmpty() ? m_browserAgent : options.page.userAgent}};
        if (!options.page.locale.isEmpty()) {
            agent.insert(QStringLiteral("acceptLanguage"), options.page.locale);
        }
        steps.append({QStringLiteral("Emulation.setUserAgentOverride"), agent});
    }
    if (!options.page.headers.isEmpty()) {
        QJsonObject headers;
        for (const auto& [name, value] : options.page.headers) {
            headers.insert(name, value);
        }
        steps.append({QStringLiteral("Network.setExtraHTTPHeaders"), {{QStringLiteral("headers"), headers}}});
    }
    QJsonArray features;
    if (options.page.dark) {
        features.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("prefers-color-scheme")},
                                    {QStringLiteral("value"), QStringLiteral("dark")}});
    }
    if (options.page.reducedMotion) {
        features.append(QJsonObject{{QStringLiteral("name"), QStringLiteral("prefers-reduced-motion")},
                                    {QStringLiteral("value"), QStringLiteral("reduce")}});
    }
    if (!features.isEmpty()) {
        steps.append(
            {QStringLiteral("Emulation.setEmulatedMedia"), {{QStringLiteral("features"), features}}});
    }
    auto remaining = std::make_shared<int>(static_cast<int>(steps.size()));
    for (const auto& [method, params] : steps) {
        m_session->call(
            method, params, this,
            [this, remaining](const CdpReply& reply) {
                if (m_failed) {
                    return;
                }
                if (!reply.ok) {
                    fail(reply);
                } else if (--*remaining == 0) {
                    m_ready = true;
                    emit ready();
                }
            },
            m_deadline());
    }
}

void PageTarget::onSessionEvent(CdpSession* from, const QString& method, const QJsonObject& params) {
    if (m_failed) {
        return;
    }
    const auto ignore = [](const CdpReply&) {};
    if (method == QStringLiteral("Page.javascriptDialogOpening")) {
        // An alert has one answer and leaving a page always goes ahead; what a page asks is declined.
        const QString type = params.value(QStringLiteral("type")).toString();
        const bool accept = type == QStringLiteral("alert") || type == QStringLiteral("beforeunload");
        from->call(QStringLiteral("Page.handleJavaScriptDialog"), {{QStringLiteral("accept"), accept}}, this,
                   ignore, m_deadline());
    } else if (method == QStringLiteral("Target.attachedToTarget")) {
        onChildAttached(params);
    } else if (method == QStringLiteral("Target.detachedFromTarget")) {
        onChildDetached(params.value(QStringLiteral("sessionId")).toString());
    } else if (method == QStringLiteral("Fetch.requestPaused") ||
               method == QStringLiteral("Fetch.authRequired")) {
        emit requestHeld(from, method, params);
    } else if (method == QStringLiteral("Inspector.targetCrashed") && from == m_session) {
        fail(ErrorKind::BrowserError, QStringLiteral("the page crashed while loading"));
    } else {
        emit pageEvent(method, params);
    }
}

void PageTarget::onChildAttached(const QJsonObject& params) {
    CdpConnection* connection = m_browser.connection();
    QString error;
    const QString sessionId = CdpConnection::IdFrom(params, QStringLiteral("sessionId"),
                                                    QStringLiteral("Target.attachedToTarget"), &error);
    if (!error.isEmpty()) {
        // The child waits for a word that cannot be sent to it without echoing the id.
        fail(ErrorKind::BrowserError, error);
        return;
    }
    if (!connection || sessionId.isEmpty() || m_childSessions.contains(sessionId)) {
        return;
    }
    auto* child = new CdpSession(connection, sessionId, this);
    m_childSessions.insert(sessionId, child);
    const QString type =
        params.value(QStringLiteral("targetInfo")).toObject().value(QStringLiteral("type")).toString();
    const bool isFrame = type == QStringLiteral("iframe");
    const bool dedicatedWorker = type == QStringLiteral("worker");
    // The child waits for us before it runs; whatever it is, it is let go, and a failing call here
    // (a frame already gone) is no failure of the capture.
    const auto ignore = [](const CdpReply&) {};
    if (isFrame || m_holdChildRequests) {
        connect(child, &CdpSession::eventReceived, this,
                [this, child](const QString& method, const QJsonObject& childParams) {
                    onSessionEvent(child, method, childParams);
                });
    }
    if (isFrame) {
        // Its loads count like any frame's; a frame of another site inside it attaches in turn.
        child->call(QStringLiteral("Page.enable"), {}, this, ignore, m_deadline());
        child->call(QStringLiteral("Page.setLifecycleEventsEnabled"), {{QStringLiteral("enabled"), true}},
                    this, ignore, m_deadline());
        child->call(QStringLiteral("Target.setAutoAttach"), AutoAttachParams(), this, ignore, m_deadline());
    }
    if (!m_holdChildRequests) {
        child->call(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, this, ignore, m_deadline());
        return;
    }
    // A frame or worker in a process of its own makes its requests through its own session: they are
    // held there as the page's are, before it runs. One whose requests cannot be held is never let go.
    QPointer<CdpSession> guarded = child;
    child->call(
        QStringLiteral("Fetch.enable"), m_holdRequests, this,
        [this, guarded, ignore, dedicatedWorker](const CdpReply& reply) {
            // A dedicated worker has no Fetch domain of its own: its requests go out through its
            // frame's, where they are held with the page's.
            const bool heldByItsFrame = !reply.ok && dedicatedWorker &&
                                        reply.failure == CdpFailure::Refused &&
                                        reply.error.contains(QStringLiteral("wasn't found"));
            if ((reply.ok || heldByItsFrame) && guarded && !m_failed) {
                guarded->call(QStringLiteral("Runtime.runIfWaitingForDebugger"), {}, this, ignore,
                              m_deadline());
            }
        },
        m_deadline());
}

void PageTarget::onChildDetached(const QString& sessionId) {
    if (CdpSession* child = m_childSessions.take(sessionId)) {
        child->deleteLater();  // this may run inside a child's own event delivery
    }
}

void PageTarget::onBrowserEvent(const QString& method, const QJsonObject& params) {
    if (m_failed) {
        return;
    }
    if (method == QStringLiteral("Target.targetCrashed") &&
        params.value(QStringLiteral("targetId")).toString() == m_targetId) {
        fail(ErrorKind::BrowserError, QStringLiteral("the page crashed while loading"));
    } else if (method == QStringLiteral("Target.detachedFromTarget") && m_session &&
               params.value(QStringLiteral("sessionId")).toString() == m_session->id()) {
        fail(ErrorKind::BrowserLost, QStringLiteral("the page was closed while loading"));
    }
}

void PageTarget::fail(ErrorKind kind, const QString& error) {
    if (m_failed) {
        return;
    }
    m_failed = true;
    emit failed(CaptureError{kind, error});
}

void PageTarget::fail(const CdpReply& reply) {
    fail(ErrorOfReply(reply).kind, reply.error);
}

void PageTarget::dispose(int timeoutMs) {
    m_failed = true;  // nothing of this target reports any more
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
                         {{QStringLiteral("browserContextId"), contextId}}, {}, timeoutMs, &m_browser,
                         [](const CdpReply&) {});
    }
}

}  // namespace lumiclip
