#include "cli/address_list.h"
#include "cli/batch_runner.h"
#include "cli/cli_options.h"
#include "cli/cli_settings.h"
#include "cli/gallery_page.h"
#include "core/browser/browser.h"
#include "core/browser/remote_browser_launcher.h"
#include "core/browser/termination_signals.h"
#include "core/capture/devices.h"
#include "core/capture/user_address.h"
#include "core/image/image_library.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace lumiclip;

namespace {

bool readAddressList(const QString& source, QStringList* urls, QString* error) {
    QFile file;
    bool opened = false;
    if (source == QStringLiteral("-")) {
        opened = file.open(stdin, QIODevice::ReadOnly);
    } else {
        file.setFileName(source);
        opened = file.open(QIODevice::ReadOnly);
    }
    if (!opened) {
        *error = QStringLiteral("cannot read %1: %2").arg(source, file.errorString());
        return false;
    }
    return ReadAddressList(file, source == QStringLiteral("-") ? QStringLiteral("standard input") : source,
                           urls, error);
}

// Whether files can be made in folder, which is created when missing; false with *error naming what
// is wrong. Checked before the first page loads: every page would fail the same way after loading.
bool prepareFolder(const QString& folder, const QString& what, bool create, QString* error) {
    const QFileInfo info(folder);
    if (!info.isDir()) {
        if (info.exists() || !create || !QDir().mkpath(folder)) {
            *error = info.exists() ? QStringLiteral("%1 %2 is not a folder").arg(what, PrintableText(folder))
                     : create      ? QStringLiteral("cannot create %1 %2").arg(what, PrintableText(folder))
                                   : QStringLiteral("%1 %2 does not exist").arg(what, PrintableText(folder));
            return false;
        }
    }
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        *error = QStringLiteral("%1 %2 cannot be written: %3")
                     .arg(what, PrintableText(folder), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    return true;
}

// Whether the image file of a single capture can be written: into a device or FIFO as it is, else in
// its folder, which must be there (a file's folder is not made for it).
bool checkOutputFile(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir()) {
        if (::access(QFile::encodeName(path).constData(), W_OK) != 0) {
            *error = QStringLiteral("%1 cannot be written: %2")
                         .arg(PrintableText(path), QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        return true;
    }
    return prepareFolder(info.absolutePath(), QStringLiteral("the folder of"), false, error);
}

// Where each image goes, and what is loaded for each address: for the whole list, so that names and
// their -2, -3 suffixes are the same whichever shard an address falls in.
bool planOutputs(const CliOptions& options, const QString& defaultOutput, QList<BatchItem>* plan,
                 QString* error) {
    QList<BatchItem>& items = *plan;
    // The capture's sizes: the first, then the further ones, each an image of the same load.
    QList<QSize> sizes{QSize(options.capture.image.width, options.capture.image.height)};
    sizes += options.capture.image.moreSizes;
    const auto item = [&options](const QString& url, const QString& output, bool nameMade, int sizeIndex,
                                 QSize size) {
        BatchItem planned{url, output, nameMade, AddressFromUserInput(url), {}, sizeIndex, size};
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
        if (!checkOutputFile(output, error)) {
            return false;
        }
        items.append(item(options.urls.first(), output, false, 0, sizes.first()));
        return true;
    }
    const QString folder = options.output.isEmpty() ? QDir::currentPath() : options.output;
    if (!prepareFolder(folder, QStringLiteral("the output folder"), true, error)) {
        return false;
    }
    QSet<QString> used;
    qsizetype position = 0;
    for (const QString& url : options.urls) {
        const QString address = AddressFromUserInput(url);
        ++position;
        for (int k = 0; k < sizes.size(); ++k) {
            const QString size = QStringLiteral("%1x%2").arg(sizes[k].width()).arg(sizes[k].height());
            QString name = options.nameTemplate.isEmpty()
                               ? FileNameForUrl(address, options.capture.image.format)
                               : FileNameFromTemplate(options.nameTemplate, address, position,
                                                      options.capture.image.format, size);
            QString stem = QFileInfo(name).completeBaseName();
            const QString extension = QFileInfo(name).suffix();
            // Several sizes: each its own name, the size in it.
            if (sizes.size() > 1 && !options.nameTemplate.contains(QStringLiteral("{size}"))) {
                stem += QLatin1Char('-') + size;
                name = stem + QLatin1Char('.') + extension;
            }
            for (int n = 2; used.contains(name); ++n) {
                name = stem + QStringLiteral("-%1.").arg(n) + extension;
            }
            used.insert(name);
            items.append(item(url, QDir(folder).filePath(name), true, k, sizes[k]));
        }
    }
    return true;
}

// The items of this run's shard.
QList<BatchItem> shardItems(const QList<BatchItem>& items, const Shard& shard) {
    if (shard.count == 1) {
        return items;
    }
    QList<BatchItem> mine;
    for (const BatchItem& item : items) {
        if (ShardOfAddress(item.address, shard.count) == shard.index) {
            mine.append(item);
        }
    }
    return mine;
}

// Ends the image library, when the batch had it started, as main returns: after the runner, whose
// image steps use it. Its worker threads are then gone before the process's exit handlers run.
struct ImageLibraryShutdown {
    ImageLibraryShutdown() = default;
    ImageLibraryShutdown(const ImageLibraryShutdown&) = delete;
    ImageLibraryShutdown& operator=(const ImageLibraryShutdown&) = delete;
    ~ImageLibraryShutdown() { ShutDownImageLibrary(); }
};

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
    if (options.listDevices) {
        std::fputs(qUtf8Printable(DeviceList()), stdout);
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
    Shard& shard = options.scale.shard;
    const char* environmentIndex = std::getenv("JOB_COMPLETION_INDEX");
    if (!ResolveShardIndex(&shard, QString::fromLocal8Bit(environmentIndex), environmentIndex != nullptr,
                           &error)) {
        std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(error));
        return 2;
    }

    QList<BatchItem> planned;
    if (!planOutputs(options, defaultOutput, &planned, &error)) {
        std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(error));
        return 2;
    }
    // The gallery is written after the batch; whether it can be is known now (its folder made now, as
    // the output folder is).
    if (!options.gallery.isEmpty()) {
        const QFileInfo gallery(options.gallery);
        if (gallery.isDir()) {
            error = QStringLiteral("--gallery: %1 is a folder").arg(PrintableText(options.gallery));
        } else if (!prepareFolder(gallery.absolutePath(), QStringLiteral("the gallery's folder"), true,
                                  &error)) {
            error = QStringLiteral("--gallery: ") + error;
        } else {
            error.clear();
        }
        if (!error.isEmpty()) {
            std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(error));
            return 2;
        }
    }
    const QList<BatchItem> items = shardItems(planned, shard);
    if (shard.count > 1) {
        std::fprintf(stderr, "lumiclip-cli: shard %d/%d: %lld of %lld addresses\n", shard.index, shard.count,
                     static_cast<long long>(items.size()), static_cast<long long>(planned.size()));
    }

