#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace lumiclip {

// Cuts off clients that take too long to send their request, however steadily they dribble it (an
// idle time-out never fires for a byte a second): a connection whose whole request is not in within
// the limit, counted from its opening (or, on a connection kept alive, from its last answer plus the
// time it may idle: a client that keeps a connection for later is no slow client), has its socket
// shut down, and the
// server's own threads then see it end and close it. The server reports each connection opened before
// it uses it and closed before it closes its socket; both take the lock the watchdog takes, so the
// descriptor it shuts down is always still that connection's. Safe from any thread.
class RequestWatchdog final {
public:
    RequestWatchdog(std::chrono::seconds limit, std::chrono::seconds idle);
    ~RequestWatchdog();
    RequestWatchdog(const RequestWatchdog&) = delete;
    RequestWatchdog& operator=(const RequestWatchdog&) = delete;

    void start();
    void stop();

    void opened(const void* connection, int fd);
    void closed(const void* connection);
    // The whole request is in: the answer is the server's to make.
    void requestIn(const void* connection);
    // Answered: the next request's time starts now.
    void answered(const void* connection);

private:
    using Clock = std::chrono::steady_clock;
    struct Watched {
        int fd = -1;
        Clock::time_point since;
        bool requestIn = false;
    };
    void watch();

    std::chrono::seconds m_limit;
    std::chrono::seconds m_idle;
    std::mutex m_mutex;
    std::unordered_map<const void*, Watched> m_watched;
    std::thread m_thread;
    std::condition_variable m_wake;
    bool m_stop = false;
};

}  // namespace lumiclip
