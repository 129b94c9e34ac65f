#include "core/browser/local_browser_launcher.h"

#include "core/cdp/pipe_transport.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>

namespace lumiclip {

namespace {

// The process groups of the browsers that run, read by the signal handlers and the exit hook, which
// may run when Qt is already gone.
std::array<std::atomic<pid_t>, 32> g_browserGroups{};

void rememberGroup(pid_t group) {
    static std::once_flag hook;
    std::call_once(hook, [] { std::atexit(LocalBrowserLauncher::KillAll); });
    for (std::atomic<pid_t>& slot : g_browserGroups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, group)) {
            return;
        }
    }
}

void forgetGroup(pid_t group) {
    for (std::atomic<pid_t>& slot : g_browserGroups) {
        pid_t expected = group;
        slot.compare_exchange_strong(expected, 0);
    }
}

}  // namespace

void LocalBrowserLauncher::KillAll() {
    for (const std::atomic<pid_t>& slot : g_browserGroups) {
        const pid_t group = slot.load();
        if (group > 0) {
            ::kill(-group, SIGKILL);
        }
    }
}

LocalBrowserLauncher::~LocalBrowserLauncher() {
    stop();
}

CdpTransport* LocalBrowserLauncher::launch(QString* error) {
    stop();
    m_executable = FindBrowserExecutable();
    auto process = std::make_unique<BrowserProcess>();
    if (!process->start(m_executable, error, m_extraArguments)) {
        return nullptr;
    }
    rememberGroup(process->pid());
    auto* transport = new PipeTransport(process->takeWriteFd(), process->takeReadFd());
    m_process = std::move(process);
    return transport;
}

bool LocalBrowserLauncher::isRunning() {
    return m_process && m_process->isRunning();
}

void LocalBrowserLauncher::stop() {
    if (!m_process) {
        return;
    }
    const pid_t group = m_process->pid();
    m_process->stop();
    forgetGroup(group);
    m_process.reset();
}

}  // namespace lumiclip
