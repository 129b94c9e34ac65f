#pragma once

#include <QString>
#include <QStringList>

namespace lumiclip {

// What lumiclip-cli was asked to do. Defaults are the program's own; the settings file and then the
// flags override them.
struct CliOptions {
    QStringList urls;
    // A file with one address per line ("-" is standard input).
    QString inputList;
    QString output;
    QString settingsFile;
    int viewWidth = 810;
    int viewHeight = 600;
    int imageWidth = 180;
    int imageHeight = 138;
    QString format = QStringLiteral("JPG");
    int timeoutSeconds = 30;
    int jobs = 2;
    bool json = false;
    bool help = false;
    bool version = false;
    // Which values the command line set, so that settings-file defaults do not override them.
    bool viewGiven = false;
    bool sizeGiven = false;
    bool formatGiven = false;
};

enum class ParseStatus { Ok, UsageError };

// Parses the arguments after the program name. On a usage error *error names the bad argument.
ParseStatus ParseCliArguments(const QStringList& args, CliOptions* options, QString* error);

// "WxH" with both sides from 1 to the capture maximum.
bool ParseSize(const QString& text, int* width, int* height);

// The usage text of --help.
QString CliUsage();

// A file name for the capture of url: its host, port and path with everything unsafe turned into
// '_', at most 120 characters, then "." and the format in lower case.
QString FileNameForUrl(const QString& url, const QString& format);

}  // namespace lumiclip