    // Ctrl+C and the like end the run in order: the browser is closed and its profile removed.
    TerminationSignals termination;

    BatchSettings settings;
    settings.capture = options.capture;
    settings.jobs = options.jobs;
    settings.retries = options.scale.retries;
    settings.json = options.json;
    settings.skipExisting = options.skipExisting;
    settings.progress = !options.json && items.size() > 1 && ::isatty(STDERR_FILENO) != 0;

    // The local browser, or one connection to each browser elsewhere (then nothing starts here).
    std::vector<std::unique_ptr<Browser>> browsers;
    QList<BrowserEndpoints::Endpoint> endpoints;
    if (options.scale.browsers.isEmpty()) {
        browsers.push_back(std::make_unique<Browser>());
        endpoints.append({browsers.back().get(), QString()});
    }
    for (const QString& address : std::as_const(options.scale.browsers)) {
        const QUrl endpoint(address);
        if (!RemoteBrowserLauncher::IsLoopbackOrEncrypted(endpoint)) {
            std::fprintf(stderr,
                         "lumiclip-cli: warning: %s is neither on this machine nor wss://: the pages and "
                         "the control of that browser cross the network unencrypted\n",
                         qUtf8Printable(PrintableText(address)));
        }
        browsers.push_back(std::make_unique<Browser>(std::make_unique<RemoteBrowserLauncher>(endpoint)));
        endpoints.append({browsers.back().get(), address});
    }
    const ImageLibraryShutdown imageLibraryShutdown;
    BatchRunner runner(endpoints, items, settings);
    QObject::connect(&runner, &BatchRunner::finished, &app, &QCoreApplication::quit);
    runner.start();
    app.exec();
    if (termination.received() != 0) {
        // Before the browser goes: a page whose capture fails as its pipe closes would start the next.
        runner.interrupt();
    }
    for (const std::unique_ptr<Browser>& browser : browsers) {
        browser->shutdown();
    }
    // After an interrupted batch too: it shows what was captured before the end.
    bool galleryWritten = true;
    if (!options.gallery.isEmpty()) {
        galleryWritten = WriteGallery(runner.results(), options.gallery, options.capture.image.width,
                                      options.capture.image.height, &error);
        if (!galleryWritten) {
            std::fprintf(stderr, "lumiclip-cli: %s\n", qUtf8Printable(PrintableText(error)));
        }
    }
    if (termination.received() != 0) {
        std::fprintf(stderr, "lumiclip-cli: interrupted\n");
        return 128 + termination.received();
    }
    return runner.allSucceeded() && galleryWritten && !runner.anEndpointNeverAnswered() ? 0 : 1;
}
