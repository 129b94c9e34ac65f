#include "cli/cli_settings.h"

#include "capture/image_writer.h"
#include "ui/capture_settings.h"

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
    if (!options->viewGiven) {
        options->viewWidth = settings.web_width;
        options->viewHeight = settings.web_height;
    }
    if (!options->sizeGiven) {
        options->imageWidth = settings.img_width;
        options->imageHeight = settings.img_height;
    }
    if (!options->formatGiven) {
        // Kept as stored: the engine decides what a name it does not know writes (JPEG).
        options->format = settings.img_format;
    }
    const QString sizeError =
        CheckCaptureSizes(options->viewWidth, options->viewHeight, options->imageWidth, options->imageHeight);
    if (!sizeError.isEmpty()) {
        *error = QStringLiteral("settings file %1: %2").arg(path, sizeError);
        return false;
    }
    *defaultOutput = OutputPathFor(settings);
    if (options->formatGiven) {
        // The settings' path with the extension of the format asked for.
        CaptureSettings asked = settings;
        asked.img_format = options->format;
        *defaultOutput = OutputPathFor(asked);
    }
    return true;
}

}  // namespace lumiclip
