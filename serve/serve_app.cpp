#include "serve/serve_app.h"

#include "core/browser/browser.h"
#include "core/browser/local_browser_launcher.h"
#include "core/browser/remote_browser_launcher.h"
#include "core/capture/address_policy.h"
#include "core/engine/capture_service.h"
#include "core/image/image_format.h"
#include "serve/capture_coalescer.h"
#include "serve/front_page.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

#include <cstdio>

namespace lumiclip {

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

QByteArray ErrorBody(const QString& kind, const QString& message) {
    return QJsonDocument(
               QJsonObject{{QStringLiteral("error"), message}, {QStringLiteral("error_kind"), kind}})
        .toJson(QJsonDocument::Compact);
}

}  // namespace

ServeApp::ServeApp(ServeOptions options, ServiceDefaults defaults, AccessCheck access,
                   std::unique_ptr<ThumbCache> cache, QObject* parent)
    : QObject(parent),
      m_options(std::move(options)),
      m_defaults(std::move(defaults)),
      m_access(std::move(access)),
      m_cache(std::move(cache)) {
    m_defaults.request.page.addresses = m_options.addresses;
    m_defaults.proxies = m_options.addresses.allowPrivate;
}

ServeApp::~ServeApp() {
    if (m_http) {
        m_http->stop();
    }
}

bool ServeApp::start(QString* error) {
    QList<BrowserEndpoints::Endpoint> endpoints;
    if (m_options.browsers.isEmpty()) {
        // A page's checked requests are those of its own target: a popup would be a page of its own,
        // and a shared worker belongs to no page, so neither would be checked. Guarded, there are none.
        QStringList switches;
        if (m_options.addresses.guarded && !m_options.addresses.allowPrivate) {
            switches = {QStringLiteral("--block-new-web-contents"),
                        QStringLiteral("--disable-blink-features=SharedWorker")};
        }
        m_browsers.push_back(std::make_unique<Browser>(std::make_unique<LocalBrowserLauncher>(switches)));
        endpoints.append({m_browsers.back().get(), QString()});
    }
    for (const QString& address : std::as_const(m_options.browsers)) {
        m_browsers.push_back(
            std::make_unique<Browser>(std::make_unique<RemoteBrowserLauncher>(QUrl(address))));
        endpoints.append({m_browsers.back().get(), address});
    }
    CaptureServiceSettings settings;
    settings.jobs = m_options.jobs;
    m_service = std::make_unique<CaptureService>(endpoints, settings, m_defaults.request);
    connect(m_service.get(), &CaptureService::endpointGivenUp, this, [](const QString& reason) {
        std::fprintf(stderr, "lumiclip-serve: %s\n", qUtf8Printable(reason));
    });
    m_coalescer = new CaptureCoalescer(m_service.get(), m_options.jobs * static_cast<int>(endpoints.size()),
                                       m_options.queue, this);
    m_coalescer->setOnCaptured([this](const CaptureParams& params, const CaptureResult& result) {
        int restarts = 0;
        for (const std::unique_ptr<Browser>& browser : m_browsers) {
            restarts += std::max(0, browser->starts() - 1);
        }
        m_restarts = restarts;
        m_browserUp = result.error.kind != ErrorKind::BrowserUnavailable && !m_service->exhausted();
        m_lastStored = false;
        if (!result.ok) {
            return;
        }
        m_metrics.captureTook(static_cast<double>(result.milliseconds) / 1000.0);
        QString storeError;
        m_lastStored = m_cache->store(params.key, result.bytes,
                                      QByteArray(RequestedFormat(params.request).extension), &storeError);
        if (!m_lastStored && !storeError.isEmpty()) {
            std::fprintf(stderr, "lumiclip-serve: the cache did not keep an image: %s\n",
                         qUtf8Printable(storeError));
        }
    });
    HttpLimits limits;
    limits.requestTime = std::chrono::seconds(m_options.requestTimeoutSeconds);
    m_http = std::make_unique<HttpServer>(
        [this](const HttpRequest& request, const std::shared_ptr<HttpResponder>& responder) {
            handle(request, responder);
        },
        limits);
    if (!m_http->start(m_options.listenAddress, m_options.listenPort, error)) {
        return false;
    }
    // The browser starts now, not with the first visitor.
    checkBrowser();
    return true;
}

void ServeApp::checkBrowser() {
    if (m_checking.exchange(true)) {
        return;
    }
    m_lastCheck.start();
    CaptureRequest probe = m_defaults.request;
    probe.url = QStringLiteral("about:blank");
    probe.image.width = 16;
    probe.image.height = 16;
    const CaptureService::Ticket ticket = m_service->submit(probe);
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection =
        connect(m_service.get(), &CaptureService::finished, this,
                [this, ticket, connection](CaptureService::Ticket done, const CaptureResult& result) {
                    if (done != ticket) {
                        return;
                    }
                    disconnect(*connection);
                    m_browserUp = result.ok;
                    m_checking = false;
                    if (!result.ok) {
                        std::fprintf(stderr, "lumiclip-serve: no browser answers: %s\n",
                                     qUtf8Printable(result.error.message));
                    }
                });
}

void ServeApp::answer(const Responder& responder, HttpAnswer given) {
    m_metrics.answered(given.status);
    responder->answer(std::move(given));
}

void ServeApp::answerError(const Responder& responder, int status, const QString& kind,
                           const QString& message, const Headers& headers) {
    HttpAnswer given;
    given.status = status;
    given.headers = {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};
    given.headers += headers;
    given.body = ErrorBody(kind, message);
    answer(responder, std::move(given));
}

