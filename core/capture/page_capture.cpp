#include "core/capture/page_capture.h"

#include "core/browser/browser.h"
#include "core/capture/address_guard.h"
#include "core/capture/page_scripts.h"
#include "core/capture/page_target.h"
#include "core/capture/target_pool.h"
#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"

#include <QJsonArray>
#include <QUrl>

#include <algorithm>

namespace lumiclip {

PageCapture::PageCapture(Browser& browser, CaptureRequest options, QObject* parent)
    : QObject(parent), m_browser(browser), m_options(std::move(options)), m_watcher(m_options) {
    // Precise: a coarse timer may fire a few per cent early, which at 30 s is a second.
    for (QTimer* timer : {&m_limitTimer, &m_endTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(&m_limitTimer, &QTimer::timeout, this, [this] {
        if (!m_watcher.isWaiting()) {
            fail(ErrorKind::Timeout, QStringLiteral("the browser did not prepare the page within %1 s")
                                         .arg(QString::number(m_options.limits.pageMs / 1000.0)));
            return;
        }
        m_watcher.timeLimitReached();
    });
    connect(&m_endTimer, &QTimer::timeout, this, [this] {
        const TimeLimits& limits = m_options.limits;
        fail(ErrorKind::Timeout, QStringLiteral("the page could not be captured within %1 s")
                                     .arg(QString::number((limits.pageMs + limits.finalGraceMs) / 1000.0)));
    });
    connect(&m_watcher, &ReadyWatcher::frameDocumentComplete, this, [this] {
        ++m_outcome.frameDocuments;
        emit frameDocumentComplete();
    });
    connect(&m_watcher, &ReadyWatcher::stopWanted, this, &PageCapture::onStopWanted);
    connect(&m_watcher, &ReadyWatcher::ready, this, &PageCapture::onReady);
    connect(&m_watcher, &ReadyWatcher::failed, this, [this](const CaptureError& reason) {
        m_limitTimer.stop();
        fail(reason);
    });
    connect(&m_watcher, &ReadyWatcher::probeWanted, this, &PageCapture::probeElement);
    connect(&m_watcher, &ReadyWatcher::expressionWanted, this, &PageCapture::probeExpression);
    if (m_options.page.addresses.guarded) {
        m_guard = new AddressGuard(m_options.page.addresses, this);
    }
}

PageCapture::~PageCapture() = default;

void PageCapture::setTargetPool(TargetPool* pool) {
    m_pool = pool;
}

void PageCapture::start() {
    if (m_started) {
        return;
    }
    m_started = true;
    m_clock.start();
    if (m_guard) {
        // What needs no lookup is refused before the browser is even started; a name is looked up once
        // the page's limit runs (navigate).
        if (std::optional<QString> refusal = CheckLiteral(QUrl(m_options.url), m_guard->policy())) {
            QTimer::singleShot(0, this, [this, why = *refusal] { fail(ErrorKind::ForbiddenAddress, why); });
            return;
        }
    }
    QString error;
    if (!m_browser.ensureStarted(&error)) {
        QTimer::singleShot(0, this, [this, error] { fail(ErrorKind::BrowserUnavailable, error); });
        return;
    }
    // The first call to a browser that has just been started waits for it to come up, under a deadline
    // of its own; the page's limit starts once the browser answers.
    const bool coldBrowser = !m_browser.connection()->hasHeardFromPeer();
    if (!coldBrowser) {
        startLimit();
    }
    // A context prepared ahead is as fresh as one opened now, and already set up, or on its way.
    m_target = m_pool ? m_pool->take(m_options, this) : nullptr;
    const bool prepared = m_target != nullptr;
    if (prepared) {
        m_target->setDeadline([this] { return remainingMs(); });
    } else {
        m_target = new PageTarget(
            m_browser, [this] { return remainingMs(); }, this);
    }
    connect(m_target, &PageTarget::browserAnswered, this, [this] {
        if (!m_limitClock.isValid()) {
            startLimit();
        }
    });
    connect(m_target, &PageTarget::failed, this, [this](const CaptureError& why) { fail(why); });
    connect(m_target, &PageTarget::pageEvent, this, &PageCapture::onPageEvent);
    connect(m_target, &PageTarget::requestHeld, this, &PageCapture::answerFetch);
    connect(m_target, &PageTarget::ready, this, &PageCapture::navigate);
    if (!prepared) {
        m_target->open(m_options, coldBrowser ? m_options.limits.browserStartMs : remainingMs());
    } else if (m_target->isReady()) {
        navigate();
    }
}

void PageCapture::startLimit() {
    m_limitClock.start();
    m_limitTimer.start(m_options.limits.pageMs);
    m_endTimer.start(m_options.limits.pageMs + m_options.limits.finalGraceMs);
}

int PageCapture::remainingMs() const {
    constexpr int kMarginMs = 500;
    if (!m_limitClock.isValid()) {
        return m_options.limits.browserStartMs;
    }
    const qint64 left = m_options.limits.pageMs + m_options.limits.finalGraceMs - m_limitClock.elapsed();
    return static_cast<int>(std::max<qint64>(left, 0)) + kMarginMs;
}

void PageCapture::navigate() {
    if (m_finished) {
        return;
    }
    if (m_guard && !m_addressChecked) {
        // Judged before the browser loads anything: not every scheme's load is a request the browser
        // would hold (file: is not).
        m_guard->check(QUrl(m_options.url), this, [this](const std::optional<QString>& refusal) {
            if (refusal) {
                fail(ErrorKind::ForbiddenAddress, *refusal);
                return;
            }
            m_addressChecked = true;
            navigate();
        });
        return;
    }
    if (!m_options.page.cookies.isEmpty() && !m_cookiesSet) {
        // In the page's own context, before it loads; a cookie without a domain is the address's.
        QJsonArray cookies;
        for (const Cookie& cookie : m_options.page.cookies) {
            QJsonObject param{{QStringLiteral("name"), cookie.name},
                              {QStringLiteral("value"), cookie.value},
                              {QStringLiteral("path"), cookie.path},
                              {QStringLiteral("secure"), cookie.secure},
                              {QStringLiteral("httpOnly"), cookie.httpOnly}};
            if (cookie.domain.isEmpty()) {
                param.insert(QStringLiteral("url"), m_options.url);
            } else {
                param.insert(QStringLiteral("domain"), cookie.domain);
            }
            if (cookie.expires > 0) {
                param.insert(QStringLiteral("expires"), static_cast<double>(cookie.expires));
            }
            cookies.append(param);
        }
        callPage(QStringLiteral("Network.setCookies"), {{QStringLiteral("cookies"), cookies}},
                 [this](const QJsonObject&) {
                     m_cookiesSet = true;
                     navigate();
                 });
        return;
    }
    m_watcher.setMainFrame(m_target->targetId());
    callPage(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), m_options.url}},
             [this](const QJsonObject& result) {
                 m_loaderId = result.value(QStringLiteral("loaderId")).toString();
                 m_outcome.navigationError =
                     CdpConnection::Quote(result.value(QStringLiteral("errorText")).toString());
                 m_outcome.httpStatus = m_statusByLoader.value(m_loaderId);
                 m_watcher.navigated(m_loaderId, m_outcome.navigationError);
             });
    // After the call has gone out: a stop that came during the set-up stops this navigation.
    m_watcher.navigationStarted();
}

