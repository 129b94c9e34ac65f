#pragma once

#include <QSize>

namespace lumiclip {

// The side of the square box the preview pane fits pictures into.
inline constexpr int kPreviewBox = 300;

// Fits a picture of w x h pixels into the kPreviewBox square, keeping its proportions and never
// enlarging it: first a picture taller than the box is brought to the box's height, then one still
// wider than the box to its width. Quotients are taken in double precision and truncated toward zero,
// so 1024 x 768 gives 300 x 225, 700 x 301 gives 300 x 129 and 1000 x 3 gives 300 x 0.
QSize FitPreviewSize(int w, int h);

}  // namespace lumiclip
