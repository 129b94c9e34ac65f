#pragma once

#include <QString>

#include <array>

namespace lumiclip {

struct PageSetUp;

// A device a page can be captured as: its view in CSS pixels, device pixels per CSS pixel, whether it is
// a phone or tablet with touch, and the agent its browser sends.
struct Device {
    const char* name;
    int width;
    int height;
    double scaleFactor;
    bool mobile;
    bool touch;
    // Empty: the browser's own.
    const char* userAgent;
};

inline constexpr std::array<Device, 6> kDevices{{
    {"iPhone 15", 393, 852, 3, true, true,
     "Mozilla/5.0 (iPhone; CPU iPhone OS 17_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
     "Version/17.0 Mobile/15E148 Safari/604.1"},
    {"iPhone SE", 375, 667, 2, true, true,
     "Mozilla/5.0 (iPhone; CPU iPhone OS 16_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) "
     "Version/16.0 Mobile/15E148 Safari/604.1"},
    {"Pixel 8", 412, 915, 2.625, true, true,
     "Mozilla/5.0 (Linux; Android 14; Pixel 8) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 "
     "Mobile Safari/537.36"},
    {"Galaxy S23", 360, 780, 3, true, true,
     "Mozilla/5.0 (Linux; Android 14; SM-S911B) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0.0.0 "
     "Mobile Safari/537.36"},
    {"iPad", 820, 1180, 2, true, true,
     "Mozilla/5.0 (iPad; CPU OS 17_0 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Version/17.0 "
     "Mobile/15E148 Safari/604.1"},
    {"Desktop 1080p", 1920, 1080, 1, false, false, ""},
}};

// The device of a name, compared without regard to case; null when there is none.
const Device* FindDevice(const QString& name);
// The device's view, scale factor, mobile and touch emulation and agent, set on the page set-up.
void ApplyDevice(const Device& device, PageSetUp* page);
// The names, for messages: "iPhone 15", "iPhone SE", ...
QString DeviceNames();
// One line a device, for --device list: name, view, scale factor, kind.
QString DeviceList();

}  // namespace lumiclip
