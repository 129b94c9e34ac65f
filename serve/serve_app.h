#pragma once

#include "serve/access_check.h"
#include "serve/capture_params.h"
#include "serve/http_server.h"
#include "serve/serve_metrics.h"
#include "serve/serve_options.h"
#include "serve/thumb_cache.h"

#include <QElapsedTimer>
#include <QObject>

#include <atomic>
#include <memory>
#include <vector>

namespace lumiclip {

class AddressGuard;
class Browser;
class CaptureCoalescer;
class CaptureService;
struct CaptureResult;

// lumiclip-serve itself: the HTTP server, the cache, the engine behind them and the way they end.
// Requests are taken on the server's threads; a cache hit is answered there, from the image's file,
// without waiting for the engine's thread; a miss goes to the engine and is answered when its capture
// (shared with identical requests in flight) is done.
class ServeApp final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ServeApp)

public:
    ServeApp(ServeOptions options, ServiceDefaults defaults, AccessCheck access,
             std::unique_ptr<ThumbCache> cache, QObject* parent = nullptr);
    ~ServeApp() override;

    // Starts the browsers' engine and listens; false with *error naming what could not start.
    bool start(QString* error);
    quint16 port() const { return m_http ? m_http->port() : 0; }
    // The orderly end: no new connection, the captures in flight finish within the grace period and are
    // answered, the rest are answered 503, the browsers are shut down; then stopped().
    void shutDown();

signals:
    void stopped();

private:
    using Responder = std::shared_ptr<HttpResponder>;

    void handle(const HttpRequest& request, const Responder& responder);
    void handleCapture(const HttpRequest& request, const Responder& responder);
    void startCapture(const CaptureParams& params, const QByteArray& ifNoneMatch, const Responder& responder);
    void answerCaptured(const CaptureParams& params, const CaptureResult& result, bool collapsed,
                        const QByteArray& ifNoneMatch, const Responder& responder);
    void answer(const Responder& responder, HttpAnswer answer);
    void answerError(const Responder& responder, int status, const QString& kind, const QString& message,
                     const QList<QPair<QByteArray, QByteArray>>& headers = {});
    HttpAnswer healthAnswer();
    void checkBrowser();
    void finishShutDown();

    ServeOptions m_options;
    ServiceDefaults m_defaults;
    AccessCheck m_access;
    std::unique_ptr<ThumbCache> m_cache;
    ServeMetrics m_metrics;
    std::vector<std::unique_ptr<Browser>> m_browsers;
    std::unique_ptr<CaptureService> m_service;
    CaptureCoalescer* m_coalescer = nullptr;
    std::unique_ptr<HttpServer> m_http;
    // Whether the last capture that could tell found a browser to answer (healthz).
    std::atomic<bool> m_browserUp{true};
    std::atomic<bool> m_checking{false};
    std::atomic<int> m_restarts{0};
    std::atomic<bool> m_stopping{false};
    bool m_finished = false;
    // Whether the cache kept the image of the capture whose requests are being answered.
    bool m_lastStored = false;
    QElapsedTimer m_lastCheck;
};

}  // namespace lumiclip
