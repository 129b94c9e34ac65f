#include "core/capture/page_capture.h"

#include "core/browser/browser.h"
#include "core/capture/page_scripts.h"
#include "core/capture/page_target.h"
#include "core/capture/target_pool.h"
#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"

#include <QJsonArray>
#include <QUrl>

#include <algorithm>

namespace lumiclip {

namespace {

// What an evaluation's exception says.
QString ExceptionText(const QJsonObject& result) {
    const QJsonObject details = result.value(QStringLiteral("exceptionDetails")).toObject();
    const QString description =
        details.value(QStringLiteral("exception")).toObject().value(QStringLiteral("description")).toString();
    return CdpConnection::Quote(description.isEmpty() ? details.value(QStringLiteral("text")).toString()
                                                      : description.section(QLatin1Char('\n'), 0, 0));
}

}  // namespace

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
        m_target->session()->call(
            QStringLiteral("Network.setCookies"), {{QStringLiteral("cookies"), cookies}}, this,
            [this](const CdpReply& reply) {
                if (m_finished) {
                    return;
                }
                if (!reply.ok) {
                    fail(ErrorOfReply(reply));
                    return;
                }
                m_cookiesSet = true;
                navigate();
            },
            remainingMs());
        return;
    }
    m_watcher.setMainFrame(m_target->targetId());
    m_target->session()->call(
        QStringLiteral("Page.navigate"), {{QStringLiteral("url"), m_options.url}}, this,
        [this](const CdpReply& reply) {
            if (m_finished) {
                return;
            }
            if (!reply.ok) {
                fail(ErrorOfReply(reply));
                return;
            }
            m_loaderId = reply.result.value(QStringLiteral("loaderId")).toString();
            m_outcome.navigationError =
                CdpConnection::Quote(reply.result.value(QStringLiteral("errorText")).toString());
            m_outcome.httpStatus = m_statusByLoader.value(m_loaderId);
            m_watcher.navigated(m_loaderId, m_outcome.navigationError);
        },
        remainingMs());
    // After the call has gone out: a stop that came during the set-up stops this navigation.
    m_watcher.navigationStarted();
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
    } else if (method == QStringLiteral("Fetch.requestPaused") ||
               method == QStringLiteral("Fetch.authRequired")) {
        answerFetch(method, params);
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

void PageCapture::answerFetch(const QString& method, const QJsonObject& params) {
    CdpSession* session = m_target ? m_target->session() : nullptr;
    const QString requestId = params.value(QStringLiteral("requestId")).toString();
    if (!session || requestId.isEmpty()) {
        return;
    }
    const auto ignore = [](const CdpReply&) {};
    if (method == QStringLiteral("Fetch.requestPaused")) {
        session->call(QStringLiteral("Fetch.continueRequest"), {{QStringLiteral("requestId"), requestId}},
                      this, ignore, remainingMs());
        return;
    }
    // A server's challenge for the address's own host (scheme, host and port) gets the credentials;
    // any other, a proxy's or another host's, is cancelled: credentials never go where they were not
    // meant for.
    const QJsonObject challenge = params.value(QStringLiteral("authChallenge")).toObject();
    const QUrl asking(
        params.value(QStringLiteral("request")).toObject().value(QStringLiteral("url")).toString());
    const QUrl own(m_options.url);
    const bool ownHost = challenge.value(QStringLiteral("source")).toString() != QStringLiteral("Proxy") &&
                         asking.scheme() == own.scheme() && asking.host() == own.host() &&
                         asking.port(asking.scheme() == QStringLiteral("https") ? 443 : 80) ==
                             own.port(own.scheme() == QStringLiteral("https") ? 443 : 80);
    const qsizetype colon = m_options.page.auth.indexOf(QLatin1Char(':'));
    QJsonObject answer{{QStringLiteral("response"),
                        ownHost ? QStringLiteral("ProvideCredentials") : QStringLiteral("CancelAuth")}};
    if (ownHost) {
        answer.insert(QStringLiteral("username"), m_options.page.auth.left(colon));
        answer.insert(QStringLiteral("password"), m_options.page.auth.mid(colon + 1));
    }
    session->call(
        QStringLiteral("Fetch.continueWithAuth"),
        {{QStringLiteral("requestId"), requestId}, {QStringLiteral("authChallengeResponse"), answer}}, this,
        ignore, remainingMs());
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

void PageCapture::probeElement() {
    const QString probe = ElementProbeScript(m_options.wait.selector);
    using State = ReadyWatcher::ElementState;
    evaluate(probe, [this](const QJsonObject& result) {
        if (result.contains(QStringLiteral("exceptionDetails"))) {
            m_watcher.elementProbed(State::Missing,
                                    QStringLiteral("--wait-for: %1 is not a selector the page understands")
                                        .arg(m_options.wait.selector));
            return;
        }
        const QString state =
            result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toString();
        m_watcher.elementProbed(state == QStringLiteral("visible")  ? State::Visible
                                : state == QStringLiteral("hidden") ? State::NotVisible
                                                                    : State::Missing,
                                {});
    });
}

void PageCapture::probeExpression() {
    // Each probe watches the page for a second at most, so that a navigation or the limit is noticed.
    constexpr int kProbeMs = 1000;
    evaluate(ExpressionProbeScript(m_options.wait.expression, kProbeMs), [this](const QJsonObject& result) {
        const QJsonObject value =
            result.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toObject();
        if (result.contains(QStringLiteral("exceptionDetails")) || value.contains(QStringLiteral("error"))) {
            const QString thrown = value.contains(QStringLiteral("error"))
                                       ? CdpConnection::Quote(value.value(QStringLiteral("error")).toString())
                                       : ExceptionText(result);
            m_watcher.expressionProbed(false,
                                       QStringLiteral("--wait-for-js: %1 failed: %2")
                                           .arg(CdpConnection::Quote(m_options.wait.expression), thrown));
            return;
        }
        m_watcher.expressionProbed(value.value(QStringLiteral("value")).toBool(), {});
    });
}

void PageCapture::prepareSnapshot(Step step) {
    // After the waits and before the snapshot, in order: the fonts, the clicks, the user's script, the
    // scroll through a full page, the elements to hide, the animations brought to rest. A step that sent the
    // page to another document starts the waits over; the steps already done for the page are not done again.
    switch (step) {
        case Step::Fonts: {
            // The load event does not wait for a web font still on its way: a thumbnail in the fallback
            // font would be of a page nobody sees. Within what is left of the limit; a page stopped or
            // out of time is taken as it is.
            const qint64 left = m_options.limits.pageMs - m_limitClock.elapsed();
            if (m_outcome.waitEnd != WaitEnd::Loaded || left <= 0) {
                prepareSnapshot(Step::Clicks);
                return;
            }
            // A page whose script keeps it busy answers nothing until the snapshot ends that script: the
            // fonts are a best effort, bounded, and no answer is no failure.
            constexpr qint64 kFontsMs = 3000;
            const int within = static_cast<int>(std::min(left, kFontsMs));
            CdpSession* session = m_target ? m_target->session() : nullptr;
            if (!session) {
                prepareSnapshot(Step::Clicks);
                return;
            }
            session->call(
                QStringLiteral("Runtime.evaluate"),
                {{QStringLiteral("expression"), FontsReadyScript(within)},
                 {QStringLiteral("awaitPromise"), true}},
                this,
                [this, generation = m_generation](const CdpReply&) {
                    if (!m_finished && generation == m_generation) {
                        prepareSnapshot(Step::Clicks);
                    }
                },
                within + 500);
            return;
        }
        case Step::Clicks:
            if (m_clicksDone < m_options.shot.clicks.size()) {
                const QString selector = m_options.shot.clicks.at(m_clicksDone);
                evaluate(ClickScript(selector), [this, selector](const QJsonObject& result) {
                    const QString answer = result.value(QStringLiteral("result"))
                                               .toObject()
                                               .value(QStringLiteral("value"))
                                               .toString();
                    if (result.contains(QStringLiteral("exceptionDetails")) || !answer.isEmpty()) {
                        fail(ErrorKind::Selector,
                             QStringLiteral("--click: %1 %2")
                                 .arg(CdpConnection::Quote(selector),
                                      answer == QStringLiteral("missing")
                                          ? QStringLiteral("matches nothing on the page")
                                          : QStringLiteral("is not a selector the page understands")));
                        return;
                    }
                    ++m_clicksDone;
                    m_resumeStep = Step::Clicks;
                    if (!waitAgainIfNavigating()) {
                        prepareSnapshot(Step::Clicks);
                    }
                });
                return;
            }
            prepareSnapshot(Step::Script);
            return;
        case Step::Script:
            if (m_options.shot.script.isEmpty()) {
                prepareSnapshot(Step::LazyLoad);
                return;
            }
            m_resumeStep = Step::LazyLoad;  // the script does not run again
            evaluate(m_options.shot.script, [this](const QJsonObject& result) {
                if (result.contains(QStringLiteral("exceptionDetails"))) {
                    fail(ErrorKind::Script,
                         QStringLiteral("the script of --javascript failed: %1").arg(ExceptionText(result)));
                    return;
                }
                // A navigation the script set off was announced before this answer.
                if (!waitAgainIfNavigating()) {
                    prepareSnapshot(Step::LazyLoad);
                }
            });
            return;
        case Step::LazyLoad: {
            // Bounded by what is left of the limit, less a share for the snapshot of the page it made.
            const qint64 left = (m_options.limits.pageMs - m_limitClock.elapsed()) * 3 / 4;
            if (m_options.shot.kind != CaptureKind::FullPage || !m_options.shot.lazyLoad ||
                m_outcome.waitEnd != WaitEnd::Loaded || left <= 0) {
                prepareSnapshot(Step::Hide);
                return;
            }
            evaluate(LazyLoadScript(static_cast<int>(left), kMaxCaptureSide),
                     [this](const QJsonObject&) { prepareSnapshot(Step::Hide); });
            return;
        }
        case Step::Hide:
            if (m_options.shot.hide.isEmpty()) {
                prepareSnapshot(Step::Animations);
                return;
            }
            evaluate(HideScript(m_options.shot.hide), [this](const QJsonObject& result) {
                const QString bad = result.value(QStringLiteral("result"))
                                        .toObject()
                                        .value(QStringLiteral("value"))
                                        .toString();
                if (!bad.isEmpty() || result.contains(QStringLiteral("exceptionDetails"))) {
                    fail(ErrorKind::Selector,
                         QStringLiteral("--hide: %1 is not a selector the page understands")
                             .arg(CdpConnection::Quote(bad)));
                    return;
                }
                prepareSnapshot(Step::Animations);
            });
            return;
        case Step::Animations:
            if (!m_options.shot.freezeAnimations) {
                takeSnapshot();
                return;
            }
            evaluate(FreezeAnimationsScript(), [this](const QJsonObject&) { takeSnapshot(); });
            return;
    }
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
