#include "cli/batch_runner.h"

#include "cli/cli_options.h"
#include "cli/wait_end_name.h"
#include "core/browser/browser.h"
#include "core/capture/page_capture.h"
#include "core/image/encoder_table.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace lumiclip {

BatchRunner::BatchRunner(const QList<BrowserEndpoints::Endpoint>& browsers, QList<BatchItem> items,
                         BatchSettings settings, QObject* parent)
    : QObject(parent),
      m_endpoints(browsers, settings.jobs),
      m_items(std::move(items)),
      m_settings(std::move(settings)) {
    m_results.resize(m_items.size());
    m_reported.resize(m_items.size(), false);
    m_losses.resize(m_items.size(), 0);
    for (const BrowserEndpoints::Endpoint& endpoint : browsers) {
        m_targets.push_back(std::make_unique<TargetPool>(*endpoint.browser, m_settings.capture));
    }
    connect(&m_endpoints, &BrowserEndpoints::changed, this, &BatchRunner::launchMore);
}

void BatchRunner::start() {
    if (m_items.isEmpty()) {
        QTimer::singleShot(0, this, &BatchRunner::finished);
        return;
    }
    drawProgress();
    m_endpoints.start();
    launchMore();
    // The browser is starting in its own processes now (after the fork: the loader's lock is not
    // taken in the middle); the image library loads and starts on a thread meanwhile, rather than
    // before the first image.
    PreloadImageLibrary();
}

bool BatchRunner::allSucceeded() const {
    return std::all_of(m_results.cbegin(), m_results.cend(), [](const BatchResult& r) { return r.ok; });
}

void BatchRunner::interrupt() {
    if (m_interrupted) {
        return;
    }
    m_interrupted = true;
    m_endpoints.stop();
    for (const std::unique_ptr<TargetPool>& pool : m_targets) {
        pool->clear();
    }
    // Dropping a capture disposes of its browser context; nothing of it reports any more.
    QHash<qsizetype, QString> inFlightOn;
    for (auto it = m_running.cbegin(); it != m_running.cend(); ++it) {
        it->capture->disconnect(this);
        delete it->capture;
        inFlightOn.insert(it.key(), m_endpoints.name(it->endpoint));
    }
    m_running.clear();
    // An image being written is finished and reported as what it came to; one not begun is dropped.
    m_writer.settle();
    for (qsizetype index = 0; index < m_items.size(); ++index) {
        if (!m_reported[index]) {
            BatchResult result;
            result.url = m_items[index].url;
            result.output = m_items[index].output;
            result.error = QStringLiteral("interrupted");
            result.endpoint = inFlightOn.value(index);
            complete(index, result);
        }
    }
    if (m_settings.progress) {
        std::fputs("\r\033[K", stderr);
    }
}

