#pragma once

#include <QString>

#include <sys/types.h>

namespace lumiclip {

class CdpTransport;

// Starts the browser a Browser talks to, and ends it. The local launcher starts the headless shell on a
// private pipe; a test puts a scripted browser here; a browser elsewhere is reached over the network.
class BrowserLauncher {
public:
    BrowserLauncher() = default;
    virtual ~BrowserLauncher() = default;
    BrowserLauncher(const BrowserLauncher&) = delete;
    BrowserLauncher& operator=(const BrowserLauncher&) = delete;

    // Starts (or reaches) a browser: the transport to it, owned by the caller, or null with *error.
    virtual CdpTransport* launch(QString* error) = 0;
    // Whether what launch() started still runs; its transport says the rest.
    virtual bool isRunning() = 0;
    // Ends what launch() started, at once and with all its processes, and removes what it left on
    // disk. Safe to call more than once.
    virtual void stop() = 0;
    // The headless shell lays out targets at their created size; a full browser needs its targets in
    // windows of their own.
    virtual bool isHeadlessShell() const = 0;
    // The browser's process on this machine, or -1.
    virtual pid_t pid() const = 0;
};

}  // namespace lumiclip
