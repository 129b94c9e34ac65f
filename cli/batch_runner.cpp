#include "cli/batch_runner.h"

#include "cli/cli_options.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace lumiclip {

namespace {

CaptureServiceSettings ServiceSettings(const BatchSettings& settings) {
    CaptureServiceSettings service;
    service.jobs = settings.jobs;
    service.retries = settings.retries;
    return service;
}

}  // namespace

BatchRunner::BatchRunner(const QList<BrowserEndpoints::Endpoint>& browsers, QList<BatchItem> items,
                         BatchSettings settings, QObject* parent)
    : QObject(parent),
      m_items(std::move(items)),
      m_settings(std::move(settings)),
      m_service(browsers, ServiceSettings(m_settings), m_settings.capture),
      m_printer(m_settings.capture, m_settings.json, m_settings.progress),
      m_browsers(std::max(1, static_cast<int>(browsers.size()))) {
    m_results.resize(m_items.size());
    m_reported.resize(m_items.size(), false);
    connect(&m_service, &CaptureService::finished, this, &BatchRunner::onFinished);
    connect(&m_service, &CaptureService::endpointLost, this,
            [this](const QString& reason, bool others) { m_printer.endpointLost(reason, others); });
    connect(&m_service, &CaptureService::endpointRetrying, this,
            [this](const QString& reason, int delayMs) { m_printer.endpointRetrying(reason, delayMs); });
    connect(&m_service, &CaptureService::endpointAnswersAgain, this,
            [this](const QString& name) { m_printer.endpointAnswersAgain(name); });
    connect(&m_service, &CaptureService::endpointGivenUp, this,
            [this](const QString& reason) { m_printer.endpointGivenUp(reason); });
    connect(&m_service, &CaptureService::endpointNeverAnswered, this,
            [this](const QString& name) { m_printer.endpointNeverAnswered(name); });
}

void BatchRunner::start() {
    if (m_items.isEmpty()) {
        QTimer::singleShot(0, this, &BatchRunner::finished);
        return;
    }
    m_printer.drawProgress(m_done, m_items.size());
    feed();
}

bool BatchRunner::allSucceeded() const {
    return std::all_of(m_results.cbegin(), m_results.cend(), [](const BatchResult& r) { return r.ok; });
}

void BatchRunner::interrupt() {
    if (m_interrupted) {
        return;
    }
    m_interrupted = true;
    // The service reports every ticket it holds (an image being written as what it came to).
    m_service.interrupt();
    for (qsizetype index = 0; index < m_items.size(); ++index) {
        if (!m_reported[index]) {
            BatchResult result;
            result.url = m_items[index].url;
            result.output = m_items[index].output;
            result.error = QStringLiteral("interrupted");
            result.errorKind = ErrorKind::Interrupted;
            complete(index, result);
        }
    }
    m_printer.clearProgress();
}

void BatchRunner::feed() {
    // Enough waiting for every browser's pages at once to be taken up again as soon as they end.
    const int ahead = 2 * m_settings.jobs * m_browsers + 2;
    while (!m_interrupted && m_next < m_items.size() && m_service.pending() < ahead) {
        // The items of one address, one a size: one load makes every image still wanted.
        const qsizetype first = m_next;
        do {
            ++m_next;
        } while (m_next < m_items.size() && m_items[m_next].sizeIndex > 0);
        QList<qsizetype> wanted;
        for (qsizetype index = first; index < m_next; ++index) {
            const BatchItem& item = m_items[index];
            BatchResult result;
            result.url = item.url;
            result.output = item.output;
            if (!item.refusal.isEmpty()) {
                result.error = item.refusal;
                result.errorKind = ErrorKind::ForbiddenAddress;
                complete(index, result);
                continue;
            }
            // Images are written whole or not at all, so an existing file is a finished capture. A
            // link under a name of ours is no capture of ours (and what it points at is not looked at).
            const QFileInfo existing(item.output);
            if (m_settings.skipExisting && existing.isFile() &&
                !(item.outputNameMade && existing.isSymLink())) {
                result.ok = true;
                result.skipped = true;
                result.bytes = existing.size();
                complete(index, result);
                continue;
            }
            wanted.append(index);
        }
        if (wanted.isEmpty()) {
            continue;
        }
        const BatchItem& item = m_items[wanted.first()];
        CaptureRequest request = m_settings.capture;
        request.url = item.address.isEmpty() ? item.url : item.address;
        request.image.width = item.size.width();
        request.image.height = item.size.height();
        request.image.moreSizes.clear();
        request.output.path = item.output;
        request.output.nameMade = item.outputNameMade;
        for (qsizetype i = 1; i < wanted.size(); ++i) {
            request.image.moreSizes.append(m_items[wanted[i]].size);
            request.output.morePaths.append(m_items[wanted[i]].output);
        }
        m_tickets.insert(m_service.submit(std::move(request)), wanted);
    }
    if (!m_interrupted && !m_over && m_done == m_items.size()) {
        m_over = true;
        m_service.stop();
        m_printer.clearProgress();
        // Later: start() may have reached this before its caller connected to finished().
        QTimer::singleShot(0, this, &BatchRunner::finished);
    }
}

void BatchRunner::onFinished(CaptureService::Ticket ticket, const CaptureResult& captured) {
    const QList<qsizetype> indices = m_tickets.take(ticket);
    for (qsizetype i = 0; i < indices.size(); ++i) {
        // A page that failed fails every size; else each image has its own outcome.
        const std::size_t further = static_cast<std::size_t>(i) - 1;
        report(indices[i], i == 0 || further >= captured.more.size() ? captured : captured.more[further]);
    }
    feed();
}

void BatchRunner::report(qsizetype index, const CaptureResult& captured) {
    BatchResult result;
    result.url = m_items[index].url;
    result.output = m_items[index].output;
    result.ok = captured.ok;
    result.error = captured.error.message;
    result.errorKind = captured.error.kind;
    result.bytes = captured.ok ? captured.byteCount : 0;
    result.milliseconds = captured.milliseconds;
    result.width = captured.size.width();
    result.height = captured.size.height();
    result.finalUrl = captured.finalUrl;
    result.status = captured.status;
    result.title = captured.title;
    result.waitEnd = captured.waitEnd;
    result.endpoint = captured.endpoint;
    complete(index, result);
}

void BatchRunner::complete(qsizetype index, BatchResult result) {
    if (m_reported[index]) {
        return;
    }
    if (!result.ok) {
        result.width = m_items[index].size.width();
        result.height = m_items[index].size.height();
    }
    // The address's password opened the page; it is not printed.
    result.url = AddressWithoutPassword(result.url);
    result.finalUrl = AddressWithoutPassword(result.finalUrl);
    m_results[index] = result;
    m_reported[index] = true;
    ++m_done;
    m_printer.report(result);
    m_printer.drawProgress(m_done, m_items.size());
}

}  // namespace lumiclip
