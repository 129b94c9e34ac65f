#pragma once

#include "core/capture/capture_options.h"
#include "core/image/encoder_table.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

namespace lumiclip {

class CdpSession;

// What the view held when the wait ended: its rendering (PNG of the view size) and whether the
// document has a body at all (an SVG document, say, has none).
struct PageSnapshot {
    QByteArray png;
    bool hasBody = false;
    // The document's address (after redirects) and title.
    QString url;
    QString title;
};

using SnapshotDone = std::function<void(bool ok, const QString& error, const PageSnapshot& snapshot)>;

// Takes the snapshot of the page on session: ends whatever script runs (the body check and the
// screenshot need the renderer's main thread, which an endless script, or one started after the
// load, keeps to itself; ending scripts costs nothing when none runs), checks for a body and takes
// a screenshot of the view. done() is called once, from the event loop, unless context goes first.
void TakePageSnapshot(CdpSession& session, QObject* context, int timeoutMs, SnapshotDone done);

// The image step for a snapshot: its rendering drawn, scaled, encoded and written as the options say.
// A document without a body (an SVG document, say) gives no image.
bool WriteSnapshotImage(const PageSnapshot& snapshot, const CaptureOptions& options, const EncoderId& encoder,
                        QString* error);

}  // namespace lumiclip
