#include "serve/capture_params.h"

#include "core/capture/user_address.h"
#include "core/engine/option_table.h"
#include "core/image/image_format.h"
#include "core/settings/capture_settings.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QUrl>

#include <algorithm>

namespace lumiclip {

namespace {

const QString kUrl = QStringLiteral("url");
const QString kSig = QStringLiteral("sig");

// The row of a parameter name, if a remote client may use it.
const CaptureOptionRow* remoteRow(const QString& parameter) {
    for (const CaptureOptionRow& row : CaptureOptionRows()) {
        if (row.remote && row.parameterName() == parameter) {
            return &row;
        }
    }
    return nullptr;
}

// A switch's value: on, off, or neither (nullopt).
std::optional<bool> switchValue(const QString& value) {
    const QString v = value.trimmed().toLower();
    if (v.isEmpty() || v == QStringLiteral("1") || v == QStringLiteral("true") ||
        v == QStringLiteral("yes")) {
        return true;
    }
    if (v == QStringLiteral("0") || v == QStringLiteral("false") || v == QStringLiteral("no")) {
        return false;
    }
    return std::nullopt;
}

void appendField(QCryptographicHash* hash, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    hash->addData(QByteArray::number(bytes.size()) + ':');
    hash->addData(bytes);
}

// The address as the cache knows it: the same page however its scheme and host were written, with the
// scheme's own port left out.
QString normalisedAddress(const QUrl& url) {
    QUrl normal = url.adjusted(QUrl::NormalizePathSegments);
    if ((normal.scheme() == QStringLiteral("http") && normal.port() == 80) ||
        (normal.scheme() == QStringLiteral("https") && normal.port() == 443)) {
        normal.setPort(-1);
    }
    if (normal.path().isEmpty()) {
        normal.setPath(QStringLiteral("/"));
    }
    return normal.toString(QUrl::FullyEncoded);
}

ParamsError fault(int status, const char* kind, const QString& message) {
    return ParamsError{status, QString::fromLatin1(kind), message};
}

}  // namespace

std::optional<ServiceDefaults> LoadServiceDefaults(const QString& path, QString* error) {
    const QString file = path.isEmpty() ? SettingsFilePath() : path;
    ServiceDefaults defaults;
    defaults.request.output.to = CaptureOutput::Bytes;
    const CaptureSettings settings = LoadCaptureSettings(file);
    for (const CaptureOptionRow& row : CaptureOptionRows()) {
        if (!row.fromSettings) {
            continue;
        }
        const QString problem = row.fromSettings(settings, &defaults.request);
        if (!problem.isEmpty()) {
            *error = QStringLiteral("settings file %1: %2").arg(file, problem);
            return std::nullopt;
        }
    }
    const QString requestError = CheckCaptureRequest(defaults.request, kCommandLineProfile);
    if (!requestError.isEmpty()) {
        *error = QStringLiteral("settings file %1: %2").arg(file, requestError);
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QByteArrayLiteral("lumiclip-serve " LUMICLIP_VERSION "\n"));
    QFile settingsFile(file);
    if (settingsFile.open(QIODevice::ReadOnly)) {
        hash.addData(settingsFile.read(qint64{1024} * 1024));
    }
    defaults.fingerprint = hash.result().toHex();
    return defaults;
}

std::optional<CaptureParams> ParseCaptureParams(const Params& params, const ServiceDefaults& defaults,
                                                ParamsError* error) {
    CaptureParams capture;
    capture.request = defaults.request;
    QString address;
    bool haveAddress = false;
    QSet<QString> seen;
    Params rendering;
    for (const auto& [name, value] : params) {
        if (name == kSig) {
            continue;
        }
        if (name == kUrl) {
            if (haveAddress) {
                *error = fault(400, "bad_request", QStringLiteral("url is given twice"));
                return std::nullopt;
            }
            haveAddress = true;
            address = value.trimmed();
            continue;
        }
        const CaptureOptionRow* row = remoteRow(name);
        if (!row) {
            *error = fault(400, "bad_request",
                           FindCaptureOption(QString(name).replace(QLatin1Char('_'), QLatin1Char('-')))
                               ? QStringLiteral("the parameter %1 reads this machine's files and is not "
                                                "taken over HTTP")
                                     .arg(PrintableText(name))
                               : QStringLiteral("unknown parameter \"%1\"").arg(PrintableText(name)));
            return std::nullopt;
        }
        if (!row->repeatable && seen.contains(name)) {
            *error = fault(400, "bad_request", QStringLiteral("%1 is given twice").arg(name));
            return std::nullopt;
        }
        seen.insert(name);
        if (row->name == QStringLiteral("proxy") && !defaults.proxies) {
            *error = fault(403, "forbidden_address",
                           QStringLiteral("proxy is taken only by a server started with --allow-private"));
            return std::nullopt;
        }
        QString given = value;
        if (row->valueName.isEmpty()) {
            const std::optional<bool> on = switchValue(value);
            if (!on) {
                *error =
                    fault(400, "bad_request",
                          QStringLiteral("%1: \"%2\" is not a switch's value (1, true, yes, 0, false, no)")
                              .arg(name, PrintableText(value)));
                return std::nullopt;
            }
            if (!*on) {
                continue;
            }
            given.clear();
        }
        QString rowError;
        if (!row->apply(name, given, &capture.request, &rowError)) {
            *error = fault(400, "bad_request", rowError);
            return std::nullopt;
        }
        rendering.append({name, given});
    }
    if (!haveAddress || address.isEmpty()) {
        *error = fault(400, "bad_request", QStringLiteral("url is required: /capture?url=https://..."));
        return std::nullopt;
    }
    if (address.toUtf8().size() > kMaxAddressBytes) {
        *error = fault(414, "bad_request",
                       QStringLiteral("url is longer than %1 bytes").arg(QString::number(kMaxAddressBytes)));
        return std::nullopt;
    }
    const QUrl url(AddressFromUserInput(address), QUrl::StrictMode);
    if (url.isValid() && url.scheme() != QStringLiteral("http") && url.scheme() != QStringLiteral("https")) {
        *error =
            fault(403, "forbidden_address",
                  QStringLiteral("only http and https addresses are captured, not %1:").arg(url.scheme()));
        return std::nullopt;
    }
    if (!url.isValid() || url.host().isEmpty()) {
        *error = fault(400, "invalid_address",
                       QStringLiteral("\"%1\" is not an address").arg(PrintableText(address)));
        return std::nullopt;
    }
    const QString requestError = CheckCaptureRequest(capture.request, kCommandLineProfile);
    if (!requestError.isEmpty()) {
        *error = fault(400, "bad_request", requestError);
        return std::nullopt;
    }
    if (!capture.request.image.moreSizes.isEmpty()) {
        *error = fault(400, "bad_request", QStringLiteral("one size per request"));
        return std::nullopt;
    }
    capture.request.url = url.toString(QUrl::FullyEncoded);
    capture.request.output.to = CaptureOutput::Bytes;

    // The key: the defaults, the address and the parameters by name (those given several times in their
    // order, which counts: clicks are made in it).
    std::stable_sort(rendering.begin(), rendering.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(defaults.fingerprint);
    appendField(&hash, normalisedAddress(url));
    for (const auto& [name, value] : rendering) {
        appendField(&hash, name);
        appendField(&hash, value);
    }
    capture.key = hash.result().toHex();
    return capture;
}

const ImageFormat& RequestedFormat(const CaptureRequest& request) {
    const ImageFormat* format = FindImageFormat(request.image.format);
    return format ? *format : kImageFormats.front();
}

bool ParamsFromJson(const QByteArray& body, Params* params, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (!document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? QStringLiteral("the body is not JSON: %1").arg(parseError.errorString())
                     : QStringLiteral("the body is not a JSON object");
        return false;
    }
    const QJsonObject object = document.object();
    const auto text = [](const QJsonValue& value, QString* out) {
        switch (value.type()) {
            case QJsonValue::String:
                *out = value.toString();
                return true;
            case QJsonValue::Bool:
                *out = value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
                return true;
            case QJsonValue::Double: {
                const double number = value.toDouble();
                *out = number == static_cast<double>(static_cast<qint64>(number))
                           ? QString::number(static_cast<qint64>(number))
                           : QString::number(number);
                return true;
            }
            default:
                return false;
        }
    };
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QJsonArray values = it.value().isArray() ? it.value().toArray() : QJsonArray{it.value()};
        for (const auto& value : values) {
            QString given;
            if (!text(value, &given)) {
                *error = QStringLiteral("%1: a value must be a string, a number or true/false").arg(it.key());
                return false;
            }
            params->append({it.key(), given});
        }
    }
    return true;
}

}  // namespace lumiclip