void PageCapture::callPage(const QString& method, const QJsonObject& params,
                           std::function<void(const QJsonObject& result)> done) {
    m_target->session()->call(
        method, params, this,
        [this, done = std::move(done)](const CdpReply& reply) {
            if (m_finished) {
                return;
            }
            if (!reply.ok) {
                fail(ErrorOfReply(reply));
                return;
            }
            done(reply.result);
        },
        remainingMs());
}

void PageCapture::onPageEvent(const QString& method, const QJsonObject& params) {
    if (m_finished) {
        return;
    }
    handlePageEvent(method, params);
    // The page went on to another document after its wait (a refresh due as it finished loading, a
    // script): what is under way for the snapshot is of a document on its way out. It is dropped and
    // the waits start over for the next one. Once the limit or a stop ended the wait, the page is
    // taken as it is.
    if (m_outcome.waitEnd == WaitEnd::Loaded && waitAgainIfNavigating()) {
        ++m_generation;
    }
}

void PageCapture::handlePageEvent(const QString& method, const QJsonObject& params) {
    if (method == QStringLiteral("Page.lifecycleEvent")) {
        m_watcher.lifecycleEvent(params.value(QStringLiteral("frameId")).toString(),
                                 params.value(QStringLiteral("loaderId")).toString(),
                                 params.value(QStringLiteral("name")).toString());
    } else if (method == QStringLiteral("Page.frameStoppedLoading")) {
        m_watcher.frameStoppedLoading(params.value(QStringLiteral("frameId")).toString());
    } else if (method == QStringLiteral("Page.frameStartedNavigating")) {
        m_watcher.frameStartedNavigating(params.value(QStringLiteral("frameId")).toString(),
                                         params.value(QStringLiteral("loaderId")).toString(),
                                         params.value(QStringLiteral("navigationType")).toString());
    } else if (method == QStringLiteral("Page.frameNavigated")) {
        const QJsonObject frame = params.value(QStringLiteral("frame")).toObject();
        m_watcher.frameNavigated(frame.value(QStringLiteral("id")).toString(),
                                 frame.value(QStringLiteral("loaderId")).toString());
    } else if (method == QStringLiteral("Page.frameScheduledNavigation")) {
        m_watcher.navigationScheduled(params.value(QStringLiteral("frameId")).toString(),
                                      params.value(QStringLiteral("delay")).toDouble());
    } else if (method == QStringLiteral("Page.frameClearedScheduledNavigation")) {
        m_watcher.scheduledNavigationCleared(params.value(QStringLiteral("frameId")).toString());
    } else if (method == QStringLiteral("Network.responseReceived")) {
        if (params.value(QStringLiteral("type")).toString() == QStringLiteral("Document") &&
            params.value(QStringLiteral("frameId")).toString() == m_target->targetId()) {
            const QString loader = params.value(QStringLiteral("loaderId")).toString();
            const int status =
                params.value(QStringLiteral("response")).toObject().value(QStringLiteral("status")).toInt();
            m_statusByLoader.insert(loader, status);
            if (loader == m_loaderId) {
                m_outcome.httpStatus = status;
            }
        }
    }
}

