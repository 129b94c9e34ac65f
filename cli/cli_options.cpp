#include "cli/cli_options.h"

#include "core/capture/capture_options.h"
#include "core/image/image_format.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

#include <algorithm>

namespace lumiclip {

const QStringList& CliFormats() {
    static const QStringList formats = ImageFormatNames();
    return formats;
}

QString CliFormatName(const QString& name) {
    const ImageFormat* format = FindImageFormat(name.trimmed(), Qt::CaseInsensitive);
    return format ? QLatin1String(format->name) : QString();
}

bool OutputIsFolder(const CliOptions& options) {
    if (!options.inputList.isEmpty() || options.urls.size() > 1) {
        return true;
    }
    return options.output.endsWith(QLatin1Char('/')) || QFileInfo(options.output).isDir();
}

QString PrintableText(const QString& text) {
    QString printable;
    printable.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\n') {
            printable += QStringLiteral("\\n");
        } else if (u == u'\r') {
            printable += QStringLiteral("\\r");
        } else if (u == u'\t') {
            printable += QStringLiteral("\\t");
        } else if (u < 0x20 || (u >= 0x7f && u <= 0x9f)) {
            printable += QStringLiteral("\\x%1").arg(static_cast<int>(u), 2, 16, QLatin1Char('0'));
        } else if (u == 0x061c || u == 0x200e || u == 0x200f || (u >= 0x202a && u <= 0x202e) ||
                   (u >= 0x2066 && u <= 0x2069)) {
            // Marks, embeddings, overrides and isolates reorder the text around them: an address could
            // show its end first, or a result line read backwards.
            printable += QStringLiteral("\\u%1").arg(static_cast<int>(u), 4, 16, QLatin1Char('0'));
        } else {
            printable += c;
        }
    }
    return printable;
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

bool HasControlCharacter(const QString& text) {
    return std::any_of(text.cbegin(), text.cend(), [](QChar c) {
        const char16_t u = c.unicode();
        return (u < 0x20 && u != u'\t') || (u >= 0x7f && u <= 0x9f);
    });
}

const QStringList& BrowserOwnedHeaders() {
    static const QStringList names{QStringLiteral("Host"),
                                   QStringLiteral("Content-Length"),
                                   QStringLiteral("Transfer-Encoding"),
                                   QStringLiteral("Connection"),
                                   QStringLiteral("Keep-Alive"),
                                   QStringLiteral("Upgrade"),
                                   QStringLiteral("Proxy-Connection"),
                                   QStringLiteral("TE"),
                                   QStringLiteral("Trailer")};
    return names;
}

bool ParseSize(const QString& text, int* width, int* height, bool zeroKeepsProportions) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,6})[xX]([0-9]{1,6})$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) {
        return false;
    }
    const int w = match.captured(1).toInt();
    const int h = match.captured(2).toInt();
    const int least = zeroKeepsProportions ? 0 : 1;
    if (w < least || h < least || (w == 0 && h == 0) || w > kMaxCaptureSide || h > kMaxCaptureSide) {
        return false;
    }
    *width = w;
    *height = h;
    return true;
}

bool ParsePageOption(const QString& flag, const QString& value, CaptureOptions* capture, QString* error) {
    const auto refuse = [&](const QString& why) {
        *error = QStringLiteral("%1: \"%2\" %3").arg(flag, PrintableText(value), why);
        return false;
    };
    if (flag == QStringLiteral("--wait")) {
        static const QHash<QString, WaitCondition> conditions{
            {QStringLiteral("load"), WaitCondition::Load},
            {QStringLiteral("domcontentloaded"), WaitCondition::DomContentLoaded},
            {QStringLiteral("networkidle"), WaitCondition::NetworkIdle}};
        const auto it = conditions.constFind(value.toLower());
        if (it == conditions.cend()) {
            return refuse(QStringLiteral("is not load, domcontentloaded or networkidle"));
        }
        capture->wait = *it;
    } else if (flag == QStringLiteral("--delay")) {
        bool ok = false;
        const int ms = value.toInt(&ok);
        if (!ok || ms < 0 || ms > 3600 * 1000) {
            return refuse(QStringLiteral("is not a number of milliseconds from 0 to 3600000"));
        }
        capture->delayMs = ms;
    } else if (flag == QStringLiteral("-H") || flag == QStringLiteral("--header")) {
        // A request header: a token, a colon, a value on one line.
        static const QRegularExpression header(
            QStringLiteral("^([!#$%&'*+.^_`|~0-9A-Za-z-]+):[ \t]*([^\r\n]*)$"));
        const QRegularExpressionMatch match = header.match(value);
        if (!match.hasMatch()) {
            return refuse(QStringLiteral("is not a header 'Name: value'"));
        }
        const QString name = match.captured(1);
        const QString headerValue = match.captured(2).trimmed();
        if (HasControlCharacter(headerValue)) {
            return refuse(QStringLiteral("holds a control character"));
        }
        // The browser drops these without a word: they describe the connection, which is its own.
        if (BrowserOwnedHeaders().contains(name, Qt::CaseInsensitive)) {
            return refuse(
                QStringLiteral("sets %1, which the browser decides itself and would drop").arg(name));
        }
        capture->headers.append({name, headerValue});
    } else if (flag == QStringLiteral("--javascript")) {
        QFile file(value);
        if (!file.open(QIODevice::ReadOnly)) {
            return refuse(QStringLiteral("cannot be read: %1").arg(file.errorString()));
        }
        // Read up to one byte over the limit: /dev/zero or a pipe that never ends is refused, not read
        // until the memory runs out.
        const QByteArray source = file.read(kMaxScriptBytes + 1);
        if (source.size() > kMaxScriptBytes) {
            return refuse(QStringLiteral("is larger than %1 bytes").arg(kMaxScriptBytes));
        }
        capture->script = QString::fromUtf8(source);
    } else if (value.trimmed().isEmpty()) {
        return refuse(QStringLiteral("is empty"));
    } else if (flag == QStringLiteral("--wait-for")) {
        capture->waitFor = value;
    } else if (flag == QStringLiteral("--user-agent")) {
        if (HasControlCharacter(value)) {
            return refuse(QStringLiteral("holds a control character"));
        }
        capture->userAgent = value;
    } else if (flag == QStringLiteral("--hide")) {
        capture->hide.append(value);
    }
    return true;
}

