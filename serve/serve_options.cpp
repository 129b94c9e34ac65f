#include "serve/serve_options.h"

#include "core/engine/option_values.h"

#include <QCommandLineParser>
#include <QDir>
#include <QHostInfo>
#include <QStandardPaths>

namespace lumiclip {

namespace {

struct Flag {
    const char* names;  // "j,jobs"
    const char* valueName;
    const char* help;
};

// In the order --help lists them.
constexpr Flag kFlags[] = {
    {"listen", "HOST:PORT", "where to listen (default 127.0.0.1:8080: this machine only)"},
    {"cache", "DIR", "the image cache's folder (default: the user's cache folder)"},
    {"cache-size", "MB", "the most the cache holds, in megabytes (default 1024)"},
    {"ttl", "SECONDS", "how long an image is answered from the cache (default 86400)"},
    {"j,jobs", "N", "pages captured at once on each browser (default 2)"},
    {"queue", "N", "captures that may wait for a browser; more are answered 429 (default 32)"},
    {"browser", "URL", "capture on a browser elsewhere (ws://... or http://HOST:PORT), repeatable"},
    {"token-file", "FILE", "every request needs Authorization: Bearer with a token of this file"},
    {"signing-key-file", "FILE", "/capture needs &sig=, the HMAC-SHA256 of the query under this key"},
    {"allow", "HOST[:PORT]", "pages may reach this host even at a private address, repeatable"},
    {"allow-private", nullptr, "pages may reach every address, private ones included"},
    {"settings", "FILE", "capture defaults from this settings file (default: Lumiclip.ini)"},
    {"grace", "SECONDS", "after SIGTERM, how long captures in flight may take to finish (default 25)"},
    {"request-timeout", "SECONDS", "a client's whole request must come within this (default 10)"},
    {"check-config", nullptr, "check the options and files, start nothing: status 0 or 2"},
    {"h,help", nullptr, "show this help"},
    {"version", nullptr, "show the version"},
};

bool number(const QCommandLineParser& parser, const char* name, qint64 lowest, qint64 highest, qint64* value,
            QString* error) {
    const QString key = QString::fromLatin1(name);
    if (!parser.isSet(key)) {
        return true;
    }
    bool ok = false;
    const qint64 given = parser.value(key).trimmed().toLongLong(&ok);
    if (!ok || given < lowest || given > highest) {
        *error = QStringLiteral("--%1: \"%2\" is not a number from %3 to %4")
                     .arg(key, PrintableText(parser.value(key)), QString::number(lowest),
                          QString::number(highest));
        return false;
    }
    *value = given;
    return true;
}

bool parseListen(const QString& text, ServeOptions* options, QString* error) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QString() : text.left(colon);
    bool ok = false;
    const uint port = colon < 0 ? 0 : text.mid(colon + 1).toUInt(&ok);
    if (colon < 0 || !ok || port > 65535) {
        *error = QStringLiteral("--listen: \"%1\" is not HOST:PORT").arg(PrintableText(text));
        return false;
    }
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
        host = host.mid(1, host.size() - 2);
    }
    QHostAddress address;
    if (host.isEmpty()) {
        address = QHostAddress(QHostAddress::AnyIPv4);
    } else if (!address.setAddress(host)) {
        const QHostInfo info = QHostInfo::fromName(host);
        if (info.addresses().isEmpty()) {
            *error = QStringLiteral("--listen: cannot resolve \"%1\"").arg(PrintableText(host));
            return false;
        }
        address = info.addresses().first();
    }
    options->listen = text;
    options->listenAddress = address;
    options->listenPort = static_cast<quint16>(port);
    return true;
}

}  // namespace

QString DefaultServeCacheDir() {
    const QString systemd = qEnvironmentVariable("CACHE_DIRECTORY");
    if (!systemd.isEmpty()) {
        return systemd.split(QLatin1Char(':')).first();
    }
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("lumiclip-serve"));
}