void ServeApp::handle(const HttpRequest& request, const Responder& responder) {
    const QByteArray& path = request.path;
    const bool get = request.method == "GET" || request.method == "HEAD";
    const bool known = path == "/" || path == "/capture" || path == "/healthz" || path == "/metrics";
    if (!known) {
        answerError(responder, 404, QStringLiteral("not_found"),
                    QStringLiteral("nothing here: /capture?url=... takes captures"));
        return;
    }
    if (!get && !(path == "/capture" && request.method == "POST")) {
        answerError(responder, 405, QStringLiteral("bad_request"),
                    QStringLiteral("%1 is not a method of %2")
                        .arg(QString::fromLatin1(request.method), QString::fromLatin1(path)),
                    {{"Allow", path == "/capture" ? "GET, HEAD, POST" : "GET, HEAD"}});
        return;
    }
    if (path == "/healthz") {
        // Probes carry no token: the answer tells nothing but whether a browser answers.
        HttpAnswer health = healthAnswer();
        answer(responder, std::move(health));
        return;
    }
    if (path == "/") {
        // A page a browser opens, which cannot send a token; it asks for one for its captures.
        HttpAnswer page;
        page.headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Cache-Control", "no-cache"},
                        {"Content-Security-Policy",
                         "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
                         "img-src 'self' blob:; connect-src 'self'; form-action 'self'"}};
        page.body = FrontPage(m_access.needsToken(), m_access.needsSignature());
        answer(responder, std::move(page));
        return;
    }
    const std::optional<AccessCheck::Refusal> tokenRefusal =
        m_access.checkToken(request.header("Authorization"));
    // A signed address stands for a token on /capture: it is what an <img> can carry.
    const bool signedCapture = path == "/capture" && m_access.needsSignature();
    if (tokenRefusal && !(signedCapture && request.header("Authorization").isEmpty())) {
        answerError(responder, tokenRefusal->status, QStringLiteral("unauthorized"), tokenRefusal->message,
                    tokenRefusal->status == 401 ? Headers{{"WWW-Authenticate", "Bearer"}} : Headers{});
        return;
    }
    if (path == "/metrics") {
        ServeMetrics::Sampled sampled;
        const ThumbCache::Stats stats = m_cache->stats();
        sampled.hits = stats.hits;
        sampled.misses = stats.misses;
        sampled.evictions = stats.evictions;
        sampled.expirations = stats.expirations;
        sampled.cacheBytes = stats.bytes;
        sampled.cacheEntries = stats.entries;
        sampled.inFlight = m_coalescer->inFlight();
        sampled.queued = m_coalescer->queued();
        sampled.restarts = static_cast<quint64>(m_restarts.load());
        HttpAnswer metrics;
        metrics.headers = {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"},
                           {"Cache-Control", "no-store"}};
        metrics.body = m_metrics.exposition(sampled);
        answer(responder, std::move(metrics));
        return;
    }
    if (signedCapture && !tokenRefusal && m_access.needsToken()) {
        handleCapture(request, responder);  // a token stands for a signature
        return;
    }
    if (signedCapture) {
        if (request.method == "POST") {
            answerError(responder, 403, QStringLiteral("unauthorized"),
                        QStringLiteral("a POST cannot be signed: send a token, or GET a signed address"));
            return;
        }
        if (const std::optional<AccessCheck::Refusal> refusal = m_access.checkSignature(request.rawQuery())) {
            answerError(responder, refusal->status, QStringLiteral("unauthorized"), refusal->message);
            return;
        }
    }
    handleCapture(request, responder);
}

HttpAnswer ServeApp::healthAnswer() {
    const bool up = m_browserUp.load() && !m_stopping.load();
    if (!up && !m_stopping.load()) {
        // Probes drive the recovery: a browser that failed is tried again, at most every few seconds.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (!m_lastCheck.isValid() || m_lastCheck.elapsed() > 5000) {
                    checkBrowser();
                }
            },
            Qt::QueuedConnection);
    }
    HttpAnswer health;
    health.status = up ? 200 : 503;
    health.headers = {{"Content-Type", "application/json"}, {"Cache-Control", "no-store"}};
    health.body = up ? QByteArrayLiteral(R"({"status": "ok"})")
                     : ErrorBody(QStringLiteral("browser_unavailable"),
                                 m_stopping ? QStringLiteral("the server is stopping")
                                            : QStringLiteral("no browser answers"));
    return health;
}

void ServeApp::shutDown() {
    if (m_stopping.exchange(true)) {
        return;
    }
    std::fprintf(stderr, "lumiclip-serve: stopping: %d capture(s) in flight\n", m_coalescer->inFlight());
    m_http->stopListening();
    if (m_coalescer->inFlight() == 0) {
        // From the event loop: whoever asked is waiting for stopped() by then.
        QTimer::singleShot(0, this, &ServeApp::finishShutDown);
        return;
    }
    connect(m_coalescer, &CaptureCoalescer::drained, this, &ServeApp::finishShutDown);
    QTimer::singleShot(m_options.graceSeconds * 1000, this, [this] {
        // Past the grace period: what is left is answered as interrupted.
        m_service->interrupt();
        QTimer::singleShot(0, this, &ServeApp::finishShutDown);
    });
}

void ServeApp::finishShutDown() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_service->stop();
    m_http->stop();
    for (const std::unique_ptr<Browser>& browser : m_browsers) {
        browser->shutdown();
    }
    emit stopped();
}

}  // namespace lumiclip
