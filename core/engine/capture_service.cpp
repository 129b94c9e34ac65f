#include "core/engine/capture_service.h"

#include "core/browser/browser.h"
#include "core/capture/page_capture.h"
#include "core/image/encoder_table.h"
#include "core/image/image_library.h"

#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace lumiclip {

namespace {

CaptureResult Failure(ErrorKind kind, const QString& message) {
    CaptureResult result;
    result.error = {kind, message};
    return result;
}

}  // namespace

CaptureService::CaptureService(const QList<BrowserEndpoints::Endpoint>& browsers,
                               CaptureServiceSettings settings, const CaptureRequest& usualSetUp,
                               QObject* parent)
    : QObject(parent), m_endpoints(browsers, settings.jobs, settings.endpointPolicy), m_settings(settings) {
    for (const BrowserEndpoints::Endpoint& endpoint : browsers) {
        m_targets.push_back(std::make_unique<TargetPool>(*endpoint.browser, usualSetUp));
    }
    connect(&m_endpoints, &BrowserEndpoints::changed, this, &CaptureService::launchMore);
    connect(&m_endpoints, &BrowserEndpoints::lost, this, &CaptureService::endpointLost);
    connect(&m_endpoints, &BrowserEndpoints::retrying, this, &CaptureService::endpointRetrying);
    connect(&m_endpoints, &BrowserEndpoints::answersAgain, this, &CaptureService::endpointAnswersAgain);
    connect(&m_endpoints, &BrowserEndpoints::givenUp, this, &CaptureService::endpointGivenUp);
    connect(&m_endpoints, &BrowserEndpoints::neverAnswered, this, &CaptureService::endpointNeverAnswered);
}

CaptureService::~CaptureService() {
    // The captures go before the pools and the endpoints they use; nothing reports any more.
    for (const Running& running : std::as_const(m_running)) {
        running.capture->disconnect(this);
        delete running.capture;
    }
    m_running.clear();
}

int CaptureService::pending() const {
    return static_cast<int>(m_jobs.size());
}

CaptureService::Ticket CaptureService::submit(CaptureRequest request) {
    const Ticket ticket = m_nextTicket++;
    m_jobs.insert(ticket, Job{std::move(request), 0});
    if (m_interrupted) {
        // Reported from the event loop, as any result.
        QTimer::singleShot(0, this, [this, ticket] {
            complete(ticket, Failure(ErrorKind::Interrupted, QStringLiteral("interrupted")));
        });
        return ticket;
    }
    m_queue.append(ticket);
    if (!m_started) {
        m_started = true;
        m_endpoints.start();
        launchMore();
        // The browser is starting in its own processes now (after the fork: the loader's lock is not
        // taken in the middle); the image library loads and starts on a thread meanwhile, rather than
        // before the first image.
        PreloadImageLibrary();
    } else {
        // Later: a caller that submits many at once gets its tickets first.
        QTimer::singleShot(0, this, &CaptureService::launchMore);
    }
    return ticket;
}

void CaptureService::cancel(Ticket ticket) {
    if (!m_jobs.contains(ticket)) {
        return;
    }
    m_queue.removeAll(ticket);
    const auto running = m_running.find(ticket);
    if (running != m_running.end()) {
        running->capture->disconnect(this);
        delete running->capture;  // disposes of its browser context
        m_endpoints.release(running->endpoint);
        m_running.erase(running);
    }
    // An image being written is let finish; its result is dropped with the ticket.
    complete(ticket, Failure(ErrorKind::Interrupted, QStringLiteral("cancelled")));
    launchMore();
}

