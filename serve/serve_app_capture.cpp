#include "serve/serve_app.h"

#include "core/capture/address_policy.h"
#include "core/engine/capture_service.h"
#include "core/image/image_format.h"
#include "serve/capture_coalescer.h"

#include <unistd.h>

// The capture requests of the service: parameters checked, a cache hit answered from its file, a miss
// handed to the engine and answered with what it made.
namespace lumiclip {

namespace {

using Headers = QList<QPair<QByteArray, QByteArray>>;

// The status a failed capture is answered with: the page's own faults are the gateway's (502), a time
// limit is 504, no browser is 503.
int StatusOfKind(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::InvalidAddress:
            return 400;
        case ErrorKind::ForbiddenAddress:
            return 403;
        case ErrorKind::Timeout:
            return 504;
        case ErrorKind::BrowserUnavailable:
        case ErrorKind::Interrupted:
            return 503;
        case ErrorKind::Image:
        case ErrorKind::Write:
            return 500;
        case ErrorKind::None:
        case ErrorKind::Network:
        case ErrorKind::HttpStatus:
        case ErrorKind::Selector:
        case ErrorKind::Script:
        case ErrorKind::BrowserLost:
        case ErrorKind::BrowserError:
            break;
    }
    return 502;
}

// Whether If-None-Match names the ETag (or is "*").
bool Matches(const QByteArray& ifNoneMatch, const QByteArray& etag) {
    if (ifNoneMatch.isEmpty()) {
        return false;
    }
    for (QByteArray tag : ifNoneMatch.split(',')) {
        tag = tag.trimmed();
        if (tag.startsWith("W/")) {
            tag = tag.mid(2);
        }
        if (tag == "*" || tag == etag) {
            return true;
        }
    }
    return false;
}

// What answers a capture carry, hit or miss: the format, its validator, and how long any cache (a CDN's
// included) may keep it.
Headers ImageHeaders(const ImageFormat& format, const QByteArray& etag, qint64 ttl,
                     const QByteArray& status) {
    return {{"Content-Type", format.mimeType},
            {"ETag", etag},
            {"Cache-Control", "public, max-age=" + QByteArray::number(ttl)},
            {"Cache-Status", status}};
}

}  // namespace

void ServeApp::handleCapture(const HttpRequest& request, const Responder& responder) {
    Params params = request.query;
    if (request.method == "POST") {
        params.clear();
        QString jsonError;
        if (!ParamsFromJson(request.body, &params, &jsonError)) {
            answerError(responder, 400, QStringLiteral("bad_request"), jsonError);
            return;
        }
    }
    ParamsError paramsError;
    const std::optional<CaptureParams> parsed = ParseCaptureParams(params, m_defaults, &paramsError);
    if (!parsed) {
        answerError(responder, paramsError.status, paramsError.kind, paramsError.message);
        return;
    }
    // What can be refused without a lookup is refused before the engine sees it.
    if (const std::optional<QString> refusal = CheckLiteral(QUrl(parsed->request.url), m_options.addresses)) {
        answerError(responder, 403, QStringLiteral("forbidden_address"), *refusal);
        return;
    }
    const QByteArray ifNoneMatch = request.header("If-None-Match");
    if (std::optional<ThumbCache::CachedImage> hit = m_cache->lookup(parsed->key)) {
        HttpAnswer image;
        image.headers =
            ImageHeaders(RequestedFormat(parsed->request), hit->etag, m_options.ttlSeconds, "lumiclip; hit");
        image.headers.append({"Age", QByteArray::number(hit->ageSeconds)});
        if (Matches(ifNoneMatch, hit->etag)) {
            ::close(hit->fd);
            image.status = 304;
        } else {
            image.fd = hit->fd;
            image.fdSize = hit->size;
        }
        answer(responder, std::move(image));
        return;
    }
    if (m_stopping) {
        answerError(responder, 503, QStringLiteral("interrupted"), QStringLiteral("the server is stopping"),
                    {{"Retry-After", "5"}});
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, params = *parsed, ifNoneMatch, responder] { startCapture(params, ifNoneMatch, responder); },
        Qt::QueuedConnection);
}

void ServeApp::startCapture(const CaptureParams& params, const QByteArray& ifNoneMatch,
                            const Responder& responder) {
    if (m_stopping) {
        answerError(responder, 503, QStringLiteral("interrupted"), QStringLiteral("the server is stopping"),
                    {{"Retry-After", "5"}});
        return;
    }
    const CaptureCoalescer::Asked asked = m_coalescer->ask(
        params, [this, params, ifNoneMatch, responder](const CaptureResult& result, bool collapsed) {
            answerCaptured(params, result, collapsed, ifNoneMatch, responder);
        });
    if (asked == CaptureCoalescer::Asked::QueueFull) {
        answerError(responder, 429, QStringLiteral("queue_full"),
                    QStringLiteral("too many captures are waiting; try again shortly"),
                    {{"Retry-After", "5"}});
    }
}

void ServeApp::answerCaptured(const CaptureParams& params, const CaptureResult& result, bool collapsed,
                              const QByteArray& ifNoneMatch, const Responder& responder) {
    if (!result.ok) {
        answerError(responder, StatusOfKind(result.error.kind), ErrorKindName(result.error.kind),
                    result.error.message);
        return;
    }
    const QByteArray etag = ThumbCache::etagFor(result.bytes);
    // Told right after the cache was given the image.
    const bool stored = m_lastStored;
    QByteArray status = "lumiclip; fwd=miss";
    if (collapsed) {
        status += "; collapsed";
    }
    if (stored) {
        status += "; stored";
    }
    HttpAnswer image;
    image.headers = ImageHeaders(RequestedFormat(params.request), etag, m_options.ttlSeconds, status);
    if (Matches(ifNoneMatch, etag)) {
        image.status = 304;
    } else {
        image.body = result.bytes;
    }
    answer(responder, std::move(image));
}

}  // namespace lumiclip
