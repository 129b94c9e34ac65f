#include "core/image/encoder_table.h"

#include "core/image/image_format.h"
#include "core/image/image_library.h"

#include <vector>

namespace lumiclip {

namespace {

const std::vector<EncoderId>& installedEncoders() {
    static const std::vector<EncoderId> encoders = [] {
        std::vector<EncoderId> list;
        const ImageLibrary* library = StartedImageLibrary();
        if (!library) {
            return list;
        }
        // The format table is the one list of what can be written; only the savers this build of the
        // library really has count.
        for (const ImageFormat& format : kImageFormats) {
            if (library->hasSaver(format.saver)) {
                list.push_back({QString::fromLatin1(format.saver), QString::fromLatin1(format.mimeType)});
            }
        }
        return list;
    }();
    return encoders;
}

}  // namespace

int MimeIndexForFormat(const QString& format) {
    const ImageFormat* known = FindImageFormat(format, Qt::CaseSensitive);
    const QLatin1String mimeType(known ? known->mimeType : "image/jpeg");
    for (std::size_t i = 0; i < kImageMimeTypes.size(); ++i) {
        if (mimeType == QLatin1String(kImageMimeTypes[i])) {
            return static_cast<int>(i);
        }
    }
    return 1;
}

int FindEncoderByMime(const QString& mimeType, EncoderId* pClsid) {
    const std::vector<EncoderId>& encoders = installedEncoders();
    for (size_t i = 0; i < encoders.size(); ++i) {
        if (encoders[i].mimeType == mimeType) {
            *pClsid = encoders[i];
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool EncoderForFormat(const QString& format, EncoderId* pClsid) {
    const ImageFormat* known = FindImageFormat(format, Qt::CaseSensitive);
    return FindEncoderByMime(QLatin1String(known ? known->mimeType : "image/jpeg"), pClsid) != -1;
}

}  // namespace lumiclip
