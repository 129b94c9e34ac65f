#include "core/capture/capture_options.h"

#include "core/image/image_format.h"

#include <algorithm>

namespace lumiclip {

QString CheckCaptureSizes(int viewWidth, int viewHeight, int imageWidth, int imageHeight) {
    const struct {
        const char* name;
        int value;
    } sizes[] = {{"view width", viewWidth},
                 {"view height", viewHeight},
                 {"image width", imageWidth},
                 {"image height", imageHeight}};
    for (const auto& size : sizes) {
        if (size.value < 1 || size.value > kMaxCaptureSide) {
            return QStringLiteral("%1 %2 is out of range (1 to %3 pixels)")
                .arg(QLatin1String(size.name))
                .arg(size.value)
                .arg(kMaxCaptureSide);
        }
    }
    return {};
}

QString CheckCaptureOptions(const CaptureOptions& options) {
    // A side of 0 is checked as 1 here: the other side of the pair decides.
    if (options.imageWidth == 0 && options.imageHeight == 0) {
        return QStringLiteral("image size 0x0 has no side to keep the proportions from");
    }
    QString error = CheckCaptureSizes(options.viewWidth, options.viewHeight,
                                      options.imageWidth == 0 ? 1 : options.imageWidth,
                                      options.imageHeight == 0 ? 1 : options.imageHeight);
    if (!error.isEmpty()) {
        return error;
    }
    // Known before any page loads, rather than found by the encoder after each page has loaded.
    const ImageFormat* format = FindImageFormat(options.format);
    if (format && (options.imageWidth > format->maxSide || options.imageHeight > format->maxSide)) {
        return QStringLiteral("image size %1x%2 is too large for %3, which holds at most %4 pixels a side")
            .arg(QString::number(options.imageWidth), QString::number(options.imageHeight), options.format,
                 QString::number(format->maxSide));
    }
    if (options.quality < 0 || options.quality > 100) {
        return QStringLiteral("quality %1 is out of range (1 to 100)").arg(options.quality);
    }
    if (!(options.scaleFactor >= 1 && options.scaleFactor <= 4)) {
        return QStringLiteral("scale factor %1 is out of range (1 to 4)").arg(options.scaleFactor);
    }
    // The rendering of the view is view x scale device pixels, and must fit a raster.
    if (options.viewWidth * options.scaleFactor > kMaxCaptureSide ||
        options.viewHeight * options.scaleFactor > kMaxCaptureSide) {
        return QStringLiteral("view %1x%2 at scale factor %3 is over %4 device pixels")
            .arg(options.viewWidth)
            .arg(options.viewHeight)
            .arg(options.scaleFactor)
            .arg(kMaxCaptureSide);
    }
    return {};
}

QSize ImageSizeFor(int imageWidth, int imageHeight, QSize captured) {
    if ((imageWidth != 0 && imageHeight != 0) || captured.isEmpty()) {
        return {imageWidth, imageHeight};
    }
    const auto proportional = [](int given, int capturedOther, int capturedGiven) {
        const qint64 side =
            (qint64{given} * capturedOther * 2 + capturedGiven) / (qint64{capturedGiven} * 2);  // rounded
        return static_cast<int>(std::clamp<qint64>(side, 1, kMaxCaptureSide));
    };
    if (imageHeight == 0) {
        return {imageWidth, proportional(imageWidth, captured.height(), captured.width())};
    }
    return {proportional(imageHeight, captured.width(), captured.height()), imageHeight};
}

}  // namespace lumiclip
