#pragma once

#include "core/browser/browser_process.h"

#include <QObject>
#include <QString>

#include <memory>

namespace lumiclip {

class CdpConnection;

// The one browser of this process: started on first use, kept warm for later captures, started anew
// after it died, and closed when the application ends (or by shutdown()). No browser outlives us: it
// also gets a kill signal when this process dies.
class Browser final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Browser)

public:
    static Browser& shared();

    // Starts the browser if it does not run. The connection is usable right away: the browser reads
    // the pipe once it is up, so the first call simply takes longer.
    bool ensureStarted(QString* error);
    // The connection of the running browser, or null.
    CdpConnection* connection() const { return m_connection; }
    bool isHeadlessShell() const { return m_executable.isHeadlessShell; }
    pid_t pid() const { return m_process ? m_process->pid() : -1; }
    // Asks the browser to close, waits a moment, then kills what is left and removes the profile.
    void shutdown();

    static constexpr int kStartTimeoutMs = 20000;
    // Kills the browser's process group at once; safe to call from a signal handler.
    static void EmergencyKill();

signals:
    void died(const QString& reason);

private:
    Browser();
    ~Browser() override;
    void onConnectionClosed(const QString& reason);

    BrowserExecutable m_executable;
    std::unique_ptr<BrowserProcess> m_process;
    CdpConnection* m_connection = nullptr;
    bool m_hooksInstalled = false;
};

}  // namespace lumiclip
