#include "core/capture/page_snapshot.h"

#include "core/capture/view_image.h"
#include "core/cdp/cdp_connection.h"
#include "core/cdp/cdp_session.h"
#include "core/image/image_writer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <memory>

namespace lumiclip {

namespace {

QJsonObject documentOf(const QJsonObject& evaluated) {
    return evaluated.value(QStringLiteral("result")).toObject().value(QStringLiteral("value")).toObject();
}

void takeDocument(const QJsonObject& document, PageSnapshot* snapshot) {
    snapshot->hasBody = document.value(QStringLiteral("body")).toBool();
    snapshot->url = document.value(QStringLiteral("url")).toString();
    snapshot->title = document.value(QStringLiteral("title")).toString();
}

// The document check and, for a full page or an element, the box to capture in document coordinates
// (an element's box moves with the scroll offset; the clip does not).
QString documentExpression(const CaptureRequest& options) {
    if (options.shot.kind == CaptureKind::View) {
        return QStringLiteral("({body: document.body !== null, url: location.href, title: document.title})");
    }
    const QString selector =
        options.shot.kind == CaptureKind::Element
            ? QString::fromUtf8(
                  QJsonDocument(QJsonArray{options.shot.selector}).toJson(QJsonDocument::Compact))
            : QStringLiteral("[null]");
    return QStringLiteral(
               "(() => {"
               "const d = {body: document.body !== null, url: location.href, title: document.title};"
               "const selector = %1[0];"
               "if (selector === null) {"
               "const root = document.documentElement;"
               "d.box = {x: 0, y: 0, width: 0, height: Math.max(root ? root.scrollHeight : 0,"
               " document.body ? document.body.scrollHeight : 0)};"
               "return d;"
               "}"
               "let e = null;"
               "try { e = document.querySelector(selector); } catch (x) { d.invalid = String(x.message); }"
               "if (e) {"
               "const r = e.getBoundingClientRect();"
               "d.box = {x: r.left + scrollX, y: r.top + scrollY, width: r.width, height: r.height};"
               "}"
               "return d;"
               "})()")
        .arg(selector);
}

QJsonObject screenshotParams(const QJsonObject& clip) {
    QJsonObject params{{QStringLiteral("format"), QStringLiteral("png")},
                       {QStringLiteral("fromSurface"), true},
                       {QStringLiteral("captureBeyondViewport"), !clip.isEmpty()},
                       {QStringLiteral("optimizeForSpeed"), true}};
    if (!clip.isEmpty()) {
        params.insert(QStringLiteral("clip"), clip);
    }
    return params;
}

// The PNG of a screenshot, decoded a piece at a time: a Latin-1 copy of the whole string would cost a
// third more than the PNG itself, on top of the string (a full page can be a few hundred megabytes).
QByteArray pngOf(const QJsonObject& screenshot) {
    const QString data = screenshot.value(QStringLiteral("data")).toString();
    constexpr qsizetype kPieceChars = qsizetype{4} * 64 * 1024;  // whole groups of four characters
    QByteArray png;
    png.reserve((data.size() + 3) / 4 * 3);
    for (qsizetype at = 0; at < data.size(); at += kPieceChars) {
        auto piece = QByteArray::fromBase64Encoding(QStringView(data).mid(at, kPieceChars).toLatin1(),
                                                    QByteArray::AbortOnBase64DecodingErrors);
        if (!piece) {
            // Not plain base64 (line breaks, say): the whole string at once, as leniently as ever.
            return QByteArray::fromBase64(data.toLatin1());
        }
        png += *piece;
    }
    return png;
}

// The clip of a full page or an element, or empty with *error set when there is nothing to capture.
QJsonObject clipOf(const QJsonObject& document, const CaptureRequest& options, QString* error) {
    const QString selector = options.shot.selector;
    if (document.contains(QStringLiteral("invalid"))) {
        *error =
            QStringLiteral("the selector \"%1\" is not valid: %2")
                .arg(selector, CdpConnection::Quote(document.value(QStringLiteral("invalid")).toString()));
        return {};
    }
    if (!document.contains(QStringLiteral("box"))) {
        *error = QStringLiteral("no element matches the selector \"%1\"").arg(selector);
        return {};
    }
    const QJsonObject box = document.value(QStringLiteral("box")).toObject();
    const bool fullPage = options.shot.kind == CaptureKind::FullPage;
    // An element at most kMaxCaptureSide device pixels each way, a full page at most its maximum height.
    const double most = (fullPage ? options.shot.maxHeight : kMaxCaptureSide) / options.page.scaleFactor;
    const double width = fullPage ? options.page.viewWidth : box.value(QStringLiteral("width")).toDouble();
    const double height = box.value(QStringLiteral("height")).toDouble();
    if (!(width > 0 && height > 0)) {
        *error = fullPage ? QStringLiteral("the document has no height to capture")
                          : QStringLiteral("the element matching \"%1\" has an empty box (%2x%3)")
                                .arg(selector, QString::number(width), QString::number(height));
        return {};
    }
    return {{QStringLiteral("x"), box.value(QStringLiteral("x")).toDouble()},
            {QStringLiteral("y"), box.value(QStringLiteral("y")).toDouble()},
            {QStringLiteral("width"), std::min(width, double{kMaxCaptureSide} / options.page.scaleFactor)},
            {QStringLiteral("height"), std::min(height, most)},
            {QStringLiteral("scale"), 1}};
}

// The height of a band in CSS pixels: as much as one screenshot renders, a whole number of device
// pixels, so that the bands meet without a seam.
double bandHeight(double scaleFactor) {
    const double most = std::floor(kMaxCaptureSide / scaleFactor);
    for (double height = most; height > most - 100; --height) {
        const double device = height * scaleFactor;
        if (device == std::floor(device)) {
            return height;
        }
    }
    return std::floor(most / 100) * 100;  // scale factors have at most two decimals
}

// Screenshots of the clip's bands, one after another (each holds its rendering in memory until it is
// decoded); then done with the first in snapshot.png and the rest in snapshot.below.
struct Bands {
    QPointer<CdpSession> target;
    QObject* context = nullptr;
    int timeoutMs = 0;
    QJsonObject clip;
    double band = 0;
    PageSnapshot snapshot;
    SnapshotDone done;
};

void takeBand(const std::shared_ptr<Bands>& bands, double top) {
    if (!bands->target) {
        bands->done(false, CaptureError{ErrorKind::BrowserLost, QStringLiteral("the page is gone")}, {});
        return;
    }
    const double bottom = bands->clip.value(QStringLiteral("y")).toDouble() +
                          bands->clip.value(QStringLiteral("height")).toDouble();
    QJsonObject clip = bands->clip;
    clip.insert(QStringLiteral("y"), top);
    clip.insert(QStringLiteral("height"), std::min(bands->band, bottom - top));
    bands->target->call(
        QStringLiteral("Page.captureScreenshot"), screenshotParams(clip), bands->context,
        [bands, top, bottom](const CdpReply& shot) {
            if (!shot.ok) {
                bands->done(false, ErrorOfReply(shot), {});
                return;
            }
            (bands->snapshot.png.isEmpty() ? bands->snapshot.png : bands->snapshot.below.emplace_back()) =
                pngOf(shot.result);
            if (top + bands->band >= bottom) {
                bands->done(true, {}, bands->snapshot);
                return;
            }
            takeBand(bands, top + bands->band);
        },
        bands->timeoutMs);
}

}  // namespace

void TakePageSnapshot(CdpSession& session, const CaptureRequest& options, QObject* context, int timeoutMs,
                      SnapshotDone done) {
    struct State {
        SnapshotDone done;
        PageSnapshot snapshot;
        int parts = 2;
        bool over = false;
    };
    auto state = std::make_shared<State>();
    state->done = std::move(done);
    const auto partDone = [state](const CdpReply& reply,
                                  const std::function<void(const QJsonObject&)>& take) {
        if (state->over) {
            return;
        }
        if (!reply.ok) {
            state->over = true;
            state->done(false, ErrorOfReply(reply), {});
            return;
        }
        take(reply.result);
        if (--state->parts == 0) {
            state->over = true;
            state->done(true, {}, state->snapshot);
        }
    };
    session.call(
        QStringLiteral("Runtime.terminateExecution"), {}, context, [](const CdpReply&) {}, timeoutMs);
    const QJsonObject evaluate{{QStringLiteral("expression"), documentExpression(options)},
                               {QStringLiteral("returnByValue"), true}};
    if (options.shot.kind == CaptureKind::View) {
        // The view needs no measure: the check and the screenshot go out together.
        session.call(
            QStringLiteral("Runtime.evaluate"), evaluate, context,
            [state, partDone](const CdpReply& reply) {
                partDone(reply, [state](const QJsonObject& result) {
                    takeDocument(documentOf(result), &state->snapshot);
                });
            },
            timeoutMs);
        session.call(
            QStringLiteral("Page.captureScreenshot"), screenshotParams({}), context,
            [state, partDone](const CdpReply& reply) {
                partDone(reply, [state](const QJsonObject& result) { state->snapshot.png = pngOf(result); });
            },
            timeoutMs);
        return;
    }
    // A full page or an element: measured first, then the screenshot of its box.
    QPointer<CdpSession> target(&session);
    session.call(
        QStringLiteral("Runtime.evaluate"), evaluate, context,
        [state, options, target, context, timeoutMs](const CdpReply& reply) {
            if (!reply.ok) {
                state->done(false, ErrorOfReply(reply), {});
                return;
            }
            const QJsonObject document = documentOf(reply.result);
            takeDocument(document, &state->snapshot);
            if (!state->snapshot.hasBody) {
                state->done(true, {}, state->snapshot);  // nothing to draw; the image step says so
                return;
            }
            QString error;
            const QJsonObject clip = clipOf(document, options, &error);
            if (clip.isEmpty()) {
                // What the selector names is missing or empty; a document without height is the browser's.
                state->done(false,
                            CaptureError{options.shot.kind == CaptureKind::Element ? ErrorKind::Selector
                                                                                   : ErrorKind::BrowserError,
                                         error},
                            {});
                return;
            }
            auto bands = std::make_shared<Bands>();
            bands->target = target;
            bands->context = context;
            bands->timeoutMs = timeoutMs;
            bands->clip = clip;
            bands->band = bandHeight(options.page.scaleFactor);
            bands->snapshot = state->snapshot;
            bands->done = state->done;
            takeBand(bands, clip.value(QStringLiteral("y")).toDouble());
        },
        timeoutMs);
}

QByteArray EncodeSnapshotImage(const PageSnapshot& snapshot, const CaptureRequest& options,
                               const EncoderId& encoder, QString* error, QSize* imageSize) {
    if (!snapshot.hasBody) {
        *error = QStringLiteral("the document has no body to draw");
        return {};
    }
    return EncodeViewImage(snapshot.png, options, encoder, error, imageSize, snapshot.below);
}

bool WriteSnapshotImage(const PageSnapshot& snapshot, const CaptureRequest& options, const EncoderId& encoder,
                        QString* error, QSize* imageSize, ErrorKind* kind) {
    const auto failed = [kind](ErrorKind what) {
        if (kind) {
            *kind = what;
        }
        return false;
    };
    const QByteArray bytes = EncodeSnapshotImage(snapshot, options, encoder, error, imageSize);
    if (bytes.isEmpty()) {
        return failed(ErrorKind::Image);
    }
    if (!WriteFileAtomically(options.output.path, bytes, error,
                             options.output.nameMade ? LinkRule::Replace : LinkRule::Follow)) {
        return failed(ErrorKind::Write);
    }
    return true;
}

}  // namespace lumiclip
