#include "core/image/image_format.h"

namespace lumiclip {

const ImageFormat* FindImageFormat(QStringView name, Qt::CaseSensitivity cs) {
    for (const ImageFormat& format : kImageFormats) {
        if (name.compare(QLatin1String(format.name), cs) == 0) {
            return &format;
        }
    }
    return nullptr;
}

QStringList ImageFormatNames(bool desktopOnly) {
    QStringList names;
    for (const ImageFormat& format : kImageFormats) {
        if (format.desktop || !desktopOnly) {
            names.append(QLatin1String(format.name));
        }
    }
    return names;
}

QStringList SaveAsFilters() {
    QStringList patterns;
    QStringList filters;
    for (const ImageFormat& format : kImageFormats) {
        if (format.desktop) {
            patterns.append(QStringLiteral("*.") + QLatin1String(format.extension));
            filters.append(QLatin1String(format.filter));
        }
    }
    filters.prepend(QStringLiteral("All Supported File (%1)").arg(patterns.join(QLatin1Char(' '))));
    return filters;
}

}  // namespace lumiclip
