#include "serve/request_watchdog.h"

#include <sys/socket.h>

namespace lumiclip {

RequestWatchdog::RequestWatchdog(std::chrono::seconds limit, std::chrono::seconds idle)
    : m_limit(limit), m_idle(idle) {}

RequestWatchdog::~RequestWatchdog() {
    stop();
}

void RequestWatchdog::start() {
    m_thread = std::thread([this] { watch(); });
}

void RequestWatchdog::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void RequestWatchdog::opened(const void* connection, int fd) {
    std::lock_guard lock(m_mutex);
    m_watched[connection] = Watched{fd, Clock::now(), false};
}

void RequestWatchdog::closed(const void* connection) {
    std::lock_guard lock(m_mutex);
    m_watched.erase(connection);
}

void RequestWatchdog::requestIn(const void* connection) {
    std::lock_guard lock(m_mutex);
    if (auto found = m_watched.find(connection); found != m_watched.end()) {
        found->second.requestIn = true;
    }
}

void RequestWatchdog::answered(const void* connection) {
    std::lock_guard lock(m_mutex);
    if (auto found = m_watched.find(connection); found != m_watched.end()) {
        found->second.since = Clock::now() + m_idle;
        found->second.requestIn = false;
    }
}

void RequestWatchdog::watch() {
    std::unique_lock lock(m_mutex);
    while (!m_wake.wait_for(lock, std::chrono::milliseconds(250), [this] { return m_stop; })) {
        const Clock::time_point now = Clock::now();
        for (auto& [connection, watched] : m_watched) {
            if (!watched.requestIn && watched.fd >= 0 && now - watched.since > m_limit) {
                ::shutdown(watched.fd, SHUT_RDWR);
                watched.fd = -1;
            }
        }
    }
}

}  // namespace lumiclip
