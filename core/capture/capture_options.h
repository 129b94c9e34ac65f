#pragma once

#include "core/capture/time_limits.h"

#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <QStringList>

namespace lumiclip {

// Sizes a capture accepts: 1 to kMaxCaptureSide pixels each way.
inline constexpr int kMaxCaptureSide = 16384;

// What the page must reach before the snapshot, besides any element to wait for.
enum class WaitCondition {
    Load,              // the top-level document's load event, its frames' loads counted on the way
    DomContentLoaded,  // the top-level document is parsed
    NetworkIdle,       // the browser's own lifecycle event: no network activity for 500 ms
};

// What of the page is captured.
enum class CaptureKind {
    View,      // the view, as the desktop program captures it
    FullPage,  // the whole document at the view's width, at most kMaxCaptureSide high
    Element,   // the box of the element the selector matches
};

// Everything one capture needs, from the browser to the image file: built once where the values enter
// (the main window's settings, the settings file and the command line), checked there, then passed
// down whole.
struct CaptureOptions {
    // What the browser loads.
    QString url;
    // The image file, extension included, used as it is.
    QString outputPath;
    // Whether the program made the output's name inside a folder (from the address or a template): a
    // link planted there under that name is then replaced, never followed.
    bool outputNameMade = false;
    int viewWidth = 810;
    int viewHeight = 600;
    int imageWidth = 180;
    int imageHeight = 138;
    // A format name of the format table ("JPG", "GIF", "PNG").
    QString format = QStringLiteral("JPG");
    TimeLimits limits;

    // Waits, all inside the time limit: the condition, then an element that matches waitFor and is
    // visible (empty: none), then delayMs more.
    WaitCondition wait = WaitCondition::Load;
    QString waitFor;
    int delayMs = 0;

    // What is captured; selector names the element of CaptureKind::Element. An image side of 0 keeps
    // the proportions of what was captured (the command-line tool only; the desktop program's sizes are
    // exact).
    CaptureKind kind = CaptureKind::View;
    QString selector;
    // 1 to 100 for the formats that have a quality (JPEG, WebP); 0: the image library's default.
    int quality = 0;
    // Device pixels per CSS pixel (1 to 4): renderings for high-density screens.
    double scaleFactor = 1;

    // Closer to what a person sees: the browser's user agent (empty: its own), extra request headers,
    // the dark colour scheme, a script run after the waits and before the snapshot (its source), and
    // selectors of elements hidden for the snapshot (cookie banners and the like).
    QString userAgent;
    QList<QPair<QString, QString>> headers;
    bool dark = false;
    QString script;
    QStringList hide;
};

// Empty when the view and image sizes can be captured, else a message naming the bad value: the exact
// sizes of the desktop program, each from 1 to kMaxCaptureSide.
QString CheckCaptureSizes(int viewWidth, int viewHeight, int imageWidth, int imageHeight);
// The same for options, whose image may keep one side 0 (proportional), with their quality and scale
// factor; the view in device pixels stays within kMaxCaptureSide.
QString CheckCaptureOptions(const CaptureOptions& options);

// The image size for a capture of captured pixels: the options' size, or with a side of 0 that side in
// the proportions of what was captured (rounded, 1 to kMaxCaptureSide).
QSize ImageSizeFor(int imageWidth, int imageHeight, QSize captured);

}  // namespace lumiclip
