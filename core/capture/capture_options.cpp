#include "core/capture/capture_options.h"

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
    return CheckCaptureSizes(options.viewWidth, options.viewHeight, options.imageWidth, options.imageHeight);
}

}  // namespace lumiclip
