#include "cli/wait_end_name.h"

namespace lumiclip {

QString WaitEndName(WaitEnd how) {
    switch (how) {
        case WaitEnd::Loaded:
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
