#pragma once

#include "core/browser/browser_launcher.h"
#include "core/browser/browser_process.h"

#include <memory>

namespace lumiclip {

// The headless shell (else the full browser) on this machine, spoken to over a private pipe: never a
// network port. Every browser it starts is killed with its process group when this process ends,
// whichever way it ends.
class LocalBrowserLauncher final : public BrowserLauncher {
public:
    // extraArguments: switches for the whole browser, after our own.
    explicit LocalBrowserLauncher(QStringList extraArguments = {})
        : m_extraArguments(std::move(extraArguments)) {}
    ~LocalBrowserLauncher() override;

    CdpTransport* launch(QString* error) override;
    bool isRunning() override;
    void stop() override;
    bool isHeadlessShell() const override { return m_executable.isHeadlessShell; }
    pid_t pid() const override { return m_process ? m_process->pid() : -1; }

    // Kills every browser this process started, at once; safe to call from a signal handler.
    static void KillAll();

private:
    BrowserExecutable m_executable;
    QStringList m_extraArguments;
    std::unique_ptr<BrowserProcess> m_process;
};

}  // namespace lumiclip
