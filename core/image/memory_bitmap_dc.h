#pragma once

#include <QRgb>

#include "core/image/vips_include.h"

#include <memory>

namespace lumiclip {

// An off-screen raster of a fixed size, filled with one colour, that images are drawn onto at a position
// (clipped to the raster). Its pixel format follows the reference image when one is given, else 8-bit sRGB.
class CMemoryBitmapDC final {
public:
    CMemoryBitmapDC(int cx, int cy, const vips::VImage* pRefDC, QRgb fill);
    CMemoryBitmapDC(const CMemoryBitmapDC&) = delete;
    CMemoryBitmapDC& operator=(const CMemoryBitmapDC&) = delete;

    // Draws src with its top-left corner at (x, y); transparent parts show the fill.
    void DrawImage(const vips::VImage& src, int x, int y);
    // Hands the raster to the caller; the context holds none afterwards.
    std::unique_ptr<vips::VImage> DetachBitmap();
    bool hasBitmap() const { return m_pBitmap != nullptr; }

private:
    std::unique_ptr<vips::VImage> m_pBitmap;
    QRgb m_fill;
};

}  // namespace lumiclip
