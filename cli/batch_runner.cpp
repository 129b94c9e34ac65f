#include "cli/batch_runner.h"

#include "cli/cli_options.h"
#include "cli/wait_end_name.h"
#include "core/capture/page_capture.h"
#include "core/image/encoder_table.h"
#include "core/image/image_writer.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace lumiclip {

BatchRunner::BatchRunner(Browser& browser, QList<BatchItem> items, BatchSettings settings, QObject* parent)
    : QObject(parent),
      m_browser(browser),
      m_items(std::move(items)),
      m_settings(std::move(settings)),
      m_targets(m_browser, m_settings.capture) {
    m_results.resize(m_items.size());
    m_reported.resize(m_items.size(), false);
}

void BatchRunner::start() {
    if (m_items.isEmpty()) {
        QTimer::singleShot(0, this, &BatchRunner::finished);
        return;
    }
    drawProgress();
    launchMore();
    // The browser is starting in its own processes now; start the image library meanwhile (module
    // loading and all) rather than after the first page, where it would delay the first image.
    EncoderId encoder;
    EncoderForFormat(m_settings.capture.format, &encoder);
}

bool BatchRunner::allSucceeded() const {
    return std::all_of(m_results.cbegin(), m_results.cend(), [](const BatchResult& r) { return r.ok; });
}

void BatchRunner::interrupt() {
    if (m_interrupted) {
        return;
    }
    m_interrupted = true;
    m_targets.clear();
    // Dropping a capture disposes of its browser context; nothing of it reports any more.
    for (PageCapture* capture : std::as_const(m_running)) {
        capture->disconnect(this);
        delete capture;
    }
    m_running.clear();
    for (qsizetype index = 0; index < m_items.size(); ++index) {
        if (!m_reported[index]) {
            BatchResult result;
            result.url = m_items[index].url;
            result.output = m_items[index].output;
            result.error = QStringLiteral("interrupted");
            complete(index, result);
        }
    }
    if (m_settings.progress) {
        std::fputs("\r\033[K", stderr);
    }
}

void BatchRunner::launchMore() {
    // A page whose image is being written holds no browser context, but its rendering: one such page
    // more than the jobs may wait in memory.
    while (!m_interrupted && m_running.size() + m_writing <= m_settings.jobs &&
           m_running.size() < m_settings.jobs && m_next < m_items.size()) {
        const qsizetype index = m_next++;
        const BatchItem& item = m_items[index];
        if (!item.refusal.isEmpty()) {
            BatchResult result;
            result.url = item.url;
            result.output = item.output;
            result.error = item.refusal;
            complete(index, result);
            continue;
        }
        // Images are written whole or not at all, so an existing file is a finished capture.
        if (m_settings.skipExisting && QFileInfo(item.output).isFile()) {
            BatchResult result;
            result.url = item.url;
            result.output = item.output;
            result.ok = true;
            result.skipped = true;
            result.bytes = QFileInfo(item.output).size();
            complete(index, result);
            continue;
        }
        CaptureOptions options = m_settings.capture;
        options.url = item.address.isEmpty() ? item.url : item.address;
        options.outputPath = item.output;
        auto* capture = new PageCapture(m_browser, options, this);
        connect(capture, &PageCapture::finished, this,
                [this, capture, index] { onCaptureFinished(capture, index); });
        m_running.insert(index, capture);
        capture->setTargetPool(&m_targets);
        capture->start();
    }
    // One context waits for the next page while there is one; none is left once the last has started.
    m_targets.prepare(!m_interrupted && m_next < m_items.size() ? 1 : 0);
    if (!m_interrupted && m_done == m_items.size()) {
        if (m_settings.progress) {
            std::fputs("\r\033[K", stderr);
        }
        // Later: start() may have reached this before its caller connected to finished().
        QTimer::singleShot(0, this, &BatchRunner::finished);
    }
}

void BatchRunner::onCaptureFinished(PageCapture* capture, qsizetype index) {
    const PageCaptureOutcome& outcome = capture->outcome();
    BatchResult result;
    result.url = m_items[index].url;
    result.output = m_items[index].output;
    result.milliseconds = outcome.elapsedMs;
    result.finalUrl = outcome.finalUrl;
    result.status = outcome.httpStatus;
    result.title = outcome.title;
    result.waitEnd = outcome.waitEnd;
    if (!outcome.ok) {
        result.error = outcome.error;
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
                           if (m_interrupted) {
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
                           launchMore();
                       });
        capture->deleteLater();
        m_running.remove(index);
        launchMore();
        return;
    }
    capture->deleteLater();
    m_running.remove(index);
    complete(index, result);
    launchMore();
}

void BatchRunner::complete(qsizetype index, BatchResult result) {
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
