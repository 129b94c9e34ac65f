#pragma once

#include "core/capture/address_policy.h"
#include "core/capture/time_limits.h"

#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <QStringList>

namespace lumiclip {

struct ImageFormat;

// Sizes a capture accepts: 1 to kMaxCaptureSide pixels each way. The browser renders at most that
// much each way in one screenshot.
inline constexpr int kMaxCaptureSide = 16384;
// A full page may be taller, up to this: it is captured in bands and they are joined.
inline constexpr int kMaxFullPageHeight = 65500;

// What the page must reach before the snapshot, besides any element to wait for.
enum class WaitCondition {
    Load,              // the top-level document's load event, its frames' loads counted on the way
    DomContentLoaded,  // the top-level document is parsed
    NetworkIdle,       // the browser's own lifecycle event: no network activity for 500 ms
};

// The name of a condition as the command line, the result lines and the service use it ("load",
// "domcontentloaded", "networkidle"); WaitConditionNamed is the way back (any case), false when the
// name is none of them.
QString WaitConditionName(WaitCondition condition);
bool WaitConditionNamed(const QString& name, WaitCondition* condition);
// The browser's lifecycle event that meets the condition ("load", "DOMContentLoaded", "networkIdle").
QString WaitConditionLifecycleEvent(WaitCondition condition);
// The names, in order, for messages and help: "load, domcontentloaded or networkidle".
QString WaitConditionNames();

// What of the page is captured.
enum class CaptureKind {
    View,      // the view, as the desktop program captures it
    FullPage,  // the whole document at the view's width, at most ShotOptions::maxHeight high
    Element,   // the box of the element the selector matches
};

// Where a capture's image goes.
enum class CaptureOutput {
    File,   // written whole or not at all to the output's path
    Bytes,  // handed back in the result; nothing is written to disk
};

// A cookie the page starts with. Without a domain it is the address's own (set for its URL).
struct Cookie {
    QString name;
    QString value;
    QString domain;
    QString path = QStringLiteral("/");
    bool secure = false;
    bool httpOnly = false;
    // Seconds since the epoch; 0: for the session.
    qint64 expires = 0;

    bool operator==(const Cookie&) const = default;
};

// How the page is set up before it loads: what its browser context and page target are prepared with.
// A target prepared for one set-up serves any capture of an equal one.
struct PageSetUp {
    int viewWidth = 810;
    int viewHeight = 600;
    // Device pixels per CSS pixel (1 to 4): renderings for high-density screens.
    double scaleFactor = 1;
    // The browser's user agent (empty: its own), extra request headers and the dark colour scheme.
    QString userAgent;
    QList<QPair<QString, QString>> headers;
    bool dark = false;
    // A phone or tablet: the page's mobile view (its viewport meta counts) and touch, with a coarse
    // pointer and no hover.
    bool mobile = false;
    bool touch = false;
    // The page's languages and Accept-Language ("de-CH"), and its time zone ("Europe/Zurich"); empty:
    // the browser's own.
    QString locale;
    QString timezone;
    // The page is told that reduced motion is preferred.
    bool reducedMotion = false;
    // Requests never made: address patterns with * wildcards, as the browser's own blocking takes them.
    QStringList block;
    // Credentials for HTTP authentication, given only to the address's own host ("user:password" as
    // given; empty: none).
    QString auth;
    // Cookies set in the page's own context before it loads.
    QList<Cookie> cookies;
    // The proxy of the page's context ("socks5://host:1080"; empty: the browser's own way out), and
    // whether certificate errors are ignored.
    QString proxy;
    bool ignoreHttpsErrors = false;
    // Which addresses the page, its redirects and every request it makes may reach (unguarded: any).
    AddressPolicy addresses;

    bool operator==(const PageSetUp&) const = default;
};

// What the page must reach before the snapshot, all inside the time limit: the condition, then an
// element that matches selector and is visible (empty: none), then the expression, then delayMs more.
struct WaitOptions {
    WaitCondition condition = WaitCondition::Load;
    QString selector;
    // Then until this expression of the page's is truthy (checked each animation frame; empty: none).
    QString expression;
    int delayMs = 0;
    // At the time limit, the page as it is then is captured instead of failing (the desktop program's
    // way; the result says the wait timed out).
    bool captureAtLimit = false;

