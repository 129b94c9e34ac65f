#pragma once

#include "core/capture/capture_error.h"

#include "core/capture/capture_request.h"
#include "core/image/encoder_table.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSize>
#include <QString>

#include <functional>

namespace lumiclip {

class CdpSession;

// What the view held when the wait ended: its rendering (PNG of the captured part in device pixels) and
// whether the document has a body at all (an SVG document, say, has none).
struct PageSnapshot {
    QByteArray png;
    bool hasBody = false;
    // The document's address (after redirects) and title.
    QString url;
    QString title;
    // A page taller than one screenshot: the renderings of the bands below the first, in order.
    QList<QByteArray> below;
};

using SnapshotDone = std::function<void(bool ok, const CaptureError& error, const PageSnapshot& snapshot)>;

// Takes the snapshot of the page on session as the options' kind says: ends whatever script runs (the
// body check and the screenshot need the renderer's main thread, which an endless script, or one started
// after the load, keeps to itself; ending scripts costs nothing when none runs), checks for a body and
// takes a screenshot of the view, or of the whole document at the view's width, or of the box of the
// element the selector matches (no match, an empty box or a bad selector fail, naming the selector). An
// element is at most kMaxCaptureSide device pixels each way; a full page at most the options' maximum
// height, in bands of at most kMaxCaptureSide when it is taller. done() is called once, from the event
// loop, unless context goes first.
void TakePageSnapshot(CdpSession& session, const CaptureRequest& options, QObject* context, int timeoutMs,
                      SnapshotDone done);

// The image step for a snapshot: its rendering drawn, scaled, encoded and written as the options say.
// A document without a body (an SVG document, say) gives no image.
// *imageSize, when given, receives the size of the image written.
// The image of a snapshot, encoded in memory as the options say (nothing is written); empty with *error
// set when it cannot be made.
QByteArray EncodeSnapshotImage(const PageSnapshot& snapshot, const CaptureRequest& options,
                               const EncoderId& encoder, QString* error, QSize* imageSize = nullptr);

// *kind, when given, tells an image that could not be made (Image) from one that could not be written
// (Write).
bool WriteSnapshotImage(const PageSnapshot& snapshot, const CaptureRequest& options, const EncoderId& encoder,
                        QString* error, QSize* imageSize = nullptr, ErrorKind* kind = nullptr);

}  // namespace lumiclip
