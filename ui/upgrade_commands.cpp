#include "ui/upgrade_commands.h"

#include "core/upgrade/site_addresses.h"
#include "core/upgrade/upgrade_checker.h"

#include <QDesktopServices>
#include <QUrl>

namespace lumiclip {

bool CheckForNewerVersion(const QString& currentVersion, void* owner) {
    UpgradeCheckerOptions options;
    options.resultOwner = owner;
    CUpgradeChecker checker(options);
    return checker.CheckVersion(QString::fromLatin1(kUpgradeAgent), QString::fromLatin1(kProductDownloadBase),
                                QString::fromLatin1(kVersionFileName), currentVersion);
}

void OpenProductPage() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kProductPage)));
}

void OpenMakerHomePage() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerHomePage)));
}

}  // namespace lumiclip
