#pragma once

#include <QString>

namespace lumiclip {

// The Help menu's version check: one checker, the product site's download folder, the agent string.
// Returns true when a newer version was announced. owner: the main window (QWidget*) or null.
bool CheckForNewerVersion(const QString& currentVersion, void* owner = nullptr);

// Open the product's page and the maker's home page in the user's browser; nothing is reported.
void OpenProductPage();
void OpenMakerHomePage();

}  // namespace lumiclip