bool ParseServeArguments(const QStringList& args, ServeOptions* options, QString* error) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    for (const Flag& flag : kFlags) {
        QCommandLineOption option(QString::fromLatin1(flag.names).split(QLatin1Char(',')),
                                  QString::fromLatin1(flag.help));
        if (flag.valueName) {
            option.setValueName(QString::fromLatin1(flag.valueName));
        }
        parser.addOption(option);
    }
    if (!parser.parse(QStringList{QStringLiteral("lumiclip-serve")} + args)) {
        *error = parser.errorText();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"")
                     .arg(PrintableText(parser.positionalArguments().first()));
        return false;
    }
    options->help = parser.isSet(QStringLiteral("help"));
    options->version = parser.isSet(QStringLiteral("version"));
    options->checkConfig = parser.isSet(QStringLiteral("check-config"));
    if (parser.isSet(QStringLiteral("listen")) &&
        !parseListen(parser.value(QStringLiteral("listen")), options, error)) {
        return false;
    }
    options->cacheDir = parser.isSet(QStringLiteral("cache")) ? parser.value(QStringLiteral("cache"))
                                                              : DefaultServeCacheDir();
    if (options->cacheDir.isEmpty()) {
        *error = QStringLiteral("--cache needs a folder");
        return false;
    }
    qint64 jobs = options->jobs;
    qint64 queue = options->queue;
    qint64 grace = options->graceSeconds;
    qint64 requestTimeout = options->requestTimeoutSeconds;
    if (!number(parser, "cache-size", 1, qint64{1} << 30, &options->cacheMegabytes, error) ||
        !number(parser, "ttl", 1, qint64{10} * 365 * 86400, &options->ttlSeconds, error) ||
        !number(parser, "jobs", 1, 64, &jobs, error) || !number(parser, "queue", 0, 100000, &queue, error) ||
        !number(parser, "grace", 0, 3600, &grace, error) ||
        !number(parser, "request-timeout", 1, 3600, &requestTimeout, error)) {
        return false;
    }
    options->jobs = static_cast<int>(jobs);
    options->queue = static_cast<int>(queue);
    options->graceSeconds = static_cast<int>(grace);
    options->requestTimeoutSeconds = static_cast<int>(requestTimeout);
    options->browsers = parser.values(QStringLiteral("browser"));
    options->tokenFile = parser.value(QStringLiteral("token-file"));
    options->signingKeyFile = parser.value(QStringLiteral("signing-key-file"));
    options->settingsFile = parser.value(QStringLiteral("settings"));
    options->addresses.guarded = true;
    options->addresses.allowPrivate = parser.isSet(QStringLiteral("allow-private"));
    for (const QString& value : parser.values(QStringLiteral("allow"))) {
        QString hostError;
        const std::optional<AllowedHost> host = ParseAllowedHost(value, &hostError);
        if (!host) {
            *error = QStringLiteral("--allow: %1").arg(hostError);
            return false;
        }
        options->addresses.allowed.append(*host);
    }
    return true;
}

QString ServeUsage() {
    QString text = QStringLiteral(
        "Usage: lumiclip-serve [options]\n"
        "Answers thumbnails of web pages over HTTP: GET /capture?url=https://...&size=360x276\n"
        "(every page option of lumiclip-cli as a parameter, with _ for -), cached on disk.\n"
        "Pages never reach a private address (loopback, LAN, link-local, cloud metadata)\n"
        "unless --allow or --allow-private says so.\n\n"
        "Options:\n");
    for (const Flag& flag : kFlags) {
        const QStringList names = QString::fromLatin1(flag.names).split(QLatin1Char(','));
        const QString shortFlag = names.size() > 1 ? QStringLiteral("-") + names.first() : QString();
        text += OptionHelpLines(shortFlag, QStringLiteral("--") + names.last(),
                                flag.valueName ? QString::fromLatin1(flag.valueName) : QString(),
                                QString::fromLatin1(flag.help));
    }
    text += QStringLiteral(
        "\nEndpoints: GET / (try a capture), GET|POST /capture, GET /healthz, GET /metrics.\n");
    return text;
}

}  // namespace lumiclip
