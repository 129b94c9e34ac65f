#pragma once

#include "core/capture/address_policy.h"

#include <QHostAddress>
#include <QString>
#include <QStringList>

namespace lumiclip {

// How lumiclip-serve was started: where it listens, its cache, its browsers, who may ask and what the
// pages may reach.
struct ServeOptions {
    QHostAddress listenAddress = QHostAddress::LocalHost;
    quint16 listenPort = 8080;
    QString listen = QStringLiteral("127.0.0.1:8080");
    QString cacheDir;
    qint64 cacheMegabytes = 1024;
    qint64 ttlSeconds = 86400;
    int jobs = 2;
    int queue = 32;
    QStringList browsers;
    QString tokenFile;
    QString signingKeyFile;
    AddressPolicy addresses;
    QString settingsFile;
    // How long the captures in flight may take to finish after SIGTERM or SIGINT.
    int graceSeconds = 25;
    // How long a client may take to send its whole request.
    int requestTimeoutSeconds = 10;
    bool checkConfig = false;
    bool help = false;
    bool version = false;
};

// Reads the arguments (without the program's name); false with *error naming the option and value.
bool ParseServeArguments(const QStringList& args, ServeOptions* options, QString* error);

// The --help text.
QString ServeUsage();

// The cache folder when --cache is not given: systemd's CacheDirectory= when the service runs under it,
// else the user's cache folder.
QString DefaultServeCacheDir();

}  // namespace lumiclip
