// What a capture does in the page itself: the probes of its waits, the steps between the waits and the
// snapshot, and the answers to requests held for a challenge.
#include "core/capture/page_capture.h"

#include "core/capture/address_policy.h"
#include "core/capture/address_guard.h"
#include "core/capture/page_scripts.h"
#include "core/capture/page_target.h"
#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"

#include <QJsonArray>
#include <QUrl>
#include <QtMath>

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
            // The page's part that will be captured, in CSS pixels.
            evaluate(LazyLoadScript(static_cast<int>(left),
                                    qCeil(m_options.shot.maxHeight / m_options.page.scaleFactor)),
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

void PageCapture::answerFetch(CdpSession* from, const QString& method, const QJsonObject& params) {
    const QString requestId = params.value(QStringLiteral("requestId")).toString();
    if (!from || requestId.isEmpty() || m_finished) {
        return;
    }
    const auto ignore = [](const CdpReply&) {};
    if (method == QStringLiteral("Fetch.requestPaused")) {
        if (!m_guard) {
            from->call(QStringLiteral("Fetch.continueRequest"), {{QStringLiteral("requestId"), requestId}},
                       this, ignore, remainingMs());
            return;
        }
        // The page's own document, the address or where it was redirected: the main frame's (whose id
        // is its target's) document request, held on the page's own session. A frame's document is
        // only that frame's loss.
        const bool pageDocument =
            from == m_target->session() &&
            params.value(QStringLiteral("resourceType")).toString() == QStringLiteral("Document") &&
            params.value(QStringLiteral("frameId")).toString() == m_target->targetId();
        const QUrl url(
            params.value(QStringLiteral("request")).toObject().value(QStringLiteral("url")).toString());
        // Each request is judged on its own: one held behind a slow lookup holds no other.
        m_guard->check(url, this,
                       [this, session = QPointer<CdpSession>(from), requestId,
                        pageDocument](const std::optional<QString>& refusal) {
                           if (!session || m_finished) {
                               return;  // the frame, or the whole context, has gone
                           }
                           const auto ignoreReply = [](const CdpReply&) {};
                           if (!refusal) {
                               session->call(QStringLiteral("Fetch.continueRequest"),
                                             {{QStringLiteral("requestId"), requestId}}, this, ignoreReply,
                                             remainingMs());
                               return;
                           }
                           session->call(QStringLiteral("Fetch.failRequest"),
                                         {{QStringLiteral("requestId"), requestId},
                                          {QStringLiteral("errorReason"), QStringLiteral("AccessDenied")}},
                                         this, ignoreReply, remainingMs());
                           if (pageDocument) {
                               fail(ErrorKind::ForbiddenAddress, *refusal);
                           }
                       });
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
    from->call(QStringLiteral("Fetch.continueWithAuth"),
               {{QStringLiteral("requestId"), requestId}, {QStringLiteral("authChallengeResponse"), answer}},
               this, ignore, remainingMs());
}

}  // namespace lumiclip
