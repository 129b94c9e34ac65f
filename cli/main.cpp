#include "cli/batch_runner.h"
#include "cli/cli_options.h"
#include "cli/cli_settings.h"
#include "cli/gallery_page.h"
#include "core/browser/browser.h"
#include "core/browser/termination_signals.h"
#include "core/capture/user_address.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>
#include <QUrl>

#include <unistd.h>
#include <cstdio>

using namespace lumiclip;

namespace {

bool readAddressList(const QString& source, QStringList* urls, QString* error) {
    QFile file;
    bool opened = false;
    if (source == QStringLiteral("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly | QIODevice::Text);
    } else {
        file.setFileName(source);
        opened = file.open(QIODevice::ReadOnly | QIODevice::Text);
    }
    if (!opened) {
        *error = QStringLiteral("cannot read %1: %2").arg(source, file.errorString());
        return false;
    }
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#'))) {
            urls->append(line);
        }
    }
    return true;
}

// Where each image goes, and what is loaded for each address.
QList<BatchItem> planOutputs(const CliOptions& options, const QString& defaultOutput, QString* error) {
    QList<BatchItem> items;
    const auto item = [&options](const QString& url, const QString& output) {
        BatchItem planned{url, output, AddressFromUserInput(url), {}};
        if (options.webOnly) {
            const QString scheme = QUrl(planned.address).scheme();
            if (scheme != QStringLiteral("http") && scheme != QStringLiteral("https")) {
                planned.refusal =
                    QStringLiteral("refused: --web-only captures http and https addresses only");
            }
        }
        return planned;
    };
    if (!OutputIsFolder(options)) {
        const QString output = !options.output.isEmpty() ? options.output : defaultOutput;
        items.append(item(options.urls.first(), output));
        return items;
    }
    const QString folder = options.output.isEmpty() ? QDir::currentPath() : options.output;
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("cannot create the output folder %1").arg(PrintableText(folder));
        return {};
    }
    QSet<QString> used;
    qsizetype position = 0;
    for (const QString& url : options.urls) {
        const QString address = AddressFromUserInput(url);
        ++position;
        QString name =
            options.nameTemplate.isEmpty()
                ? FileNameForUrl(address, options.capture.format)
                : FileNameFromTemplate(options.nameTemplate, address, position, options.capture.format);
        const QString stem = QFileInfo(name).completeBaseName();
        const QString extension = QFileInfo(name).suffix();
        for (int n = 2; used.contains(name); ++n) {
            name = stem + QStringLiteral("-%1.").arg(n) + extension;
        }
        used.insert(name);
        items.append(item(url, QDir(folder).filePath(name)));
    }
    return items;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumiclip-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMICLIP_VERSION));

    CliOptions options;
    QString error;
    if (ParseCliArguments(app.arguments().mid(1), &options, &error) != ParseStatus::Ok) {
        std::fprintf(stderr, "lumiclip-cli: %s\nTry 'lumiclip-cli --help'.\n", qUtf8Printable(error));
        return 2;
    }
    if (options.help) {
        std::fputs(qUtf8Printable(CliUsage()), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("lumiclip-cli %s\n", LUMICLIP_VERSION);
        return 0;
    }
    QString defaultOutput;
    if (!ApplySettingsDefaults(&options, &defaultOutput, &error)) {
        std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(PrintableText(error)));
        return 2;
    }
    if (!options.inputList.isEmpty() && !readAddressList(options.inputList, &options.urls, &error)) {
        std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(PrintableText(error)));
        return 2;
    }
    if (options.urls.isEmpty()) {
        std::fprintf(stderr, "lumiclip-cli: no address given\n");
        return 2;
    }

    const QList<BatchItem> items = planOutputs(options, defaultOutput, &error);
    if (items.isEmpty()) {
        std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(PrintableText(error)));
        return 1;
    }

    // Ctrl+C and the like end the run in order: the browser is closed and its profile removed.
    TerminationSignals termination;

    BatchSettings settings;
    settings.capture = options.capture;
    settings.jobs = options.jobs;
    settings.json = options.json;
    settings.skipExisting = options.skipExisting;
    settings.progress = !options.json && items.size() > 1 && ::isatty(STDERR_FILENO) != 0;

    Browser browser;
    BatchRunner runner(browser, items, settings);
    QObject::connect(&runner, &BatchRunner::finished, &app, &QCoreApplication::quit);
    runner.start();
    app.exec();
    if (termination.received() != 0) {
        // Before the browser goes: a page whose capture fails as its pipe closes would start the next.
        runner.interrupt();
    }
    browser.shutdown();
    // After an interrupted batch too: it shows what was captured before the end.
    bool galleryWritten = true;
    if (!options.gallery.isEmpty()) {
        galleryWritten = WriteGallery(runner.results(), options.gallery, options.capture.imageWidth,
                                      options.capture.imageHeight, &error);
        if (!galleryWritten) {
            std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(PrintableText(error)));
        }
    }
    if (termination.received() != 0) {
        std::fprintf(stderr, "lumiclip-cli: interrupted\n");
        return 128 + termination.received();
    }
    return runner.allSucceeded() && galleryWritten ? 0 : 1;
}
