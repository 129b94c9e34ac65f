#pragma once

#include "core/capture/ready_watcher.h"

#include <QString>

namespace lumiclip {

// The name a result line gives the way a page's wait ended: the last wait of the options that was
// met ("load", "domcontentloaded", "networkidle", "selector", "delay"), or "stopped", "timeout",
// "early"; empty when no wait ended (the page was never loaded, or failed before it was ready).
QString WaitEndName(WaitEnd how, const CaptureRequest& options);

}  // namespace lumiclip