void CaptureService::interrupt() {
    if (m_interrupted) {
        return;
    }
    m_interrupted = true;
    m_endpoints.stop();
    for (const std::unique_ptr<TargetPool>& pool : m_targets) {
        pool->clear();
    }
    // Dropping a capture disposes of its browser context; nothing of it reports any more.
    QHash<Ticket, QString> inFlightOn;
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) {
        it->capture->disconnect(this);
        delete it->capture;
        inFlightOn.insert(it.key(), m_endpoints.name(it->endpoint));
    }
    m_running.clear();
    m_queue.clear();
    // An image being written is finished and reported as what it came to; one not begun is dropped.
    m_writer.settle();
    // In the order they were asked for.
    QList<Ticket> left = m_jobs.keys();
    std::sort(left.begin(), left.end());
    for (const Ticket ticket : left) {
        CaptureResult result = Failure(ErrorKind::Interrupted, QStringLiteral("interrupted"));
        result.endpoint = inFlightOn.value(ticket);
        complete(ticket, result);
    }
}

void CaptureService::stop() {
    m_endpoints.stop();
}

void CaptureService::launchMore() {
    while (!m_interrupted && !m_queue.isEmpty()) {
        const Ticket ticket = m_queue.first();
        if (m_endpoints.exhausted()) {
            m_queue.removeFirst();
            complete(ticket, Failure(ErrorKind::BrowserUnavailable, m_endpoints.exhaustedReason()));
            continue;
        }
        // A page whose image is being written holds no browser context, but its rendering: one such
        // page more than the pages at once may wait in memory.
        if (m_running.size() + m_writing > qsizetype{m_settings.jobs} * m_endpoints.count()) {
            break;  // until an image is written
        }
        const int endpoint = m_endpoints.acquire();
        if (endpoint < 0) {
            break;  // until a page ends or an endpoint comes (back)
        }
        m_queue.removeFirst();
        startCapture(ticket, endpoint);
    }
    prepareTargets();
}

void CaptureService::prepareTargets() {
    // One context waits on each browser that can take pages, while pages wait to start; none once the
    // last has started. It is set up while a page on that browser is past its wait (or none runs
    // there): setting one up starts a new renderer, which slows down a page that loads beside it (at
    // -j 1 that cost about a tenth of the batch's time).
    const bool more = !m_interrupted && !m_queue.isEmpty();
    for (int endpoint = 0; endpoint < static_cast<int>(m_targets.size()); ++endpoint) {
        TargetPool& pool = *m_targets[endpoint];
        if (!more || m_endpoints.isDown(endpoint)) {
            pool.prepare(0);
        } else if (pool.waiting() == 0 && !allLoading(endpoint)) {
            pool.prepare(1);
        }
    }
}

bool CaptureService::allLoading(int endpoint) const {
    int pages = 0;
    int loading = 0;
    for (const Running& running : m_running) {
        if (running.endpoint == endpoint) {
            ++pages;
            loading += running.loading ? 1 : 0;
        }
    }
    return pages > 0 && loading == pages;
}

void CaptureService::startCapture(Ticket ticket, int endpoint) {
    const CaptureRequest& options = m_jobs[ticket].request;
    auto* capture = new PageCapture(m_endpoints.browser(endpoint), options, this);
    connect(capture, &PageCapture::finished, this, [this, ticket] { onCaptureFinished(ticket); });
    connect(capture, &PageCapture::waitEnded, this, [this, ticket] {
        const auto running = m_running.find(ticket);
        if (running != m_running.end()) {
            running->loading = false;
            prepareTargets();
        }
    });
    Running running{capture, endpoint, m_endpoints.losses(endpoint), 0};
    capture->setTargetPool(m_targets[endpoint].get());
    capture->start();
    // After: the capture starts the browser when it does not run.
    running.startsAtStart = m_endpoints.browser(endpoint).starts();
    m_running.insert(ticket, running);
}

bool CaptureService::wasLost(const Running& running, const PageCaptureOutcome& outcome) const {
    return !outcome.ok && (m_endpoints.losses(running.endpoint) != running.lossesAtStart ||
                           m_endpoints.browser(running.endpoint).starts() != running.startsAtStart ||
                           m_endpoints.isDown(running.endpoint));
}

