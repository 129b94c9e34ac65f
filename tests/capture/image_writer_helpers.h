#pragma once

// What the image-step tests build their snapshots and encoders from.
#include "core/capture/capture_request.h"
#include "core/capture/page_snapshot.h"
#include "core/image/encoder_table.h"
#include "core/image/image_format.h"
#include "core/image/image_writer.h"

#include <QBuffer>
#include <QColor>
#include <QImage>

namespace lumiclip::test {

inline QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A rendering of the whole view in one colour.
inline QByteArray solidRendering(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return pngOf(image);
}

inline PageSnapshot snapshotOf(const QByteArray& png, bool hasBody) {
    PageSnapshot snapshot;
    snapshot.png = png;
    snapshot.hasBody = hasBody;
    return snapshot;
}

// The image step with its values spelled out, as the tests below give them.
inline bool RenderSnapshotToFile(const PageSnapshot& snapshot, const QString& path, int viewWidth,
                                 int viewHeight, int imageWidth, int imageHeight, const EncoderId& encoder,
                                 QString* error) {
    CaptureRequest options;
    options.output.path = path;
    options.page.viewWidth = viewWidth;
    options.page.viewHeight = viewHeight;
    options.image.width = imageWidth;
    options.image.height = imageHeight;
    return WriteSnapshotImage(snapshot, options, encoder, error);
}

inline EncoderId encoderFor(const QString& format) {
    EncoderId id;
    FindEncoderByMime(QString::fromLatin1(kImageMimeTypes[static_cast<size_t>(MimeIndexForFormat(format))]),
                      &id);
    return id;
}

}  // namespace lumiclip::test
