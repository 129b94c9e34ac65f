#include "cli/wait_end_name.h"

namespace lumiclip {

QString WaitEndName(WaitEnd how, const CaptureRequest& options) {
    switch (how) {
        case WaitEnd::Loaded:
            if (options.wait.delayMs > 0) {
                return QStringLiteral("delay");
            }
            if (!options.wait.selector.isEmpty()) {
                return QStringLiteral("selector");
            }
            return WaitConditionName(options.wait.condition);
        case WaitEnd::Stopped:
            return QStringLiteral("stopped");
        case WaitEnd::TimedOut:
            return QStringLiteral("timeout");
        case WaitEnd::FinishedEarly:
            return QStringLiteral("early");
        case WaitEnd::None:
            break;
    }
    return {};
}

}  // namespace lumiclip
