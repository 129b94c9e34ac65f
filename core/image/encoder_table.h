#pragma once

#include "core/image/image_library.h"

#include <QString>

#include <array>

namespace lumiclip {

// The MIME types an image format can name, by index. 0 and 3 are never chosen by a format name.
inline constexpr std::array<const char*, 5> kImageMimeTypes{"image/bmp", "image/jpeg", "image/gif",
                                                            "image/tiff", "image/png"};

// Index into kImageMimeTypes for a format name of the format table, compared exactly (case-sensitive):
// "JPG" 1, "GIF" 2, "PNG" 4; anything else, the empty name included, 1.
int MimeIndexForFormat(const QString& format);

// Identifies an installed encoder: the image library's saver that writes the MIME type. Null until one
// has been found.
struct EncoderId {
    QString saver;
    QString mimeType;
    bool isNull() const { return saver.isEmpty(); }
    bool operator==(const EncoderId&) const = default;
};

// The position of the first installed encoder for mimeType (exact comparison) in the library's list,
// copied to *pClsid; -1 when there is none, leaving *pClsid unchanged.
int FindEncoderByMime(const QString& mimeType, EncoderId* pClsid);

// The installed encoder for a format name of the format table (exact; any other name: JPEG) into
// *pClsid; false when this image library has none, leaving *pClsid unchanged.
bool EncoderForFormat(const QString& format, EncoderId* pClsid);

}  // namespace lumiclip
