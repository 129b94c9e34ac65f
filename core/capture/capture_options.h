#pragma once

#include "core/capture/time_limits.h"

#include <QString>

namespace lumiclip {

// Sizes a capture accepts: 1 to kMaxCaptureSide pixels each way.
inline constexpr int kMaxCaptureSide = 16384;

// Everything one capture needs, from the browser to the image file: built once where the values enter
// (the main window's settings, the settings file and the command line), checked there, then passed
// down whole.
struct CaptureOptions {
    // What the browser loads.
    QString url;
    // The image file, extension included, used as it is.
    QString outputPath;
    int viewWidth = 810;
    int viewHeight = 600;
    int imageWidth = 180;
    int imageHeight = 138;
    // A format name of the format table ("JPG", "GIF", "PNG").
    QString format = QStringLiteral("JPG");
    TimeLimits limits;
};

// Empty when the view and image sizes can be captured, else a message naming the bad value.
QString CheckCaptureSizes(int viewWidth, int viewHeight, int imageWidth, int imageHeight);
// The same for the sizes of options.
QString CheckCaptureOptions(const CaptureOptions& options);

}  // namespace lumiclip
