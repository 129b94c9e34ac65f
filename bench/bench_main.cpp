// lumiclip-bench: warm captures through the asynchronous capture layer, the image step on its own, and
// the browser's memory over many captures. It prints figures; it never fails because a machine is slow.
#include "bench/bench_http_server.h"
#include "bench/bench_stats.h"
#include "bench/process_memory.h"

#include "core/browser/browser.h"
#include "core/browser/browser_process.h"
#include "core/capture/page_capture.h"
#include "core/capture/target_pool.h"
#include "core/capture/view_image.h"
#include "core/image/encoder_table.h"
#include "core/image/image_writer.h"
#include "core/image/vips_include.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSize>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

using namespace lumiclip;
using namespace lumiclip::bench;

namespace {

constexpr int kViewWidth = 810;
constexpr int kViewHeight = 600;
constexpr int kImageWidth = 180;
constexpr int kImageHeight = 138;
constexpr double kWarmTargetMs = 150;
constexpr double kImageTargetMs = 20;
// Between two memory readings the disposed contexts' renderers get this long to go away.
constexpr int kSettleMs = 1000;

struct Options {
    int captures = 200;
    int warmup = 3;
    int imageRuns = 100;
    QString pagePath;
    QString url;
    QString resultsPath;
};

struct CaptureRun {
    bool ok = false;
    QString error;
    double captureMs = 0;
    // Capture, image step and file write: what the command-line tool does for one address.
    double totalMs = 0;
    QByteArray png;
};

// One capture in a fresh browser context, waited for by a local event loop as the capture host does.
// With a pool, as lumiclip-cli's batch: the context comes prepared, and the next one is prepared while
// this page loads.
CaptureRun captureOnce(Browser& browser, const QString& url, const QString& output, const EncoderId& encoder,
                       TargetPool* pool = nullptr) {
    CaptureRun run;
    QElapsedTimer clock;
    clock.start();
    CaptureRequest options;
    options.url = url;
    options.page.viewWidth = kViewWidth;
    options.page.viewHeight = kViewHeight;
    options.image.width = kImageWidth;
    options.image.height = kImageHeight;
    PageCapture capture(browser, options);
    QEventLoop loop;
    QObject::connect(&capture, &PageCapture::finished, &loop, &QEventLoop::quit);
    capture.setTargetPool(pool);
    capture.start();
    if (pool) {
        pool->prepare(1);
    }
    if (!capture.isFinished()) {
        loop.exec();
    }
    run.captureMs = elapsedMs(clock);
    const PageCaptureOutcome& outcome = capture.outcome();
    if (!outcome.ok) {
        run.error = outcome.error;
        return run;
    }
    if (outcome.waitEnd != WaitEnd::Loaded || outcome.httpStatus != 200) {
        run.error = QStringLiteral("the page did not load (HTTP %1, %2)")
                        .arg(outcome.httpStatus)
                        .arg(outcome.navigationError.isEmpty() ? QStringLiteral("time limit")
                                                               : outcome.navigationError);
        return run;
    }
    QString error;
    CaptureRequest image = options;
    image.output.path = output;
    if (!WriteSnapshotImage(outcome.snapshot, image, encoder, &error)) {
        run.error = error;
        return run;
    }
    run.totalMs = elapsedMs(clock);
    run.png = outcome.snapshot.png;
    run.ok = true;
    return run;
}

// Lets the event loop run for a while: disposals go out and renderers of closed contexts exit.
void settle(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool parseOptions(const QCoreApplication& app, Options* options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times warm captures, the image step and the browser's memory."));
    parser.addHelpOption();
    const QCommandLineOption captures(
        QStringLiteral("captures"),
        QStringLiteral("Warm captures to time and to watch memory over (default 200)."), QStringLiteral("N"),
        QStringLiteral("200"));
    const QCommandLineOption warmup(
        QStringLiteral("warmup"),
        QStringLiteral("Untimed captures first; the first also starts the browser (default 3)."),
        QStringLiteral("N"), QStringLiteral("3"));
    const QCommandLineOption imageRuns(QStringLiteral("image-runs"),
                                       QStringLiteral("Runs of the image step alone (default 100)."),
                                       QStringLiteral("N"), QStringLiteral("100"));
    const QCommandLineOption page(QStringLiteral("page"),
                                  QStringLiteral("HTML file served at / (default: the sample page)."),
                                  QStringLiteral("FILE"), QStringLiteral(LUMICLIP_SAMPLE_PAGE));
    const QCommandLineOption url(
        QStringLiteral("url"), QStringLiteral("Capture this address instead of serving the page ourselves."),
        QStringLiteral("URL"));
    const QCommandLineOption results(
        QStringLiteral("results"), QStringLiteral("Also write the figures as key=value lines to this file."),
        QStringLiteral("FILE"));
    parser.addOptions({captures, warmup, imageRuns, page, url, results});
    parser.process(app);

    const struct {
        const QCommandLineOption* option;
        int* value;
        int least;
    } counts[] = {{&captures, &options->captures, 2},
                  {&warmup, &options->warmup, 1},
                  {&imageRuns, &options->imageRuns, 1}};
    for (const auto& count : counts) {
        bool ok = false;
        *count.value = parser.value(*count.option).toInt(&ok);
        if (!ok || *count.value < count.least || *count.value > 100000) {
            std::fprintf(stderr, "lumiclip-bench: --%s %s: expected a whole number from %d to 100000\n",
                         qUtf8Printable(count.option->names().constFirst()),
                         qUtf8Printable(parser.value(*count.option)), count.least);
            return false;
        }
    }
    options->pagePath = parser.value(page);
    options->url = parser.value(url);
    options->resultsPath = parser.value(results);
    return true;
}

void printRow(const char* measure, double median, double p90, const QString& target) {
    std::printf("  %-42s %9.1f ms %9.1f ms   %s\n", measure, median, p90, qUtf8Printable(target));
}

QString verdict(double median, double target) {
    return QStringLiteral("target < %1 ms: %2 (%3x)")
        .arg(target, 0, 'f', 0)
        .arg(median < target ? QStringLiteral("met") : QStringLiteral("MISSED"))
        .arg(median / target, 0, 'f', 2);
}

void printMemory(const char* when, const ProcessTreeMemory& m) {
    std::printf("  %-22s %3d processes   RSS sum %8.1f MB   PSS sum %8.1f MB\n", when, m.processes,
                static_cast<double>(m.rssKb) / 1024, static_cast<double>(m.pssKb) / 1024);
}

void onTerminate(int sig) {
    Browser::EmergencyKill();
    ::_exit(128 + sig);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumiclip-bench"));
    Browser browser;
    Options options;
    if (!parseOptions(app, &options)) {
        return 2;
    }
    std::signal(SIGINT, onTerminate);
    std::signal(SIGTERM, onTerminate);

    std::unique_ptr<BenchHttpServer> server;
    QString url = options.url;
    if (url.isEmpty()) {
        QFile file(options.pagePath);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "lumiclip-bench: cannot read %s: %s\n", qUtf8Printable(options.pagePath),
                         qUtf8Printable(file.errorString()));
            return 2;
        }
        server = std::make_unique<BenchHttpServer>(file.readAll());
        QString error;
        if (!server->begin(&error)) {
            std::fprintf(stderr, "lumiclip-bench: %s\n", qUtf8Printable(error));
            return 1;
        }
        url = server->url();
    }

