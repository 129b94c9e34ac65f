#pragma once

namespace lumiclip {

// Routes ShowMessageBox to real QMessageBox windows. The desktop program calls this at start-up.
void InstallWidgetMessageBoxes();

}  // namespace lumiclip
