#pragma once

#include "core/engine/capture_service.h"
#include "serve/capture_params.h"

#include <QByteArray>
#include <QHash>
#include <QObject>

#include <atomic>
#include <functional>
#include <vector>

namespace lumiclip {

// Hands captures to the engine so that identical requests share one: a request whose key is being
// captured waits for that capture rather than starting another. Beyond the engine's pages at once, at
// most queueLimit captures wait for a browser; a request past that is turned away at once. Lives on the
// engine's thread; the figures are safe to read from any.
class CaptureCoalescer final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CaptureCoalescer)

public:
    // The result, and whether this request shared a capture another request started.
    using Done = std::function<void(const CaptureResult& result, bool collapsed)>;
    enum class Asked { Started, Joined, QueueFull };

    // capacity: the pages the engine captures at once (pages per browser times browsers).
    CaptureCoalescer(CaptureService* service, int capacity, int queueLimit, QObject* parent = nullptr);

    Asked ask(const CaptureParams& params, Done done);
    // Called once per capture, before the requests that wait for it are told (the cache stores it).
    void setOnCaptured(
        std::function<void(const CaptureParams& params, const CaptureResult& result)> onCaptured) {
        m_onCaptured = std::move(onCaptured);
    }

    // Captures under way (each once, however many requests wait for it) and those waiting for a browser.
    int inFlight() const { return m_inFlight.load(); }
    int queued() const { return m_queued.load(); }

signals:
    // Every capture asked for has finished.
    void drained();

private:
    struct Capture {
        CaptureParams params;
        std::vector<Done> waiting;
    };
    void onFinished(CaptureService::Ticket ticket, const CaptureResult& result);
    void sample();

    CaptureService* m_service;
    int m_capacity;
    int m_queueLimit;
    QHash<QByteArray, CaptureService::Ticket> m_byKey;
    QHash<CaptureService::Ticket, Capture> m_captures;
    std::function<void(const CaptureParams&, const CaptureResult&)> m_onCaptured;
    std::atomic<int> m_inFlight{0};
    std::atomic<int> m_queued{0};
};

}  // namespace lumiclip
