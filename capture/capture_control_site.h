#pragma once

#include <QObject>

namespace lumiclip {

class CdpSession;

// How the host wants its view: laid out in the whole view, without scroll bars and without a border.
// The site turns these host flags into the page settings that give that look.
class CCaptureControlSite final {
public:
    static constexpr unsigned kNo3DBorder = 0x4;
    static constexpr unsigned kScrollNo = 0x8;

    // The host-info flags the site reports.
    static unsigned GetHostInfo() { return kNo3DBorder | kScrollNo; }
    // True when the page must be told to hide its scroll bars.
    static bool HidesScrollbars() { return (GetHostInfo() & kScrollNo) != 0; }
};

}  // namespace lumiclip
