#include "cli/cli_options.h"

#include <QFileInfo>

#include <algorithm>

namespace lumiclip {

namespace {

CliOptionRow ownRow(const char* name, char shortName, const char* valueName, const char* help,
                    std::function<bool(const QString&, const QString&, CliOptions*, QString*)> apply) {
    CliOptionRow row;
    row.name = QLatin1String(name);
    row.shortName = shortName;
    row.valueName = QLatin1String(valueName);
    row.help = QString::fromUtf8(help);
    row.apply = std::move(apply);
    return row;
}

// A row of the capture option table, applied to the capture's values.
CliOptionRow captureRow(const char* name) {
    const CaptureOptionRow* capture = FindCaptureOption(QLatin1String(name));
    Q_ASSERT(capture);
    CliOptionRow row;
    row.name = capture->name;
    row.shortName = capture->shortName;
    row.valueName = capture->valueName;
    row.help = capture->help;
    row.repeatable = capture->repeatable;
    row.remote = capture->remote;
    row.apply = [capture](const QString& flag, const QString& value, CliOptions* options, QString* error) {
        return capture->apply(flag, value, &options->capture, error);
    };
    if (capture->fromSettings) {
        row.fromSettings = [capture](const CaptureSettings& settings, CliOptions* options) {
            return capture->fromSettings(settings, &options->capture);
        };
    }
    return row;
}

// A value for a field of the options, whatever it is.
std::function<bool(const QString&, const QString&, CliOptions*, QString*)> setText(
    QString CliOptions::*field) {
    return [field](const QString&, const QString& value, CliOptions* options, QString*) {
        options->*field = value;
        return true;
    };
}

std::function<bool(const QString&, const QString&, CliOptions*, QString*)> setSwitch(
    bool CliOptions::*field) {
    return [field](const QString&, const QString&, CliOptions* options, QString*) {
        options->*field = true;
        return true;
    };
}

std::function<bool(const QString&, const QString&, CliOptions*, QString*)> scaleOption() {
    return [](const QString& flag, const QString& value, CliOptions* options, QString* error) {
        return ParseScaleOption(flag, value, &options->scale, error);
    };
}

std::vector<CliOptionRow> makeRows() {
    std::vector<CliOptionRow> rows;
    rows.push_back(ownRow("output", 'o', "PATH",
                          "where the images go. A folder with -i, with several addresses,\n"
                          "when PATH ends in \"/\" or is an existing folder; else, for one\n"
                          "address, the image file. Default: the settings' output path for\n"
                          "one address, else the current folder",
                          setText(&CliOptions::output)));
    rows.push_back(ownRow("input", 'i', "FILE",
                          "read addresses from FILE, one per line (\"-\": standard input)",
                          setText(&CliOptions::inputList)));
    for (const char* name : {"view", "size", "format", "quality", "full-page", "no-lazy-load", "selector",
                             "scale-factor", "timeout"}) {
        rows.push_back(captureRow(name));
    }
    rows.push_back(ownRow(
        "jobs", 'j', "N", "pages captured at once on each browser (default 2)",
        [](const QString& flag, const QString& value, CliOptions* options, QString* error) {
            if (!ParseNumber(value, 1, 16, &options->jobs)) {
                *error =
                    QStringLiteral("%1: \"%2\" is not a number from 1 to 16").arg(flag, PrintableText(value));
                return false;
            }
            return true;
        }));
    rows.push_back(ownRow("settings", 0, "FILE",
                          "settings file for the defaults (default: the program's Lumiclip.ini)",
                          setText(&CliOptions::settingsFile)));
    for (const char* name :
         {"wait", "wait-for", "delay", "user-agent", "header", "dark", "javascript", "hide"}) {
        rows.push_back(captureRow(name));
    }
    // Any capture option not placed above is listed after them: each is a flag of this tool.
    for (const CaptureOptionRow& capture : CaptureOptionRows()) {
        if (std::none_of(rows.cbegin(), rows.cend(),
                         [&capture](const CliOptionRow& row) { return row.name == capture.name; })) {
            rows.push_back(captureRow(capture.name.toLatin1().constData()));
        }
    }
    // --device list lists the devices instead of naming one; a --size after the first adds a size.
    for (CliOptionRow& row : rows) {
        if (row.name == QStringLiteral("size")) {
            row.repeatable = true;
            row.help += QStringLiteral("; repeatable: an image a size, of one load");
            row.apply = [one = row.apply](const QString& flag, const QString& value, CliOptions* options,
                                          QString* error) {
                if (!options->given.contains(QStringLiteral("size"))) {
                    return one(flag, value, options, error);
                }
                CliOptions further;
                if (!one(flag, value, &further, error)) {
                    return false;
                }
                options->capture.image.moreSizes.append(
                    QSize(further.capture.image.width, further.capture.image.height));
                return true;
            };
        }
        if (row.name == QStringLiteral("device")) {
            row.apply = [named = row.apply](const QString& flag, const QString& value, CliOptions* options,
                                            QString* error) {
                if (value == QStringLiteral("list")) {
                    options->listDevices = true;
                    return true;
                }
                // The device's view stands over the settings file's.
                options->given.insert(QStringLiteral("view"));
                return named(flag, value, options, error);
            };
        }
    }
    rows.push_back(
        ownRow("json", 0, "", "one JSON object per line per result", setSwitch(&CliOptions::json)));
    rows.push_back(ownRow("web-only", 0, "", "refuse every address but http: and https: ones",
                          setSwitch(&CliOptions::webOnly)));
    rows.push_back(ownRow("skip-existing", 0, "", "do not load an address whose image file is already there",
                          setSwitch(&CliOptions::skipExisting)));
    rows.push_back(ownRow("name", 0, "TEMPLATE",
                          "names of the images in a folder, from {index} (the position in\n"
                          "the list), {host}, {path} and {hash} (of the address), e.g.\n"
                          "{index}-{host}; the format's extension is added",
                          [](const QString& flag, const QString& value, CliOptions* options, QString* error) {
                              const QString problem = CheckNameTemplate(value);
                              if (!problem.isEmpty()) {
                                  *error = QStringLiteral("%1: %2").arg(flag, PrintableText(problem));
                                  return false;
                              }
                              options->nameTemplate = value;
                              return true;
                          }));
    rows.push_back(ownRow(
        "gallery", 0, "FILE",
        "after the batch, an HTML page FILE of every image, address,\n"
        "status and error",
        [](const QString& flag, const QString& value, CliOptions* options, QString* error) {
            if (value.isEmpty() || value.endsWith(QLatin1Char('/'))) {
                *error = QStringLiteral("%1: \"%2\" is not a file name").arg(flag, PrintableText(value));
                return false;
            }
            options->gallery = value;
            return true;
        }));
    rows.push_back(ownRow("browser", 0, "URL",
                          "capture on the browser at URL instead of a local one: its\n"
                          "DevTools socket ws://HOST:PORT/devtools/browser/ID (or wss://),\n"
                          "or its http://HOST:PORT (found through /json/version);\n"
                          "repeatable, the pages are spread over every browser given",
                          scaleOption()));
    rows.back().repeatable = true;
    rows.push_back(ownRow("retries", 0, "N",
                          "tries more for a page lost with its browser, on the others or\n"
                          "on the same one when it is back, 0 to 10 (default 1)",
                          scaleOption()));
    rows.push_back(ownRow("shard", 0, "K/N",
                          "capture only the K-th of N parts of the list (1 <= K <= N); the\n"
                          "part of an address is fixed by a hash of it, so N runs with\n"
                          "K = 1..N capture every address exactly once",
                          scaleOption()));
    rows.push_back(ownRow("shard-count", 0, "N",
                          "N parts, as --shard K/N, with K from the environment:", scaleOption()));
    rows.push_back(ownRow("shard-index-from-env", 0, "",
                          "K is JOB_COMPLETION_INDEX + 1 (the index from 0 that a\n"
                          "Kubernetes Indexed Job sets)",
                          scaleOption()));
    rows.push_back(ownRow("help", 'h', "", "this text", setSwitch(&CliOptions::help)));
    rows.push_back(ownRow("version", 0, "", "the version", setSwitch(&CliOptions::version)));
    for (CliOptionRow& row : rows) {
        row.remote = false;  // the service has its own options; these rows are the command line's
    }
    return rows;
}

const CliOptionRow* findRow(const QString& flag) {
    const std::vector<CliOptionRow>& rows = CliOptionRows();
    const auto it = std::find_if(rows.cbegin(), rows.cend(), [&flag](const CliOptionRow& row) {
        return flag == row.longFlag() || (row.shortName && flag == row.shortFlag());
    });
    return it == rows.cend() ? nullptr : &*it;
}

}  // namespace

const std::vector<CliOptionRow>& CliOptionRows() {
    static const std::vector<CliOptionRow> rows = makeRows();
    return rows;
}

bool OutputIsFolder(const CliOptions& options) {
    if (!options.inputList.isEmpty() || options.urls.size() > 1 ||
        !options.capture.image.moreSizes.isEmpty()) {
        return true;
    }
    return options.output.endsWith(QLatin1Char('/')) || QFileInfo(options.output).isDir();
}

QString AddressWithoutPassword(const QString& address) {
    // scheme "://" userinfo "@" host...: the userinfo ends at the last "@" before the path, query or
    // fragment. Text, not a parsed address: the rest is shown as it was given.
    const qsizetype scheme = address.indexOf(QStringLiteral("://"));
    if (scheme < 0) {
        return address;
    }
    const qsizetype start = scheme + 3;
    qsizetype end = address.size();
    for (const QChar c : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = address.indexOf(c, start);
        if (at >= 0) {
            end = std::min(end, at);
        }
    }
    const qsizetype at = address.lastIndexOf(QLatin1Char('@'), end - 1);
    if (at < start) {
        return address;
    }
    const qsizetype colon = address.indexOf(QLatin1Char(':'), start);
    if (colon < 0 || colon > at) {
        return address;
    }
    return address.left(colon) + address.mid(at);
}

ParseStatus ParseCliArguments(const QStringList& args, CliOptions* options, QString* error) {
    bool onlyUrls = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        if (onlyUrls || !arg.startsWith(QLatin1Char('-')) || arg == QStringLiteral("-")) {
            if (arg == QStringLiteral("-") && !onlyUrls) {
                options->inputList = arg;
            } else {
                options->urls.append(arg);
            }
            continue;
        }
        if (arg == QStringLiteral("--")) {
            onlyUrls = true;
            continue;
        }
        QString value;
        bool hasInline = false;
        if (arg.startsWith(QStringLiteral("--")) && arg.contains(QLatin1Char('='))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            value = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasInline = true;
        }
        const CliOptionRow* row = findRow(arg);
        if (!row) {
            *error = QStringLiteral("unknown option %1").arg(PrintableText(arg));
            return ParseStatus::UsageError;
        }
        if (!row->valueName.isEmpty() && !hasInline) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(arg);
                return ParseStatus::UsageError;
            }
            value = args[++i];
        }
        if (!row->apply(arg, row->valueName.isEmpty() ? QString() : value, options, error)) {
            return ParseStatus::UsageError;
        }
        options->given.insert(row->name);
    }
    if (!options->help && !options->version && !options->listDevices && options->urls.isEmpty() &&
        options->inputList.isEmpty()) {
        *error = QStringLiteral("no address given");
        return ParseStatus::UsageError;
    }
    // A delay as long as the limit would be cut short by it and the page reported as captured.
    const CaptureRequest& capture = options->capture;
    if (capture.wait.delayMs > 0 && capture.wait.delayMs >= capture.limits.pageMs) {
        *error =
            QStringLiteral("--delay: %1 ms is not shorter than the time limit (--timeout %2 s)")
                .arg(QString::number(capture.wait.delayMs), QString::number(capture.limits.pageMs / 1000));
        return ParseStatus::UsageError;
    }
    if (!CheckScaleOptions(options->scale, error)) {
        return ParseStatus::UsageError;
    }
    return ParseStatus::Ok;
}

}  // namespace lumiclip
