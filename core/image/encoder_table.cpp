#include "core/image/encoder_table.h"

#include "core/image/image_format.h"
#include "core/image/image_library.h"

#include <vector>

namespace lumiclip {

namespace {

struct Candidate {
    const char* mimeType;
    const char* saver;
};

// In the order the library is asked; only the savers this build of the library really has count.
constexpr Candidate kCandidates[] = {
    {"image/jpeg", "jpegsave_buffer"}, {"image/gif", "gifsave_buffer"},   {"image/tiff", "tiffsave_buffer"},
    {"image/png", "pngsave_buffer"},   {"image/webp", "webpsave_buffer"},
};

const std::vector<EncoderId>& installedEncoders() {
    static const std::vector<EncoderId> encoders = [] {
        std::vector<EncoderId> list;
        const ImageLibrary* library = StartedImageLibrary();
        if (!library) {
            return list;
        }
        for (const Candidate& candidate : kCandidates) {
            if (library->hasSaver(candidate.saver)) {
                list.push_back(
                    {QString::fromLatin1(candidate.saver), QString::fromLatin1(candidate.mimeType)});
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
