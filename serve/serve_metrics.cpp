#include "serve/serve_metrics.h"

#include <prometheus/text_serializer.h>

#include <string>

namespace lumiclip {

namespace {

prometheus::Counter& counter(prometheus::Registry& registry, const char* name, const char* help) {
    return prometheus::BuildCounter().Name(name).Help(help).Register(registry).Add({});
}

prometheus::Gauge& gauge(prometheus::Registry& registry, const char* name, const char* help) {
    return prometheus::BuildGauge().Name(name).Help(help).Register(registry).Add({});
}

void grow(prometheus::Counter& counter, quint64 now, quint64 before) {
    if (now > before) {
        counter.Increment(static_cast<double>(now - before));
    }
}

}  // namespace

ServeMetrics::ServeMetrics()
    : m_registry(std::make_shared<prometheus::Registry>()),
      m_requests(prometheus::BuildCounter()
                     .Name("lumiclip_serve_requests_total")
                     .Help("Requests answered, by HTTP status")
                     .Register(*m_registry)),
      m_hits(counter(*m_registry, "lumiclip_serve_cache_hits_total", "Captures answered from the cache")),
      m_misses(counter(*m_registry, "lumiclip_serve_cache_misses_total", "Captures not in the cache")),
      m_evictions(counter(*m_registry, "lumiclip_serve_cache_evictions_total",
                          "Images removed from the cache to keep it within its size")),
      m_expirations(counter(*m_registry, "lumiclip_serve_cache_expirations_total",
                            "Images removed from the cache after their time to live")),
      m_cacheBytes(gauge(*m_registry, "lumiclip_serve_cache_bytes", "Bytes of images in the cache")),
      m_cacheEntries(gauge(*m_registry, "lumiclip_serve_cache_entries", "Images in the cache")),
      m_inFlight(gauge(*m_registry, "lumiclip_serve_captures_in_flight", "Pages being captured")),
      m_queued(gauge(*m_registry, "lumiclip_serve_queue_length", "Captures waiting for a browser")),
      m_captureSeconds(
          prometheus::BuildHistogram()
              .Name("lumiclip_serve_capture_seconds")
              .Help("Time a capture took, from its request to its image")
              .Register(*m_registry)
              .Add({}, prometheus::Histogram::BucketBoundaries{0.25, 0.5, 1, 2, 4, 8, 15, 30, 60})),
      m_restarts(counter(*m_registry, "lumiclip_serve_browser_restarts_total",
                         "Browsers started again after theirs was lost")) {}

void ServeMetrics::answered(int status) {
    m_requests.Add({{"code", std::to_string(status)}}).Increment();
}

void ServeMetrics::captureTook(double seconds) {
    m_captureSeconds.Observe(seconds);
}

QByteArray ServeMetrics::exposition(const Sampled& sampled) {
    {
        std::lock_guard lock(m_sampleMutex);
        grow(m_hits, sampled.hits, m_last.hits);
        grow(m_misses, sampled.misses, m_last.misses);
        grow(m_evictions, sampled.evictions, m_last.evictions);
        grow(m_expirations, sampled.expirations, m_last.expirations);
        grow(m_restarts, sampled.restarts, m_last.restarts);
        m_last = sampled;
    }
    m_cacheBytes.Set(static_cast<double>(sampled.cacheBytes));
    m_cacheEntries.Set(static_cast<double>(sampled.cacheEntries));
    m_inFlight.Set(sampled.inFlight);
    m_queued.Set(sampled.queued);
    const std::string text = prometheus::TextSerializer().Serialize(m_registry->Collect());
    return QByteArray::fromStdString(text);
}

}  // namespace lumiclip
