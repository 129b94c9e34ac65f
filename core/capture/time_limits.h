#pragma once

namespace lumiclip {

// Every limit of one capture, in one place. The page limit and the final grace together bound the whole
// capture: set-up, wait, stop and snapshot.
struct TimeLimits {
    // The longest the page may load before the capture goes on with what is there. It counts from the
    // capture's start (from the browser's first answer when the capture had to start the browser).
    int pageMs = 30000;
    // After a stop (or at the limit): how long the main frame may take to report that it stopped.
    int stopGraceMs = 500;
    // What the capture may take beyond the page limit, stop and snapshot included, before it fails.
    int finalGraceMs = 3000;
    // How long a failed navigation's error page may take to load before the snapshot goes ahead.
    int errorPageMs = 3000;
    // How long a browser that has just been started may take to answer its first call.
    int browserStartMs = 20000;
    // How long the browser may take to dispose of a capture's context once the capture is over.
    int disposeMs = 10000;

    bool operator==(const TimeLimits&) const = default;
};

}  // namespace lumiclip
