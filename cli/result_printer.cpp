#include "cli/result_printer.h"

#include "cli/cli_options.h"
#include "cli/wait_end_name.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace lumiclip {

ResultPrinter::ResultPrinter(const CaptureRequest& capture, bool json, bool progress)
    : m_capture(capture), m_json(json), m_progress(progress) {}

void ResultPrinter::report(const BatchResult& result) {
    clearProgress();
    if (m_json) {
        const QString wait = WaitEndName(result.waitEnd, m_capture);
        QJsonObject line{
            {QStringLiteral("url"), result.url},
            {QStringLiteral("output"), result.output},
            {QStringLiteral("width"), result.width},
            {QStringLiteral("height"), result.height},
            {QStringLiteral("format"), m_capture.image.format},
            {QStringLiteral("bytes"), result.bytes},
            {QStringLiteral("milliseconds"), result.milliseconds},
            {QStringLiteral("ok"), result.ok},
            {QStringLiteral("skipped"), result.skipped},
            {QStringLiteral("error"), result.ok ? QJsonValue() : QJsonValue(result.error)},
            {QStringLiteral("error_kind"),
             result.ok ? QJsonValue() : QJsonValue(ErrorKindName(result.errorKind))},
            {QStringLiteral("final_url"),
             result.finalUrl.isEmpty() ? QJsonValue() : QJsonValue(result.finalUrl)},
            {QStringLiteral("status"), result.status},
            {QStringLiteral("title"), result.title},
            {QStringLiteral("wait"), wait.isEmpty() ? QJsonValue() : QJsonValue(wait)},
            {QStringLiteral("endpoint"),
             result.endpoint.isEmpty() ? QJsonValue() : QJsonValue(result.endpoint)},
        };
        // Said on every line when certificates were not checked: the picture may not be of the site.
        if (m_capture.page.ignoreHttpsErrors) {
            line.insert(QStringLiteral("ignore_https_errors"), true);
        }
        std::fprintf(stdout, "%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
    } else if (result.skipped) {
        std::fprintf(stdout, "%s: skipped, the file is already there, %lld bytes (%s)\n",
                     qUtf8Printable(PrintableText(result.output)), static_cast<long long>(result.bytes),
                     qUtf8Printable(PrintableText(result.url)));
        std::fflush(stdout);
    } else if (result.ok) {
        std::fprintf(stdout, "%s: %dx%d %s, %lld bytes (%s)\n", qUtf8Printable(PrintableText(result.output)),
                     result.width, result.height, qUtf8Printable(m_capture.image.format),
                     static_cast<long long>(result.bytes), qUtf8Printable(PrintableText(result.url)));
        std::fflush(stdout);
    }
    if (!result.ok) {
        std::fprintf(stderr, "lumiclip-cli: %s: %s\n", qUtf8Printable(PrintableText(result.url)),
                     qUtf8Printable(PrintableText(result.error)));
    }
}

void ResultPrinter::drawProgress(qsizetype done, qsizetype total) const {
    if (!m_progress) {
        return;
    }
    constexpr int kWidth = 30;
    const int filled = total > 0 ? static_cast<int>(qint64{kWidth} * done / total) : kWidth;
    std::fprintf(stderr, "\r[%s%s] %lld/%lld", QByteArray(filled, '#').constData(),
                 QByteArray(kWidth - filled, ' ').constData(), static_cast<long long>(done),
                 static_cast<long long>(total));
    std::fflush(stderr);
}

void ResultPrinter::clearProgress() const {
    if (m_progress) {
        std::fputs("\r\033[K", stderr);
    }
}

void ResultPrinter::endpointLost(const QString& reason, bool othersTakeOver) const {
    // With no other browser, the pages wait for this one to come back (or fail once it is given up).
    std::fprintf(stderr, "lumiclip-cli: lost browser %s; %s\n", qUtf8Printable(PrintableText(reason)),
                 othersTakeOver ? "its pages go to the others" : "its pages wait for it to come back");
}

void ResultPrinter::endpointRetrying(const QString& reason, int delayMs) const {
    std::fprintf(stderr, "lumiclip-cli: browser %s; trying again in %.1f s\n",
                 qUtf8Printable(PrintableText(reason)), delayMs / 1000.0);
}

void ResultPrinter::endpointAnswersAgain(const QString& name) const {
    std::fprintf(stderr, "lumiclip-cli: browser %s answers again\n", qUtf8Printable(PrintableText(name)));
}

void ResultPrinter::endpointGivenUp(const QString& reason) const {
    std::fprintf(stderr, "lumiclip-cli: browser %s; no more pages go to it\n",
                 qUtf8Printable(PrintableText(reason)));
}

void ResultPrinter::endpointNeverAnswered(const QString& name) const {
    std::fprintf(stderr, "lumiclip-cli: browser %s did not answer before the batch ended\n",
                 qUtf8Printable(PrintableText(name)));
}

}  // namespace lumiclip
