#include "core/image/vips_image_library.h"

#include "core/image/memory_bitmap_dc.h"

#include "core/image/vips_include.h"

#include <memory>
#include <optional>
#include <vector>

namespace lumiclip {

namespace {

bool start(QString* error) {
    if (vips_init("lumiclip") != 0) {
        *error = QString::fromUtf8(vips_error_buffer()).trimmed();
        vips_error_clear();
        return false;
    }
    // Captures are small and one-off: the operation cache only costs memory.
    vips_cache_set_max(0);
    return true;
}

bool hasSaver(const char* saver) {
    return vips_type_find("VipsOperation", saver) != 0;
}

QByteArray encode(const ImageStepRequest& request, QSize* imageSize, QString* error) {
    try {
        std::optional<vips::VImage> page;
        if (!request.rendering.isEmpty()) {
            page = vips::VImage::new_from_buffer(
                request.rendering.constData(), static_cast<size_t>(request.rendering.size()), "",
                vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        }
        // Bands under the first: drawn one below the other, each from where the last one ended.
        std::vector<vips::VImage> bands;
        int bandsHeight = 0;
        for (const QByteArray& band : request.below) {
            bands.push_back(
                vips::VImage::new_from_buffer(band.constData(), static_cast<size_t>(band.size()), "",
                                              vips::VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL)));
            bandsHeight += bands.back().height();
        }
        const QSize captured = request.raster.isEmpty() && page
                                   ? QSize(page->width(), page->height() + bandsHeight)
                                   : request.raster;
        const QSize size = request.imageSizeFor(captured);
        CMemoryBitmapDC dc(captured.width(), captured.height(), nullptr, qRgb(255, 255, 255));
        if (page) {
            dc.DrawImage(*page, 0, 0);
            int top = page->height();
            for (const vips::VImage& band : bands) {
                dc.DrawImage(band, 0, top);
                top += band.height();
            }
        }
        const std::unique_ptr<vips::VImage> raster = dc.DetachBitmap();
        // Exactly this size, the two axes scaled independently, with the library's Lanczos kernel. Up
        // to a fivefold shrink it runs over the whole raster (no gap): a box shrink first costs more
        // than it saves at a view's sizes (the default 810x600 to 180x138 takes a third less time).
        // Beyond that the wide kernel's rounding shows (a white 255 comes out 253 or 254), so the box
        // shrink comes first, as the library does by default.
        const double hscale = static_cast<double>(size.width()) / raster->width();
        const double vscale = static_cast<double>(size.height()) / raster->height();
        constexpr double kWholeKernelUpTo = 5.0;
        vips::VOption* scaling = vips::VImage::option()->set("vscale", vscale);
        if (1.0 / hscale <= kWholeKernelUpTo && 1.0 / vscale <= kWholeKernelUpTo) {
            scaling->set("gap", 0.0);
        }
        const vips::VImage scaled = raster->resize(hscale, scaling);
        // The library calls the saver by its name.
        VipsBlob* blob = nullptr;
        vips::VOption* saverOptions = vips::VImage::option()->set("in", scaled)->set("buffer", &blob);
        if (request.quality > 0) {
            saverOptions->set("Q", request.quality);
        }
        vips::VImage::call(request.saver.constData(), saverOptions);
        size_t length = 0;
        const void* data = vips_blob_get(blob, &length);
        QByteArray bytes(static_cast<const char*>(data), static_cast<qsizetype>(length));
        vips_area_unref(reinterpret_cast<VipsArea*>(blob));
        if (bytes.isEmpty()) {
            *error = QStringLiteral("%1 produced no data").arg(QString::fromLatin1(request.saver));
        } else if (imageSize) {
            *imageSize = size;
        }
        return bytes;
    } catch (const vips::VError& e) {
        *error = QStringLiteral("image step failed: %1").arg(QString::fromUtf8(e.what()).trimmed());
        vips_error_clear();
        return {};
    }
}

void shutDown() {
    vips_shutdown();
}

}  // namespace

const ImageLibrary& VipsImageLibrary() {
    static constexpr ImageLibrary kLibrary{start, hasSaver, encode, shutDown};
    return kLibrary;
}

}  // namespace lumiclip
