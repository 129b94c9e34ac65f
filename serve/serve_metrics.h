#pragma once

#include <QByteArray>

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <functional>
#include <memory>
#include <mutex>

namespace lumiclip {

// What the service counts, for Prometheus: requests by status, the cache's hits, misses and evictions,
// captures in flight and waiting, the time captures take, and browser restarts. Safe from any thread.
class ServeMetrics final {
public:
    // Figures kept elsewhere (the cache's counters, the engine's queue), read at each scrape.
    struct Sampled {
        quint64 hits = 0;
        quint64 misses = 0;
        quint64 evictions = 0;
        quint64 expirations = 0;
        qint64 cacheBytes = 0;
        qint64 cacheEntries = 0;
        int inFlight = 0;
        int queued = 0;
        quint64 restarts = 0;
    };

    ServeMetrics();
    ServeMetrics(const ServeMetrics&) = delete;
    ServeMetrics& operator=(const ServeMetrics&) = delete;

    void answered(int status);
    void captureTook(double seconds);
    // The exposition in Prometheus' text format, with the sampled figures as they are now.
    QByteArray exposition(const Sampled& sampled);

private:
    std::shared_ptr<prometheus::Registry> m_registry;
    prometheus::Family<prometheus::Counter>& m_requests;
    prometheus::Counter& m_hits;
    prometheus::Counter& m_misses;
    prometheus::Counter& m_evictions;
    prometheus::Counter& m_expirations;
    prometheus::Gauge& m_cacheBytes;
    prometheus::Gauge& m_cacheEntries;
    prometheus::Gauge& m_inFlight;
    prometheus::Gauge& m_queued;
    prometheus::Histogram& m_captureSeconds;
    prometheus::Counter& m_restarts;
    // Counters follow the cache's own totals: each scrape adds what they grew by since the last.
    std::mutex m_sampleMutex;
    Sampled m_last;
};

}  // namespace lumiclip