void CaptureService::onCaptureFinished(Ticket ticket) {
    const Running running = m_running.take(ticket);
    PageCapture* capture = running.capture;
    capture->deleteLater();
    m_endpoints.release(running.endpoint);
    Job& job = m_jobs[ticket];
    const PageCaptureOutcome& outcome = capture->outcome();
    const bool lost = wasLost(running, outcome);
    if (lost && job.losses < m_settings.retries) {
        ++job.losses;
        m_queue.prepend(ticket);
        launchMore();
        return;
    }
    CaptureResult result;
    result.endpoint = m_endpoints.name(running.endpoint);
    result.milliseconds = outcome.elapsedMs;
    result.finalUrl = outcome.finalUrl;
    result.status = outcome.httpStatus;
    result.title = outcome.title;
    result.waitEnd = outcome.waitEnd;
    if (!outcome.ok) {
        // A page that failed as its browser went is the browser's loss, whatever step noticed it.
        result.error = {lost ? ErrorKind::BrowserLost : outcome.errorKind, outcome.error};
        if (lost && job.losses > 0) {
            result.error.message +=
                QStringLiteral(" (lost with its browser on all %1 tries)").arg(job.losses + 1);
        }
    } else if (outcome.waitEnd == WaitEnd::TimedOut && !capture->options().wait.captureAtLimit) {
        result.error = {ErrorKind::Timeout, QStringLiteral("the page did not finish loading within %1 s")
                                                .arg(capture->options().limits.pageMs / 1000.0)};
    } else if (!outcome.navigationError.isEmpty()) {
        result.error = {NavigationErrorKind(outcome.navigationError),
                        QStringLiteral("the page did not load: %1").arg(outcome.navigationError)};
    } else if (outcome.httpStatus >= 400) {
        result.error = {ErrorKind::HttpStatus,
                        QStringLiteral("the server answered HTTP %1").arg(outcome.httpStatus)};
    } else {
        // The image step runs on a thread of its own; the next page starts meanwhile.
        EncoderId encoder;
        EncoderForFormat(capture->options().image.format,
                         &encoder);  // none: the writer names the missing encoder
        const bool toMemory = capture->options().output.to == CaptureOutput::Bytes;
        ++m_writing;
        m_writer.write(
            outcome.snapshot, capture->options(), encoder, this,
            [this, ticket, result, toMemory, path = capture->options().output.path,
             morePaths = capture->options().output.morePaths](const SnapshotWriteResult& written) mutable {
                --m_writing;
                if (!m_jobs.contains(ticket)) {
                    return;  // cancelled, or already reported as interrupted
                }
                const auto take = [toMemory](CaptureResult* into, const SnapshotWriteResult& image,
                                             const QString& file) {
                    into->ok = image.ok;
                    if (image.ok) {
                        into->size = image.size;
                        into->bytes = image.bytes;
                        into->byteCount = toMemory ? image.bytes.size() : QFileInfo(file).size();
                    } else {
                        into->error = {image.errorKind, image.error};
                    }
                };
                take(&result, written, path);
                // The further sizes: the page's fields are the first image's.
                for (std::size_t i = 0; i < written.more.size(); ++i) {
                    CaptureResult further = result;
                    further.ok = false;
                    further.error = {};
                    further.bytes.clear();
                    further.byteCount = 0;
                    take(&further, written.more[i], morePaths.value(static_cast<qsizetype>(i)));
                    result.more.push_back(std::move(further));
                }
                complete(ticket, result);
                if (!m_interrupted) {
                    launchMore();
                }
            });
        launchMore();
        return;
    }
    complete(ticket, result);
    launchMore();
}

void CaptureService::complete(Ticket ticket, CaptureResult result) {
    if (!m_jobs.remove(ticket)) {
        return;
    }
    result.ok = result.ok && !result.error.isError();
    emit finished(ticket, result);
    checkIdle();
}

void CaptureService::checkIdle() {
    if (m_jobs.isEmpty()) {
        prepareTargets();
        emit idle();
    }
}

}  // namespace lumiclip