    QString error;
    EncoderId jpeg;
    if (!EnsureImageLibrary(&error) || FindEncoderByMime(QStringLiteral("image/jpeg"), &jpeg) < 0) {
        std::fprintf(stderr, "lumiclip-bench: no JPEG encoder: %s\n", qUtf8Printable(error));
        return 1;
    }
    QTemporaryDir dir;
    const QString output = dir.filePath(QStringLiteral("bench.jpg"));

    std::printf("lumiclip-bench: %s, view %dx%d, image %dx%d JPEG, browser %s\n", qUtf8Printable(url),
                kViewWidth, kViewHeight, kImageWidth, kImageHeight,
                qUtf8Printable(FindBrowserExecutable().path));
    std::fflush(stdout);

    // Warm-up: the first capture starts the browser; its time is reported on its own.
    double firstMs = 0;
    for (int i = 0; i < options.warmup; ++i) {
        const CaptureRun run = captureOnce(browser, url, output, jpeg);
        if (!run.ok) {
            std::fprintf(stderr, "lumiclip-bench: warm-up capture failed: %s\n", qUtf8Printable(run.error));
            browser.shutdown();
            return 1;
        }
        if (i == 0) {
            firstMs = run.totalMs;
        }
    }
    // The timed captures take their contexts prepared, as a batch does; memory is read with one waiting.
    CaptureRequest poolOptions;
    poolOptions.page.viewWidth = kViewWidth;
    poolOptions.page.viewHeight = kViewHeight;
    TargetPool pool(browser, poolOptions);
    pool.prepare(1);
    const pid_t browserPid = browser.pid();
    settle(kSettleMs);
    const ProcessTreeMemory memStart = MeasureProcessTree(browserPid);
    ProcessTreeMemory memMid;

