#include "cli/cli_settings.h"

#include "core/image/image_format.h"
#include "core/image/image_writer.h"
#include "core/settings/capture_settings.h"

#include <QDir>
#include <QFileInfo>

namespace lumiclip {

bool ApplySettingsDefaults(CliOptions* options, QString* defaultOutput, QString* error) {
    QString path = options->settingsFile;
    if (!path.isEmpty() && !QFileInfo(path).isFile()) {
        *error = QStringLiteral("--settings: cannot read %1").arg(path);
        return false;
    }
    if (path.isEmpty()) {
        path = SettingsFilePath();
    }
    // A missing file reads as the defaults, like the desktop program.
    const CaptureSettings settings = LoadCaptureSettings(path);
    CaptureOptions& capture = options->capture;
    if (!options->viewGiven) {
        capture.viewWidth = settings.web_width;
        capture.viewHeight = settings.web_height;
    }
    if (!options->sizeGiven) {
        capture.imageWidth = settings.img_width;
        capture.imageHeight = settings.img_height;
    }
    if (!options->formatGiven) {
        // The desktop program writes JPEG for a name it does not know; this tool writes only what the
        // name says, so anything else is the user's to correct.
        const QString format = CliFormatName(settings.img_format);
        if (format.isEmpty()) {
            *error =
                QStringLiteral("settings file %1: img_format \"%2\" is not a format this tool writes (%3)")
                    .arg(path, PrintableText(settings.img_format), CliFormats().join(QStringLiteral(", ")));
            return false;
        }
        capture.format = format;
    }
    // Checked once, here, where the values meet: the flags' own ranges were checked as they were read.
    // The file's sizes are the desktop program's, exact: a side of 0 is the --size flag's alone.
    const QString sizeError =
        CheckCaptureSizes(capture.viewWidth, capture.viewHeight, options->sizeGiven ? 1 : capture.imageWidth,
                          options->sizeGiven ? 1 : capture.imageHeight);
    if (!sizeError.isEmpty()) {
        *error = QStringLiteral("settings file %1: %2").arg(path, sizeError);
        return false;
    }
    const QString optionsError = CheckCaptureOptions(capture);
    if (!optionsError.isEmpty()) {
        *error = optionsError;
        return false;
    }
    const ImageFormat* format = FindImageFormat(capture.format);
    if (capture.quality > 0 && (!format || !format->quality)) {
        QStringList lossy;
        for (const ImageFormat& candidate : kImageFormats) {
            if (candidate.quality) {
                lossy.append(QLatin1String(candidate.name));
            }
        }
        *error = QStringLiteral("--quality: the %1 format has no quality (only %2 have)")
                     .arg(capture.format, lossy.join(QStringLiteral(", ")));
        return false;
    }
    // The settings' path with the extension of the format written.
    CaptureSettings asked = settings;
    asked.img_format = capture.format;
    *defaultOutput = OutputPathFor(asked);
    return true;
}

}  // namespace lumiclip
