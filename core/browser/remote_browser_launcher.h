#pragma once

#include "core/browser/browser_launcher.h"

#include <QUrl>

namespace lumiclip {

// A browser that runs elsewhere (another machine, a container, a pool of browsers), reached over a
// WebSocket: nothing is started or stopped here, since it is not ours (it serves others too). Launching
// is connecting; stopping is letting go of the connection.
class RemoteBrowserLauncher final : public BrowserLauncher {
public:
    // Longest wait for the browser's socket to open: its address found, connected, the handshake done.
    static constexpr int kConnectMs = 5000;

    // endpoint: ws://, wss://, http:// or https:// (see WebSocketTransport).
    explicit RemoteBrowserLauncher(QUrl endpoint, int connectTimeoutMs = kConnectMs)
        : m_endpoint(std::move(endpoint)), m_connectTimeoutMs(connectTimeoutMs) {}

    CdpTransport* launch(QString* error) override;
    bool isRunning() override { return true; }
    void stop() override {}
    // Not known from here; targets get windows of their own, which every browser accepts.
    bool isHeadlessShell() const override { return false; }
    pid_t pid() const override { return -1; }

    // Whether traffic to the endpoint stays on this machine or is encrypted.
    static bool IsLoopbackOrEncrypted(const QUrl& endpoint);

private:
    QUrl m_endpoint;
    int m_connectTimeoutMs;
};

}  // namespace lumiclip
