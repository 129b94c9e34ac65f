#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>

namespace lumiclip {

// One image format the program writes: everything about it, in one row.
struct ImageFormat {
    // As stored in the settings and shown in lists: "JPG".
    const char* name;
    // Of the files written: "jpg".
    const char* extension;
    const char* mimeType;
    // The image library's saver that writes it to memory.
    const char* saver;
    // The save-as dialog's filter for it.
    const char* filter;
    // Offered by the desktop program's options dialog and save-as dialog.
    bool desktop;
    // Lossy, with a quality from 1 to 100 that its saver takes as "Q".
    bool quality;
    // The most pixels an image of the format has on a side.
    int maxSide;
};

inline constexpr std::array<ImageFormat, 4> kImageFormats{{
    {"JPG", "jpg", "image/jpeg", "jpegsave_buffer", "JPG/JPEG files (*.jpg)", true, true, 65535},
    {"GIF", "gif", "image/gif", "gifsave_buffer", "GIF files (*.gif)", true, false, 65535},
    {"PNG", "png", "image/png", "pngsave_buffer", "PNG files (*.png)", true, false, 0x7fffffff},
    {"WEBP", "webp", "image/webp", "webpsave_buffer", "WebP files (*.webp)", false, true, 16383},
}};

// The format of a name, compared exactly or without regard to case; null when there is none.
const ImageFormat* FindImageFormat(QStringView name, Qt::CaseSensitivity cs = Qt::CaseSensitive);

// The names of the formats, in the table's order; desktopOnly: those the desktop program offers.
QStringList ImageFormatNames(bool desktopOnly = false);

// The save-as dialog's filters: all the desktop formats together first, then each on its own.
QStringList SaveAsFilters();

}  // namespace lumiclip