    std::vector<double> captureTimes;
    std::vector<double> totalTimes;
    QByteArray png;
    int failures = 0;
    QString firstFailure;
    const int mid = options.captures / 2;
    for (int i = 1; i <= options.captures; ++i) {
        const CaptureRun run = captureOnce(browser, url, output, jpeg, &pool);
        if (run.ok) {
            captureTimes.push_back(run.captureMs);
            totalTimes.push_back(run.totalMs);
            png = run.png;
        } else {
            ++failures;
            if (firstFailure.isEmpty()) {
                firstFailure = run.error;
            }
        }
        if (i == mid) {
            settle(kSettleMs);
            memMid = MeasureProcessTree(browserPid);
        }
    }
    settle(kSettleMs);
    const ProcessTreeMemory memEnd = MeasureProcessTree(browserPid);
    const bool sameBrowser = browser.pid() == browserPid;
    pool.clear();
    browser.shutdown();
    if (png.isEmpty()) {
        std::fprintf(stderr, "lumiclip-bench: every capture failed: %s\n", qUtf8Printable(firstFailure));
        return 1;
    }

    // The image step alone, on the last capture's rendering. The same bytes are encoded again and again
    // here; no run reuses an earlier one's work because the image library runs with its operation cache
    // off (EnsureImageLibrary).
    std::vector<double> encodeTimes;
    std::vector<double> writeTimes;
    PageSnapshot snapshot;
    snapshot.png = png;
    snapshot.hasBody = true;
    CaptureRequest imageStep;
    imageStep.page.viewWidth = kViewWidth;
    imageStep.page.viewHeight = kViewHeight;
    imageStep.image.width = kImageWidth;
    imageStep.image.height = kImageHeight;
    imageStep.output.path = output;
    QSize encodedSize;
    for (int i = 0; i < options.imageRuns; ++i) {
        QElapsedTimer clock;
        clock.start();
        const QByteArray jpegBytes = EncodeViewImage(png, imageStep, jpeg, &error);
        encodeTimes.push_back(elapsedMs(clock));
        if (jpegBytes.isEmpty()) {
            std::fprintf(stderr, "lumiclip-bench: image step failed: %s\n", qUtf8Printable(error));
            return 1;
        }
        if (i == 0) {
            const vips::VImage check = vips::VImage::new_from_buffer(
                jpegBytes.constData(), static_cast<size_t>(jpegBytes.size()), "");
            encodedSize = QSize(check.width(), check.height());
        }
        clock.restart();
        if (!WriteSnapshotImage(snapshot, imageStep, jpeg, &error)) {
            std::fprintf(stderr, "lumiclip-bench: image step failed: %s\n", qUtf8Printable(error));
            return 1;
        }
        writeTimes.push_back(elapsedMs(clock));
    }

