#include "core/image/memory_bitmap_dc.h"

#include <vector>

namespace lumiclip {

CMemoryBitmapDC::CMemoryBitmapDC(int cx, int cy, const vips::VImage* pRefDC, QRgb fill) : m_fill(fill) {
    const int bands = pRefDC ? std::min(pRefDC->bands(), 3) : 3;
    std::vector<double> colour{static_cast<double>(qRed(fill)), static_cast<double>(qGreen(fill)),
                               static_cast<double>(qBlue(fill))};
    colour.resize(static_cast<size_t>(bands));
    vips::VImage base = vips::VImage::black(cx, cy, vips::VImage::option()->set("bands", bands));
    m_pBitmap = std::make_unique<vips::VImage>(base.new_from_image(colour).copy(
        vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB)));
}

void CMemoryBitmapDC::DrawImage(const vips::VImage& src, int x, int y) {
    if (!m_pBitmap) {
        return;
    }
    vips::VImage image = src;
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB &&
        image.interpretation() != VIPS_INTERPRETATION_B_W) {
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    }
    if (image.has_alpha()) {
        image = image.flatten(vips::VImage::option()->set(
            "background",
            std::vector<double>{static_cast<double>(qRed(m_fill)), static_cast<double>(qGreen(m_fill)),
                                static_cast<double>(qBlue(m_fill))}));
    }
    if (image.bands() == 1 && m_pBitmap->bands() == 3) {
        image = image.bandjoin({image, image});
    }
    image = image.cast(VIPS_FORMAT_UCHAR);
    *m_pBitmap = m_pBitmap->insert(image, x, y);
}

std::unique_ptr<vips::VImage> CMemoryBitmapDC::DetachBitmap() {
    return std::move(m_pBitmap);
}

}  // namespace lumiclip
