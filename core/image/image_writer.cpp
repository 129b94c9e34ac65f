#include "core/image/image_writer.h"

#include "core/capture/page_snapshot.h"
#include "core/image/memory_bitmap_dc.h"

#include <QSaveFile>

#include "core/image/vips_include.h"

namespace lumiclip {

QByteArray EncodeViewImage(const QByteArray& renderingPng, int viewWidth, int viewHeight, int imageWidth,
                           int imageHeight, const EncoderId& encoder, QString* error) {
    const QString sizeError = CheckCaptureSizes(viewWidth, viewHeight, imageWidth, imageHeight);
    if (!sizeError.isEmpty()) {
        *error = sizeError;
        return {};
    }
    if (encoder.isNull()) {
        *error = QStringLiteral("no image encoder is installed for this format");
        return {};
    }
    if (!EnsureImageLibrary(error)) {
        return {};
    }
    try {
        CMemoryBitmapDC dc(viewWidth, viewHeight, nullptr, qRgb(255, 255, 255));
        if (!renderingPng.isEmpty()) {
            const vips::VImage page = vips::VImage::new_from_buffer(
                renderingPng.constData(), static_cast<size_t>(renderingPng.size()), "",
                vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
            dc.DrawImage(page, 0, 0);
        }
        const std::unique_ptr<vips::VImage> raster = dc.DetachBitmap();
        // FORCE: exactly this size, the two axes scaled independently.
        const vips::VImage scaled = raster->thumbnail_image(
            imageWidth, vips::VImage::option()->set("height", imageHeight)->set("size", VIPS_SIZE_FORCE));
        VipsBlob* blob = nullptr;
        if (encoder.saver == QStringLiteral("jpegsave_buffer")) {
            blob = scaled.jpegsave_buffer();
        } else if (encoder.saver == QStringLiteral("gifsave_buffer")) {
            blob = scaled.gifsave_buffer();
        } else if (encoder.saver == QStringLiteral("pngsave_buffer")) {
            blob = scaled.pngsave_buffer();
        } else if (encoder.saver == QStringLiteral("tiffsave_buffer")) {
            blob = scaled.tiffsave_buffer();
        } else if (encoder.saver == QStringLiteral("webpsave_buffer")) {
            blob = scaled.webpsave_buffer();
        } else {
            *error = QStringLiteral("unknown image encoder %1").arg(encoder.saver);
            return {};
        }
        size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        QByteArray bytes(static_cast<const char*>(data), static_cast<qsizetype>(length));
        vips_area_unref(reinterpret_cast<VipsArea*>(blob));
        if (bytes.isEmpty()) {
            *error = QStringLiteral("%1 produced no data").arg(encoder.saver);
        }
        return bytes;
    } catch (const vips::VError& e) {
        *error = QStringLiteral("image step failed: %1").arg(QString::fromUtf8(e.what()).trimmed());
        vips_error_clear();
        return {};
    }
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return false;
    }
    return true;
}

bool RenderSnapshotToFile(const PageSnapshot& snapshot, const QString& outputPath, int viewWidth,
                          int viewHeight, int imageWidth, int imageHeight, const EncoderId& encoder,
                          QString* error) {
    if (!snapshot.hasBody) {
        *error = QStringLiteral("the document has no body to draw");
        return false;
    }
    const QByteArray bytes =
        EncodeViewImage(snapshot.png, viewWidth, viewHeight, imageWidth, imageHeight, encoder, error);
    return !bytes.isEmpty() && WriteFileAtomically(outputPath, bytes, error);
}

}  // namespace lumiclip
