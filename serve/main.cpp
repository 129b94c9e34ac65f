#include "core/browser/termination_signals.h"
#include "core/engine/option_values.h"
#include "core/image/image_library.h"
#include "serve/serve_app.h"

#include <QCoreApplication>

#include <cstdio>

using namespace lumiclip;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumiclip-serve"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMICLIP_VERSION));
    const auto fail = [](const QString& error) {
        std::fprintf(stderr, "lumiclip-serve: %s\n", qUtf8Printable(PrintableText(error)));
        return 2;
    };

    ServeOptions options;
    QString error;
    if (!ParseServeArguments(app.arguments().mid(1), &options, &error)) {
        std::fprintf(stderr, "lumiclip-serve: %s\nTry 'lumiclip-serve --help'.\n", qUtf8Printable(error));
        return 2;
    }
    if (options.help) {
        std::fputs(qUtf8Printable(ServeUsage()), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("lumiclip-serve %s\n", LUMICLIP_VERSION);
        return 0;
    }
    std::optional<ServiceDefaults> defaults = LoadServiceDefaults(options.settingsFile, &error);
    if (!defaults) {
        return fail(error);
    }
    std::optional<AccessCheck> access = AccessCheck::load(options.tokenFile, options.signingKeyFile, &error);
    if (!access) {
        return fail(error);
    }
    if (options.checkConfig) {
        std::printf("lumiclip-serve: the configuration is good (listen %s, cache %s)\n",
                    qUtf8Printable(options.listen), qUtf8Printable(options.cacheDir));
        return 0;
    }
    std::unique_ptr<ThumbCache> cache =
        ThumbCache::open(options.cacheDir, options.cacheMegabytes * 1024 * 1024, options.ttlSeconds, &error);
    if (!cache) {
        return fail(error);
    }

    // SIGTERM and SIGINT end the event loop; the captures in flight are then finished and answered.
    TerminationSignals termination;
    ServeApp serve(options, std::move(*defaults), std::move(*access), std::move(cache));
    if (!serve.start(&error)) {
        return fail(error);
    }
    std::fprintf(stderr, "lumiclip-serve: listening on http://%s:%u/\n",
                 qUtf8Printable(options.listenAddress.protocol() == QAbstractSocket::IPv6Protocol
                                    ? QStringLiteral("[%1]").arg(options.listenAddress.toString())
                                    : options.listenAddress.toString()),
                 static_cast<unsigned>(serve.port()));
    QObject::connect(&serve, &ServeApp::stopped, &app, &QCoreApplication::quit);
    app.exec();
    if (termination.received() != 0) {
        // The loop ended on the signal: finish in order, in a loop of its own.
        QEventLoop finishing;
        QObject::connect(&serve, &ServeApp::stopped, &finishing, &QEventLoop::quit);
        serve.shutDown();
        finishing.exec();
    }
    ShutDownImageLibrary();
    std::fprintf(stderr, "lumiclip-serve: stopped\n");
    return 0;
}
