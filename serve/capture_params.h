#pragma once

#include "core/capture/capture_request.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace lumiclip {

struct ImageFormat;

using Params = QList<QPair<QString, QString>>;

// What every capture of the service starts from: the settings file's defaults, and what tells them
// apart from another file's or another version's (part of every cache key, so that a changed default
// is never answered with an image made under the old one).
struct ServiceDefaults {
    CaptureRequest request;
    QByteArray fingerprint;
    // Whether a request may name a proxy: only where every address may be reached anyway, since the
    // proxy's own address is not one the page's checks see.
    bool proxies = false;
};

// Builds the defaults from the settings file at path (empty: the user's own; a missing file reads as
// the built-in defaults). nullopt with *error naming the file and the key when a value cannot serve.
std::optional<ServiceDefaults> LoadServiceDefaults(const QString& path, QString* error);

// A request's fault, as the answer gives it: the status and the error's kind and text.
struct ParamsError {
    int status = 400;
    QString kind;
    QString message;
};

// A capture as a client asked for it: the request for the engine, and the key of its image in the
// cache (64 hex characters).
struct CaptureParams {
    CaptureRequest request;
    QByteArray key;
};

// The parameters of /capture (decoded, in their order) made into a capture, through the option table's
// rows that a remote client may use, names with "_" for "-". A switch takes no value, "1", "true" or
// "yes" (and "0", "false" or "no" to leave it off). Unknown parameters, a parameter given twice that
// cannot be, and values the rows refuse are errors, never a silent default. url is required, at most
// kMaxAddressBytes, http or https; sig (a signed address's) is not a rendering parameter.
std::optional<CaptureParams> ParseCaptureParams(const Params& params, const ServiceDefaults& defaults,
                                                ParamsError* error);

// The parameters of a JSON object posted to /capture: strings, numbers and booleans as values, an
// array for a parameter given several times. false with *error for anything else.
bool ParamsFromJson(const QByteArray& body, Params* params, QString* error);

// The format of the image a request makes (its name is one of the table's once the request is checked).
const ImageFormat& RequestedFormat(const CaptureRequest& request);

// The longest address the service takes, in bytes.
inline constexpr qsizetype kMaxAddressBytes = 8192;

}  // namespace lumiclip
