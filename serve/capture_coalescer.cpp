#include "serve/capture_coalescer.h"

namespace lumiclip {

CaptureCoalescer::CaptureCoalescer(CaptureService* service, int capacity, int queueLimit, QObject* parent)
    : QObject(parent), m_service(service), m_capacity(capacity), m_queueLimit(queueLimit) {
    connect(service, &CaptureService::finished, this, &CaptureCoalescer::onFinished);
}

CaptureCoalescer::Asked CaptureCoalescer::ask(const CaptureParams& params, Done done) {
    if (const auto found = m_byKey.constFind(params.key); found != m_byKey.cend()) {
        m_captures[*found].waiting.push_back(std::move(done));
        return Asked::Joined;
    }
    // Beyond the pages the browsers take at once, queueLimit more may wait.
    if (m_captures.size() >= qsizetype{m_capacity} + m_queueLimit) {
        return Asked::QueueFull;
    }
    const CaptureService::Ticket ticket = m_service->submit(params.request);
    m_byKey.insert(params.key, ticket);
    Capture& capture = m_captures[ticket];
    capture.params = params;
    capture.waiting.push_back(std::move(done));
    sample();
    return Asked::Started;
}

void CaptureCoalescer::onFinished(CaptureService::Ticket ticket, const CaptureResult& result) {
    const auto found = m_captures.find(ticket);
    if (found == m_captures.end()) {
        return;
    }
    const Capture capture = std::move(*found);
    m_captures.erase(found);
    m_byKey.remove(capture.params.key);
    sample();
    if (m_onCaptured) {
        m_onCaptured(capture.params, result);
    }
    for (size_t i = 0; i < capture.waiting.size(); ++i) {
        capture.waiting[i](result, i > 0);
    }
    if (m_captures.isEmpty()) {
        emit drained();
    }
}

void CaptureCoalescer::sample() {
    m_inFlight = static_cast<int>(m_captures.size());
    m_queued = m_service->queued();
}

}  // namespace lumiclip
