#include "core/preview/preview_fit.h"

namespace lumiclip {

QSize FitPreviewSize(int w, int h) {
    const double box = kPreviewBox;
    if (h > kPreviewBox) {
        // |w / h * box| < |w|, so the truncation stays in range.
        w = static_cast<int>(static_cast<double>(w) / static_cast<double>(h) * box);
        h = kPreviewBox;
    }
    if (w > kPreviewBox) {
        // h <= box here; a height of 0 gives an infinite ratio and so a height of 0.
        h = static_cast<int>(box / (static_cast<double>(w) / static_cast<double>(h)));
        w = kPreviewBox;
    }
    return {w, h};
}

}  // namespace lumiclip
