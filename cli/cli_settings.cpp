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
    // Each option the command line did not set takes its default from the file, where the file has one;
    // the flags' own values were checked as they were read.
    for (const CliOptionRow& row : CliOptionRows()) {
        if (!row.fromSettings || options->given.contains(row.name)) {
            continue;
        }
        const QString problem = row.fromSettings(settings, options);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("settings file %1: %2").arg(path, problem);
            return false;
        }
    }
    // Then the values together, once.
    const CaptureRequest& capture = options->capture;
    const QString optionsError = CheckCaptureRequest(capture, kCommandLineProfile);
    if (!optionsError.isEmpty()) {
        *error = optionsError;
        return false;
    }
    const ImageFormat* format = FindImageFormat(capture.image.format);
    if (capture.image.quality > 0 && (!format || !format->quality)) {
        QStringList lossy;
        for (const ImageFormat& candidate : kImageFormats) {
            if (candidate.quality) {
                lossy.append(QLatin1String(candidate.name));
            }
        }
        *error = QStringLiteral("--quality: the %1 format has no quality (only %2 have)")
                     .arg(capture.image.format, lossy.join(QStringLiteral(", ")));
        return false;
    }
    // The settings' path with the extension of the format written.
    CaptureSettings asked = settings;
    asked.img_format = capture.image.format;
    *defaultOutput = OutputPathFor(asked);
    return true;
}

}  // namespace lumiclip
