#include "core/capture/capture_request.h"

#include "core/image/image_format.h"

#include <algorithm>
#include <array>

namespace lumiclip {

namespace {

struct NamedCondition {
    WaitCondition condition;
    const char* name;
    // The browser's lifecycle event that meets it.
    const char* lifecycleEvent;
};

// The one list of the conditions' names: the parser, the help and the result lines take them from here.
constexpr std::array<NamedCondition, 3> kConditionNames{{
    {WaitCondition::Load, "load", "load"},
    {WaitCondition::DomContentLoaded, "domcontentloaded", "DOMContentLoaded"},
    {WaitCondition::NetworkIdle, "networkidle", "networkIdle"},
}};

}  // namespace

QString WaitConditionName(WaitCondition condition) {
    for (const NamedCondition& named : kConditionNames) {
        if (named.condition == condition) {
            return QLatin1String(named.name);
        }
    }
    return {};
}

QString WaitConditionLifecycleEvent(WaitCondition condition) {
    for (const NamedCondition& named : kConditionNames) {
        if (named.condition == condition) {
            return QLatin1String(named.lifecycleEvent);
        }
    }
    return {};
}

bool WaitConditionNamed(const QString& name, WaitCondition* condition) {
    for (const NamedCondition& named : kConditionNames) {
        if (name.compare(QLatin1String(named.name), Qt::CaseInsensitive) == 0) {
            *condition = named.condition;
            return true;
        }
    }
    return false;
}

QString WaitConditionNames() {
    QStringList names;
    for (const NamedCondition& named : kConditionNames) {
        names.append(QLatin1String(named.name));
    }
    const QString last = names.takeLast();
    return names.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last;
}

QString CheckCaptureSizes(int viewWidth, int viewHeight, int imageWidth, int imageHeight,
                          const CaptureProfile& profile) {
    const struct {
        const char* name;
        int value;
    } sizes[] = {{"view width", viewWidth},
                 {"view height", viewHeight},
                 {"image width", imageWidth},
                 {"image height", imageHeight}};
    for (const auto& size : sizes) {
        if (size.value < profile.minSide || size.value > profile.maxSide) {
            return QStringLiteral("%1 %2 is out of range (%3 to %4 pixels)")
                .arg(QLatin1String(size.name), QString::number(size.value), QString::number(profile.minSide),
                     QString::number(profile.maxSide));
        }
    }
    return {};
}

QString CheckCaptureRequest(const CaptureRequest& request, const CaptureProfile& profile) {
    const PageSetUp& page = request.page;
    const ImageOptions& image = request.image;
    const ShotOptions& shot = request.shot;
    const bool zeroWidth = profile.proportional && image.width == 0;
    const bool zeroHeight = profile.proportional && image.height == 0;
    if (zeroWidth && zeroHeight) {
        return QStringLiteral("image size 0x0 has no side to keep the proportions from");
    }
    // A side of 0 is checked as the least side here: the other side of the pair decides.
    QString error =
        CheckCaptureSizes(page.viewWidth, page.viewHeight, zeroWidth ? profile.minSide : image.width,
                          zeroHeight ? profile.minSide : image.height, profile);
    if (!error.isEmpty()) {
        return error;
    }
    for (const QSize& more : image.moreSizes) {
        const bool zero = profile.proportional && (more.width() == 0) != (more.height() == 0);
        QString sizeError = CheckCaptureSizes(
            page.viewWidth, page.viewHeight, zero && more.width() == 0 ? profile.minSide : more.width(),
            zero && more.height() == 0 ? profile.minSide : more.height(), profile);
        if (!sizeError.isEmpty()) {
            return sizeError;
        }
    }
    const ImageFormat* format = FindImageFormat(image.format);
    if (!format || (profile.desktopFormats && !format->desktop)) {
        return QStringLiteral("unknown format \"%1\" (%2)")
            .arg(image.format, ImageFormatNames(profile.desktopFormats).join(QStringLiteral(", ")));
    }
    // Known before any page loads, rather than found by the encoder after each page has loaded.
    QList<QSize> sizes{QSize(image.width, image.height)};
    sizes += image.moreSizes;
    for (const QSize& size : sizes) {
        if (size.width() > format->maxSide || size.height() > format->maxSide) {
            return QStringLiteral(
                       "image size %1x%2 is too large for %3, which holds at most %4 pixels a side")
                .arg(QString::number(size.width()), QString::number(size.height()), image.format,
                     QString::number(format->maxSide));
        }
    }
    if (shot.maxHeight < 1 || shot.maxHeight > kMaxFullPageHeight) {
        return QStringLiteral("maximum height %1 is out of range (1 to %2)")
            .arg(QString::number(shot.maxHeight), QString::number(kMaxFullPageHeight));
    }
    // A page taller than a format holds could only fail after it has loaded: a height kept in
    // proportion may come out as tall as the page.
    if (shot.kind == CaptureKind::FullPage && shot.maxHeight > kMaxCaptureSide &&
        shot.maxHeight > format->maxSide && std::any_of(sizes.cbegin(), sizes.cend(), [format](QSize size) {
            return size.height() == 0 || size.height() > format->maxSide;
        })) {
        return QStringLiteral(
                   "%1 holds at most %2 pixels a side: a full page up to %3 pixels high needs "
                   "another format, or an image height of at most %2")
            .arg(image.format, QString::number(format->maxSide), QString::number(shot.maxHeight));
    }
    if (image.quality < 0 || image.quality > 100) {
        return QStringLiteral("quality %1 is out of range (1 to 100)").arg(image.quality);
    }
    if (!(page.scaleFactor >= 1 && page.scaleFactor <= 4)) {
        return QStringLiteral("scale factor %1 is out of range (1 to 4)").arg(page.scaleFactor);
    }
    // The rendering of the view is view x scale device pixels, and must fit a raster.
    if (page.viewWidth * page.scaleFactor > kMaxCaptureSide ||
        page.viewHeight * page.scaleFactor > kMaxCaptureSide) {
        return QStringLiteral("view %1x%2 at scale factor %3 is over %4 device pixels")
            .arg(QString::number(page.viewWidth), QString::number(page.viewHeight),
                 QString::number(page.scaleFactor), QString::number(kMaxCaptureSide));
    }
    return {};
}

const ImageFormat* DesktopImageFormat(const QString& name) {
    const ImageFormat* format =
        FindImageFormat(name.isEmpty() ? QStringLiteral("JPG") : name, Qt::CaseInsensitive);
    return format && format->desktop ? format : nullptr;
}

QSize ImageSizeFor(int imageWidth, int imageHeight, QSize captured) {
    if ((imageWidth != 0 && imageHeight != 0) || captured.isEmpty()) {
        return {imageWidth, imageHeight};
    }
    // A height in proportion may be as tall as a full page; a width, as wide as a view.
    const auto proportional = [](int given, int capturedOther, int capturedGiven, int most) {
        const qint64 side =
            (qint64{given} * capturedOther * 2 + capturedGiven) / (qint64{capturedGiven} * 2);  // rounded
        return static_cast<int>(std::clamp<qint64>(side, 1, most));
    };
    if (imageHeight == 0) {
        return {imageWidth,
                proportional(imageWidth, captured.height(), captured.width(), kMaxFullPageHeight)};
    }
    return {proportional(imageHeight, captured.width(), captured.height(), kMaxCaptureSide), imageHeight};
}

}  // namespace lumiclip