    bool operator==(const WaitOptions&) const = default;
};

// What is captured, and what is done to the page just before: clicks, a script run after the waits (its
// source), selectors of elements hidden for the snapshot (cookie banners and the like), animations
// brought to rest.
struct ShotOptions {
    CaptureKind kind = CaptureKind::View;
    // The element of CaptureKind::Element.
    QString selector;
    // Elements clicked in order after the waits, before the script (a cookie banner's "accept").
    QStringList clicks;
    QString script;
    QStringList hide;
    // Finite animations and transitions jump to their end, infinite ones are cancelled.
    bool freezeAnimations = false;
    // A full page is scrolled through before it is captured, so that content loaded or shown as it
    // comes into view (lazy images, an IntersectionObserver's) is there.
    bool lazyLoad = true;
    // A full page's height at most, in device pixels (up to kMaxFullPageHeight); what is below is left
    // out.
    int maxHeight = kMaxCaptureSide;

    bool operator==(const ShotOptions&) const = default;
};

// The image made of the rendering. A side of 0 keeps the proportions of what was captured (the
// command-line tool only; the desktop program's sizes are exact).
struct ImageOptions {
    int width = 180;
    int height = 138;
    // A format name of the format table ("JPG", "GIF", "PNG", "WEBP").
    QString format = QStringLiteral("JPG");
    // 1 to 100 for the formats that have a quality (JPEG, WebP); 0: the image library's default.
    int quality = 0;
    // Further sizes made of the same rendering, each an image of its own (the page is loaded and drawn
    // once for all of them).
    QList<QSize> moreSizes;

    bool operator==(const ImageOptions&) const = default;
};

// Where the image goes.
struct OutputOptions {
    CaptureOutput to = CaptureOutput::File;
    // The image file, extension included, used as it is (CaptureOutput::File).
    QString path;
    // Whether the program made the file's name inside a folder (from the address or a template): a
    // link planted there under that name is then replaced, never followed.
    bool nameMade = false;
    // The files of the image's further sizes, in their order (CaptureOutput::File).
    QStringList morePaths;

    bool operator==(const OutputOptions&) const = default;
};

// Everything one capture needs, from the browser to the image: built once where the values enter (the
// main window's settings, the settings file, the command line, a request to the service), checked there
// with CheckCaptureRequest, then passed down whole.
struct CaptureRequest {
    // What the browser loads.
    QString url;
    PageSetUp page;
    WaitOptions wait;
    ShotOptions shot;
    ImageOptions image;
    OutputOptions output;
    TimeLimits limits;

    bool operator==(const CaptureRequest&) const = default;
};

// The rules a request is checked by: how far its values may go depends on where they came from.
struct CaptureProfile {
    // Each side of the view and of the image.
    int minSide = 1;
    int maxSide = kMaxCaptureSide;
    // An image side may be 0 (not both): that side keeps the proportions of what is captured.
    bool proportional = false;
    // Only the formats the desktop program offers.
    bool desktopFormats = false;
};

// The desktop program's options dialog: sides from 10 to 1024, its own formats.
inline constexpr CaptureProfile kDesktopProfile{10, 1024, false, true};
// What a settings file may hold and still be captured, values edited by hand beyond the dialog's range
// included: exact sides from 1 to kMaxCaptureSide.
inline constexpr CaptureProfile kSettingsProfile{1, kMaxCaptureSide, false, false};
// The command line and the service: sides from 1 to kMaxCaptureSide, an image side of 0 in proportion.
inline constexpr CaptureProfile kCommandLineProfile{1, kMaxCaptureSide, true, false};

// Empty when the view and image sizes are within the profile, else a message naming the bad value.
QString CheckCaptureSizes(int viewWidth, int viewHeight, int imageWidth, int imageHeight,
                          const CaptureProfile& profile = kSettingsProfile);
// Empty when the request can be captured under the profile, else a message naming the bad value: its
// sizes, its format (known to the profile, the image's sides within what the format holds), quality,
// scale factor and the view in device pixels (within kMaxCaptureSide).
QString CheckCaptureRequest(const CaptureRequest& request,
                            const CaptureProfile& profile = kCommandLineProfile);

// The format the desktop program writes for the format name of its settings, whose file is named with
// that name's extension: the desktop format of that name compared without regard to case (the options
// dialog shows "png" as PNG, and the file is website.png), JPEG for a blank name (read as the default at
// the next start); null for any other name (a format it does not offer, "WEBP" or "BMP"), which it must
// refuse rather than write JPEG bytes under that name.
const ImageFormat* DesktopImageFormat(const QString& name);

// The image size for a capture of captured pixels: the given size, or with a side of 0 that side in the
// proportions of what was captured (rounded; a width 1 to kMaxCaptureSide, a height 1 to
// kMaxFullPageHeight).
QSize ImageSizeFor(int imageWidth, int imageHeight, QSize captured);

}  // namespace lumiclip
