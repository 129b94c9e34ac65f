#include "core/capture/view_image.h"

#include "core/image/image_format.h"
#include "core/image/image_library.h"
#include "core/image/image_writer.h"

#include <algorithm>

namespace lumiclip {

namespace {

// Whether the encoder's format takes a quality.
bool hasQuality(const EncoderId& encoder) {
    return std::any_of(kImageFormats.cbegin(), kImageFormats.cend(), [&encoder](const ImageFormat& format) {
        return format.quality && encoder.mimeType == QLatin1String(format.mimeType);
    });
}

}  // namespace

QByteArray EncodeViewImage(const QByteArray& renderingPng, const CaptureRequest& options,
                           const EncoderId& encoder, QString* error, QSize* imageSize,
                           const QList<QByteArray>& below) {
    const QString sizeError = CheckCaptureRequest(options);
    if (!sizeError.isEmpty()) {
        *error = sizeError;
        return {};
    }
    // A library that did not start has no encoders either; its own reason is the one to give.
    const ImageLibrary* library = StartedImageLibrary(error);
    if (!library) {
        return {};
    }
    if (encoder.isNull()) {
        *error = QStringLiteral("no image encoder is installed for this format");
        return {};
    }
    const bool view = options.shot.kind == CaptureKind::View;
    if (!view && renderingPng.isEmpty()) {
        *error = QStringLiteral("the browser gave no rendering of the captured part");
        return {};
    }
    ImageStepRequest request;
    request.rendering = renderingPng;
    request.below = below;
    // The view is a fixed frame the rendering is drawn into; a full page or an element is what the
    // browser rendered of it.
    if (view) {
        request.raster = QSize(qRound(options.page.viewWidth * options.page.scaleFactor),
                               qRound(options.page.viewHeight * options.page.scaleFactor));
    }
    request.imageSizeFor = [&options](QSize raster) {
        return ImageSizeFor(options.image.width, options.image.height, raster);
    };
    // The encoder names its saver; the library calls it by that name.
    request.saver = encoder.saver.toLatin1();
    request.quality = hasQuality(encoder) ? options.image.quality : 0;
    return library->encode(request, imageSize, error);
}

bool WriteViewImage(const QByteArray& renderingPng, const CaptureRequest& options, const EncoderId& encoder,
                    QString* error, QSize* imageSize) {
    const QByteArray bytes = EncodeViewImage(renderingPng, options, encoder, error, imageSize);
    return !bytes.isEmpty() &&
           WriteFileAtomically(options.output.path, bytes, error,
                               options.output.nameMade ? LinkRule::Replace : LinkRule::Follow);
}

}  // namespace lumiclip