ParseStatus ParseCliArguments(const QStringList& args, CliOptions* options, QString* error) {
    auto needValue = [&](qsizetype& i, const QString& name, QString* value) {
        if (i + 1 >= args.size()) {
            *error = QStringLiteral("%1 needs a value").arg(name);
            return false;
        }
        *value = args[++i];
        return true;
    };
    bool onlyUrls = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString inlineValue;
        bool hasInline = false;
        if (!onlyUrls && arg.startsWith(QStringLiteral("--")) && arg.contains(QLatin1Char('='))) {
            const qsizetype eq = arg.indexOf(QLatin1Char('='));
            inlineValue = arg.mid(eq + 1);
            arg = arg.left(eq);
            hasInline = true;
        }
        auto value = [&](const QString& name, QString* out) {
            if (hasInline) {
                *out = inlineValue;
                return true;
            }
            return needValue(i, name, out);
        };
        QString v;
        if (onlyUrls || !arg.startsWith(QLatin1Char('-')) || arg == QStringLiteral("-")) {
            if (arg == QStringLiteral("-") && !onlyUrls) {
                options->inputList = arg;
            } else {
                options->urls.append(args[i]);
            }
        } else if (arg == QStringLiteral("--")) {
            onlyUrls = true;
        } else if (arg == QStringLiteral("-h") || arg == QStringLiteral("--help")) {
            options->help = true;
        } else if (arg == QStringLiteral("--version")) {
            options->version = true;
        } else if (arg == QStringLiteral("--json")) {
            options->json = true;
        } else if (arg == QStringLiteral("--web-only")) {
            options->webOnly = true;
        } else if (arg == QStringLiteral("--dark")) {
            options->capture.dark = true;
        } else if (arg == QStringLiteral("--wait") || arg == QStringLiteral("--wait-for") ||
                   arg == QStringLiteral("--delay") || arg == QStringLiteral("--user-agent") ||
                   arg == QStringLiteral("-H") || arg == QStringLiteral("--header") ||
                   arg == QStringLiteral("--javascript") || arg == QStringLiteral("--hide")) {
            if (!value(arg, &v) || !ParsePageOption(arg, v, &options->capture, error)) {
                return ParseStatus::UsageError;
            }
        } else if (bool takesValue = false; IsScaleFlag(arg, &takesValue)) {
            if ((takesValue && !value(arg, &v)) || !ParseScaleOption(arg, v, &options->scale, error)) {
                return ParseStatus::UsageError;
            }
        } else if (arg == QStringLiteral("--skip-existing")) {
            options->skipExisting = true;
        } else if (arg == QStringLiteral("--name")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            const QString problem = CheckNameTemplate(v);
            if (!problem.isEmpty()) {
                *error = QStringLiteral("%1: %2").arg(arg, PrintableText(problem));
                return ParseStatus::UsageError;
            }
            options->nameTemplate = v;
        } else if (arg == QStringLiteral("--gallery")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            if (v.isEmpty() || v.endsWith(QLatin1Char('/'))) {
                *error = QStringLiteral("%1: \"%2\" is not a file name").arg(arg, PrintableText(v));
                return ParseStatus::UsageError;
            }
            options->gallery = v;
        } else if (arg == QStringLiteral("-o") || arg == QStringLiteral("--output")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            options->output = v;
        } else if (arg == QStringLiteral("-i") || arg == QStringLiteral("--input")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            options->inputList = v;
        } else if (arg == QStringLiteral("--settings")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            options->settingsFile = v;
        } else if (arg == QStringLiteral("--view") || arg == QStringLiteral("--size")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            const bool view = arg == QStringLiteral("--view");
            CaptureOptions& capture = options->capture;
            if (!ParseSize(v, view ? &capture.viewWidth : &capture.imageWidth,
                           view ? &capture.viewHeight : &capture.imageHeight, !view)) {
                // In one pass: what the user typed ("%1x%2") is text, not a place for the next value.
                *error = QStringLiteral("%1: \"%2\" is not a size WIDTHxHEIGHT with each side from 1 to %3%4")
                             .arg(arg, PrintableText(v), QString::number(kMaxCaptureSide),
                                  view ? QString() : QStringLiteral(" (or one side 0: in proportion)"));
                return ParseStatus::UsageError;
            }
            (view ? options->viewGiven : options->sizeGiven) = true;
        } else if (arg == QStringLiteral("-f") || arg == QStringLiteral("--format")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            const QString format = CliFormatName(v);
            if (format.isEmpty()) {
                *error = QStringLiteral("%1: unknown format \"%2\" (%3)")
                             .arg(arg, PrintableText(v), CliFormats().join(QStringLiteral(", ")));
                return ParseStatus::UsageError;
            }
            options->capture.format = format;
            options->formatGiven = true;
        } else if (arg == QStringLiteral("--timeout") || arg == QStringLiteral("-j") ||
                   arg == QStringLiteral("--jobs")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            bool ok = false;
            const int n = v.toInt(&ok);
            const bool timeout = arg == QStringLiteral("--timeout");
            if (!ok || n < 1 || n > (timeout ? 3600 : 16)) {
                *error = QStringLiteral("%1: \"%2\" is not a number from 1 to %3")
                             .arg(arg, PrintableText(v), QString::number(timeout ? 3600 : 16));
                return ParseStatus::UsageError;
            }
            if (timeout) {
                options->capture.limits.pageMs = n * 1000;
            } else {
                options->jobs = n;
            }
        } else if (arg == QStringLiteral("--quality")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            bool ok = false;
            const int quality = v.toInt(&ok);
            if (!ok || quality < 1 || quality > 100) {
                *error =
                    QStringLiteral("%1: \"%2\" is not a number from 1 to 100").arg(arg, PrintableText(v));
                return ParseStatus::UsageError;
            }
            options->capture.quality = quality;
        } else if (arg == QStringLiteral("--full-page")) {
            if (options->capture.kind == CaptureKind::Element) {
                *error = QStringLiteral("--full-page and --selector cannot be used together");
                return ParseStatus::UsageError;
            }
            options->capture.kind = CaptureKind::FullPage;
        } else if (arg == QStringLiteral("--selector")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            if (options->capture.kind == CaptureKind::FullPage) {
                *error = QStringLiteral("--full-page and --selector cannot be used together");
                return ParseStatus::UsageError;
            }
            if (v.trimmed().isEmpty()) {
                *error = QStringLiteral("%1 needs a selector").arg(arg);
                return ParseStatus::UsageError;
            }
            options->capture.kind = CaptureKind::Element;
            options->capture.selector = v;
        } else if (arg == QStringLiteral("--scale-factor")) {
            if (!value(arg, &v)) {
                return ParseStatus::UsageError;
            }
            bool ok = false;
            const double factor = v.toDouble(&ok);
            if (!ok || !(factor >= 1 && factor <= 4)) {
                *error = QStringLiteral("%1: \"%2\" is not a number from 1 to 4").arg(arg, PrintableText(v));
                return ParseStatus::UsageError;
            }
            options->capture.scaleFactor = factor;
        } else {
            *error = QStringLiteral("unknown option %1").arg(PrintableText(arg));
            return ParseStatus::UsageError;
        }
    }
    if (!options->help && !options->version && options->urls.isEmpty() && options->inputList.isEmpty()) {
        *error = QStringLiteral("no address given");
        return ParseStatus::UsageError;
    }
    // A delay as long as the limit would be cut short by it and the page reported as captured.
    if (options->capture.delayMs > 0 && options->capture.delayMs >= options->capture.limits.pageMs) {
        *error = QStringLiteral("--delay: %1 ms is not shorter than the time limit (--timeout %2 s)")
                     .arg(QString::number(options->capture.delayMs),
                          QString::number(options->capture.limits.pageMs / 1000));
        return ParseStatus::UsageError;
    }
    if (!CheckScaleOptions(options->scale, error)) {
        return ParseStatus::UsageError;
    }
    return ParseStatus::Ok;
}

}  // namespace lumiclip