void BatchRunner::launchMore() {
    while (!m_interrupted && (!m_again.isEmpty() || m_next < m_items.size())) {
        const bool again = !m_again.isEmpty();
        const qsizetype index = again ? m_again.first() : m_next;
        const BatchItem& item = m_items[index];
        BatchResult result;
        result.url = item.url;
        result.output = item.output;
        if (!again && !item.refusal.isEmpty()) {
            ++m_next;
            result.error = item.refusal;
            complete(index, result);
            continue;
        }
        // Images are written whole or not at all, so an existing file is a finished capture.
        // A link under a name of ours is no capture of ours (and what it points at is not looked at).
        const QFileInfo existing(item.output);
        if (!again && m_settings.skipExisting && existing.isFile() &&
            !(item.outputNameMade && existing.isSymLink())) {
            ++m_next;
            result.ok = true;
            result.skipped = true;
            result.bytes = existing.size();
            complete(index, result);
            continue;
        }
        if (m_endpoints.exhausted()) {
            again ? void(m_again.removeFirst()) : void(++m_next);
            result.error = m_endpoints.exhaustedReason();
            complete(index, result);
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
        again ? void(m_again.removeFirst()) : void(++m_next);
        startCapture(index, endpoint);
    }
    prepareTargets();
    if (!m_interrupted && m_done == m_items.size()) {
        m_endpoints.stop();
        if (m_settings.progress) {
            std::fputs("\r\033[K", stderr);
        }
        // Later: start() may have reached this before its caller connected to finished().
        QTimer::singleShot(0, this, &BatchRunner::finished);
    }
}

void BatchRunner::prepareTargets() {
    // One context waits on each browser that can take pages, while pages are left to start; none once
    // the last has started. It is set up while a page on that browser is past its wait (or none runs
    // there): setting one up starts a new renderer, which slows down a page that loads beside it (at
    // -j 1 that cost about a tenth of the batch's time).
    const bool more = !m_interrupted && (!m_again.isEmpty() || m_next < m_items.size());
    for (int endpoint = 0; endpoint < static_cast<int>(m_targets.size()); ++endpoint) {
        TargetPool& pool = *m_targets[endpoint];
        if (!more || m_endpoints.isDown(endpoint)) {
            pool.prepare(0);
        } else if (pool.waiting() == 0 && !allLoading(endpoint)) {
            pool.prepare(1);
        }
    }
}

bool BatchRunner::allLoading(int endpoint) const {
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

void BatchRunner::startCapture(qsizetype index, int endpoint) {
    const BatchItem& item = m_items[index];
    CaptureOptions options = m_settings.capture;
    options.url = item.address.isEmpty() ? item.url : item.address;
    options.outputPath = item.output;
    options.outputNameMade = item.outputNameMade;
    auto* capture = new PageCapture(m_endpoints.browser(endpoint), options, this);
    connect(capture, &PageCapture::finished, this, [this, index] { onCaptureFinished(index); });
    connect(capture, &PageCapture::waitEnded, this, [this, index] {
        const auto running = m_running.find(index);
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
    m_running.insert(index, running);
}

bool BatchRunner::wasLost(const Running& running, const PageCaptureOutcome& outcome) const {
    return !outcome.ok && (m_endpoints.losses(running.endpoint) != running.lossesAtStart ||
                           m_endpoints.browser(running.endpoint).starts() != running.startsAtStart ||
                           m_endpoints.isDown(running.endpoint));
}

void BatchRunner::onCaptureFinished(qsizetype index) {
    const Running running = m_running.take(index);
    PageCapture* capture = running.capture;
    capture->deleteLater();
    m_endpoints.release(running.endpoint);
    const PageCaptureOutcome& outcome = capture->outcome();
    const bool lost = wasLost(running, outcome);
    if (lost && m_losses[index] < m_settings.retries) {
        ++m_losses[index];
        m_again.append(index);
        launchMore();
        return;
    }
    BatchResult result;
    result.endpoint = m_endpoints.name(running.endpoint);
    result.url = m_items[index].url;
    result.output = m_items[index].output;
    result.milliseconds = outcome.elapsedMs;
    result.finalUrl = outcome.finalUrl;
    result.status = outcome.httpStatus;
    result.title = outcome.title;
    result.waitEnd = outcome.waitEnd;
    if (!outcome.ok) {
        result.error = outcome.error;
        if (lost && m_losses[index] > 0) {
            result.error +=
                QStringLiteral(" (lost with its browser on all %1 tries)").arg(m_losses[index] + 1);
        }
    } else if (outcome.waitEnd == WaitEnd::TimedOut) {
        result.error = QStringLiteral("the page did not finish loading within %1 s")
                           .arg(capture->options().limits.pageMs / 1000.0);
    } else if (!outcome.navigationError.isEmpty()) {
        result.error = QStringLiteral("the page did not load: %1").arg(outcome.navigationError);
    } else if (outcome.httpStatus >= 400) {
        result.error = QStringLiteral("the server answered HTTP %1").arg(outcome.httpStatus);
    } else {
        // The image step runs on a thread of its own; the next page starts meanwhile.
        EncoderId encoder;
        EncoderForFormat(capture->options().format, &encoder);  // none: the writer names the missing encoder
        ++m_writing;
        m_writer.write(outcome.snapshot, capture->options(), encoder, this,
                       [this, index, result](const SnapshotWriteResult& written) mutable {
                           --m_writing;
                           if (m_reported[index]) {
                               return;  // already reported as interrupted
                           }
                           result.ok = written.ok;
                           result.error = written.error;
                           if (written.ok) {
                               result.width = written.size.width();
                               result.height = written.size.height();
                               result.bytes = QFileInfo(result.output).size();
                           }
                           complete(index, result);
                           if (!m_interrupted) {
                               launchMore();
                           }
                       });
        launchMore();
        return;
    }
    complete(index, result);
    launchMore();
}

void BatchRunner::complete(qsizetype index, BatchResult result) {
    // The address's password opened the page; it is not printed.
    result.url = AddressWithoutPassword(result.url);
    result.finalUrl = AddressWithoutPassword(result.finalUrl);
    if (!result.ok) {
        result.width = m_settings.capture.imageWidth;
        result.height = m_settings.capture.imageHeight;
    }
    m_results[index] = result;
    m_reported[index] = true;
    ++m_done;
    report(result);
    drawProgress();
}

void BatchRunner::report(const BatchResult& result) {
    if (m_settings.progress) {
        std::fputs("\r\033[K", stderr);
    }
    if (m_settings.json) {
        const QString wait = WaitEndName(result.waitEnd, m_settings.capture);
        const QJsonObject line{
            {QStringLiteral("url"), result.url},
            {QStringLiteral("output"), result.output},
            {QStringLiteral("width"), result.width},
            {QStringLiteral("height"), result.height},
            {QStringLiteral("format"), m_settings.capture.format},
            {QStringLiteral("bytes"), result.bytes},
            {QStringLiteral("milliseconds"), result.milliseconds},
            {QStringLiteral("ok"), result.ok},
            {QStringLiteral("skipped"), result.skipped},
            {QStringLiteral("error"), result.ok ? QJsonValue() : QJsonValue(result.error)},
            {QStringLiteral("final_url"),
             result.finalUrl.isEmpty() ? QJsonValue() : QJsonValue(result.finalUrl)},
            {QStringLiteral("status"), result.status},
            {QStringLiteral("title"), result.title},
            {QStringLiteral("wait"), wait.isEmpty() ? QJsonValue() : QJsonValue(wait)},
            {QStringLiteral("endpoint"),
             result.endpoint.isEmpty() ? QJsonValue() : QJsonValue(result.endpoint)},
        };
        std::fprintf(stdout, "%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    } else if (result.skipped) {
        std::fprintf(stdout, "%s: skipped, the file is already there, %lld bytes (%s)\n",
                     qUtf8Printable(PrintableText(result.output)), static_cast<long long>(result.bytes),
                     qUtf8Printable(PrintableText(result.url)));
        std::fflush(stdout);
    } else if (result.ok) {
        std::fprintf(stdout, "%s: %dx%d %s, %lld bytes (%s)\n", qUtf8Printable(PrintableText(result.output)),
                     result.width, result.height, qUtf8Printable(m_settings.capture.format),
                     static_cast<long long>(result.bytes), qUtf8Printable(PrintableText(result.url)));
        std::fflush(stdout);
    }
    if (!result.ok) {
        std::fprintf(stderr, "lumiclip-cli: %s: %s\n", qUtf8Printable(PrintableText(result.url)),
                     qUtf8Printable(PrintableText(result.error)));
    }
}

void BatchRunner::drawProgress() {
    if (!m_settings.progress) {
        return;
    }
    const qsizetype total = m_items.size();
    constexpr int kWidth = 30;
    const int filled = total > 0 ? static_cast<int>(qint64{kWidth} * m_done / total) : kWidth;
    std::fprintf(stderr, "\r[%s%s] %d/%lld", QByteArray(filled, '#').constData(),
                 QByteArray(kWidth - filled, ' ').constData(), m_done, static_cast<long long>(total));
    std::fflush(stderr);
}

}  // namespace lumiclip