    const Summary warm = summarize(captureTimes);
    const Summary warmTotal = summarize(totalTimes);
    const Summary encode = summarize(encodeTimes);
    const Summary write = summarize(writeTimes);
    // Flat: the second half of the captures adds no more than 5 % (and at least 10 MB of slack).
    const qint64 growthKb = memEnd.pssKb - memMid.pssKb;
    const bool flat = growthKb <= std::max<qint64>(memMid.pssKb / 20, qint64{10} * 1024);

    std::printf("\n  %-42s %12s %12s\n", "measure", "median", "p90");
    printRow("first capture (starts the browser)", firstMs, firstMs, QStringLiteral("once"));
    printRow("warm capture (PageCapture)", warm.median, warm.p90, verdict(warm.median, kWarmTargetMs));
    printRow("warm capture + image step + file", warmTotal.median, warmTotal.p90, QString());
    printRow("image step (EncodeViewImage)", encode.median, encode.p90,
             verdict(encode.median, kImageTargetMs));
    printRow("image step + file (WriteSnapshotImage)", write.median, write.p90, QString());
    std::printf("  warm captures: %d timed, %d failed%s%s; image step %dx%d, %d runs\n", warm.count, failures,
                firstFailure.isEmpty() ? "" : ", first failure: ", qUtf8Printable(firstFailure),
                encodedSize.width(), encodedSize.height(), encode.count);
    if (server) {
        std::printf("  the page server answered %d requests for the page\n", server->hits());
    }
    std::printf("\n  browser memory (process group and descendants of pid %d):\n",
                static_cast<int>(browserPid));
    printMemory("at the start", memStart);
    printMemory(qUtf8Printable(QStringLiteral("after %1 captures").arg(mid)), memMid);
    printMemory(qUtf8Printable(QStringLiteral("after %1 captures").arg(options.captures)), memEnd);
    std::printf("  PSS change over the second %d captures: %+.1f MB -> %s%s\n", options.captures - mid,
                static_cast<double>(growthKb) / 1024, flat ? "flat" : "GROWING",
                sameBrowser ? "" : " (the browser was restarted during the run: figures not comparable)");

    if (!options.resultsPath.isEmpty()) {
        QFile results(options.resultsPath);
        if (!results.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            std::fprintf(stderr, "lumiclip-bench: cannot write %s\n", qUtf8Printable(options.resultsPath));
            return 1;
        }
        const auto put = [&results](const char* key, double value) {
            results.write(QByteArray(key) + '=' + QByteArray::number(value, 'f', 2) + '\n');
        };
        put("captures", options.captures);
        put("failures", failures);
        put("first_capture_ms", firstMs);
        put("warm_median_ms", warm.median);
        put("warm_p90_ms", warm.p90);
        put("warm_total_median_ms", warmTotal.median);
        put("image_median_ms", encode.median);
        put("image_p90_ms", encode.p90);
        put("image_file_median_ms", write.median);
        put("mem_start_rss_mb", static_cast<double>(memStart.rssKb) / 1024);
        put("mem_mid_rss_mb", static_cast<double>(memMid.rssKb) / 1024);
        put("mem_end_rss_mb", static_cast<double>(memEnd.rssKb) / 1024);
        put("mem_start_pss_mb", static_cast<double>(memStart.pssKb) / 1024);
        put("mem_mid_pss_mb", static_cast<double>(memMid.pssKb) / 1024);
        put("mem_end_pss_mb", static_cast<double>(memEnd.pssKb) / 1024);
        put("mem_mid_captures", mid);
        put("mem_flat", flat && sameBrowser ? 1 : 0);
    }
    return 0;
}
