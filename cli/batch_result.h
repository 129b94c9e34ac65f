#pragma once

#include "core/capture/capture_error.h"
#include "core/capture/capture_request.h"
#include "core/capture/ready_watcher.h"

#include <QString>

namespace lumiclip {

// One address and where its image goes.
struct BatchItem {
    // As given (reported back as such).
    QString url;
    QString output;
    // The program made the output's name in a folder: a link there is replaced, never followed.
    bool outputNameMade = false;
    // What the browser loads: the address completed; empty means url.
    QString address;
    // Why the address is not loaded at all; empty when it is.
    QString refusal;
    // Which of the capture's sizes this image is: 0 the first, then the further sizes in order. The
    // items of one address follow each other, and one load makes all of them.
    int sizeIndex = 0;
    QSize size;
};

struct BatchSettings {
    // Every page's capture: its address and output path are each item's own.
    CaptureRequest capture;
    // Pages at once on each browser.
    int jobs = 2;
    // How often a page lost with its browser (it died, or its connection dropped) is tried again, on
    // the browser started anew or on another endpoint.
    int retries = 1;
    bool json = false;
    bool progress = false;
    // An item whose output file exists is reported as skipped, not loaded.
    bool skipExisting = false;
};

struct BatchResult {
    QString url;
    QString output;
    bool ok = false;
    QString error;
    ErrorKind errorKind = ErrorKind::None;
    qint64 bytes = 0;
    qint64 milliseconds = 0;
    // The image's size: the one written, else the one asked for (a side of 0: in proportion).
    int width = 0;
    int height = 0;
    // Not loaded: the output file was already there (ok, with that file's byte count).
    bool skipped = false;
    // What the page itself said: its address after redirects (empty when it never loaded), the HTTP
    // status of its document (0 when there was none), its title and how the wait for it ended.
    QString finalUrl;
    int status = 0;
    QString title;
    WaitEnd waitEnd = WaitEnd::None;
    // The endpoint of the last try, as given; empty for the local browser or no try at all.
    QString endpoint;
};

}  // namespace lumiclip
