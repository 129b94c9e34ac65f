#pragma once

#include "core/upgrade/site_addresses.h"
#include "core/upgrade/upgrade_checker.h"

#include <QString>

namespace lumiclip {

// The Help menu's version check: one checker, the product site's download folder, the agent string.
// What the check has to say is shown once it is over, one box per result in order: errors captioned
// "Upgrading Software" with the stop icon and no owner, the answer in the application's box owned by
// owner (the main window, a QWidget*, or null). Returns true when a newer version was announced.
// The checker's options and the download folder can be changed for tests.
bool CheckForNewerVersion(const QString& currentVersion, void* owner = nullptr,
                          UpgradeCheckerOptions options = {},
                          const QString& downloadBase = QString::fromLatin1(kProductDownloadBase));

// Open the product's page and the maker's home page in the user's browser; nothing is reported.
void OpenProductPage();
void OpenMakerHomePage();

}  // namespace lumiclip