void PageCapture::onStopWanted() {
    m_limitTimer.stop();
    // An endless script keeps the renderer from doing anything else, stopping included. Neither answer
    // matters: the grace runs on, and the final deadline bounds what follows.
    if (CdpSession* session = m_target ? m_target->session() : nullptr) {
        const auto ignore = [](const CdpReply&) {};
        session->call(QStringLiteral("Runtime.terminateExecution"), {}, this, ignore, remainingMs());
        session->call(QStringLiteral("Page.stopLoading"), {}, this, ignore, remainingMs());
    }
}

void PageCapture::onReady(WaitEnd how) {
    m_limitTimer.stop();
    m_outcome.waitEnd = how;
    // The document the page settled on (it may have loaded another one itself) gives the status.
    const auto status = m_statusByLoader.constFind(m_watcher.documentLoader());
    if (status != m_statusByLoader.cend()) {
        m_outcome.httpStatus = *status;
    }
    emit waitEnded(how);
    if (m_finished) {
        return;
    }
    if (how == WaitEnd::FinishedEarly) {
        takeSnapshot();  // quitting: what is there, as it is
        return;
    }
    // After a click or a script that sent the page elsewhere, the waits start over for where it went;
    // what ran already does not run again.
    prepareSnapshot(m_resumeStep);
}

bool PageCapture::waitAgainIfNavigating() {
    if (!m_watcher.isNavigatingAgain()) {
        return false;
    }
    const qint64 left = m_options.limits.pageMs - m_limitClock.elapsed();
    m_watcher.waitAgain();
    if (left <= 0) {
        m_watcher.timeLimitReached();
    } else {
        m_limitTimer.start(static_cast<int>(left));
    }
    return true;
}

void PageCapture::evaluate(const QString& expression, std::function<void(const QJsonObject& value)> done) {
    CdpSession* session = m_target ? m_target->session() : nullptr;
    if (!session) {
        fail(ErrorKind::BrowserLost, QStringLiteral("the page is gone"));
        return;
    }
    session->call(
        QStringLiteral("Runtime.evaluate"),
        {{QStringLiteral("expression"), expression},
         {QStringLiteral("returnByValue"), true},
         {QStringLiteral("awaitPromise"), true}},
        this,
        [this, done = std::move(done), generation = m_generation](const CdpReply& reply) {
            if (m_finished || generation != m_generation) {
                return;  // the document it was asked of has gone; the waits started over
            }
            if (!reply.ok) {
                fail(ErrorOfReply(reply));
                return;
            }
            done(reply.result);
        },
        remainingMs());
}

void PageCapture::takeSnapshot() {
    CdpSession* session = m_target ? m_target->session() : nullptr;
    if (!session) {
        fail(ErrorKind::BrowserLost, QStringLiteral("the page is gone"));
        return;
    }
    TakePageSnapshot(
        *session, m_options, this, remainingMs(),
        [this, generation = m_generation](bool ok, const CaptureError& error, const PageSnapshot& snapshot) {
            if (m_finished || generation != m_generation) {
                return;  // of a document that has gone; the waits started over
            }
            if (!ok) {
                fail(error);
                return;
            }
            m_outcome.snapshot = snapshot;
            m_outcome.finalUrl = snapshot.url;
            m_outcome.title = snapshot.title;
            m_outcome.ok = true;
            finish();
        });
}

void PageCapture::stop() {
    if (!m_finished) {
        m_watcher.stop();
    }
}

void PageCapture::finishNow() {
    if (!m_finished) {
        m_watcher.finishNow();
    }
}

void PageCapture::fail(ErrorKind kind, const QString& error) {
    fail(CaptureError{kind, error});
}

void PageCapture::fail(const CaptureError& error) {
    if (m_finished) {
        return;
    }
    m_outcome.ok = false;
    m_outcome.error = error.message;
    m_outcome.errorKind = error.kind;
    finish();
}

void PageCapture::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_limitTimer.stop();
    m_endTimer.stop();
    m_outcome.elapsedMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    if (m_target) {
        m_target->dispose(m_options.limits.disposeMs);
    }
    emit finished();
}

}  // namespace lumiclip
