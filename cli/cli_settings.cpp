#include "cli/cli_settings.h"

#include <QDir>

namespace lumiclip {

bool ApplySettingsDefaults(CliOptions* options, QString* defaultOutput, QString* error) {
    Q_UNUSED(error);
    const QString single = options->urls.size() == 1 ? options->urls.first() : QString();
    *defaultOutput = QDir::current().filePath(FileNameForUrl(single, options->format));
    return true;
}

}  // namespace lumiclip
