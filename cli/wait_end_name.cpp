#include "cli/wait_end_name.h"

namespace lumiclip {

QString WaitEndName(WaitEnd how, const CaptureOptions& options) {
    switch (how) {
        case WaitEnd::Loaded:
            if (options.delayMs > 0) {
                return QStringLiteral("delay");
            }
            if (!options.waitFor.isEmpty()) {
                return QStringLiteral("selector");
            }
            switch (options.wait) {
                case WaitCondition::DomContentLoaded:
                    return QStringLiteral("domcontentloaded");
                case WaitCondition::NetworkIdle:
                    return QStringLiteral("networkidle");
                case WaitCondition::Load:
                    break;
            }
            return QStringLiteral("load");
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
