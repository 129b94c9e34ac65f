#include "core/capture/capture_error.h"

#include "core/cdp/cdp_connection.h"

#include <QStringList>

namespace lumiclip {

QString ErrorKindName(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::None:
            return {};
        case ErrorKind::InvalidAddress:
            return QStringLiteral("invalid_address");
        case ErrorKind::ForbiddenAddress:
            return QStringLiteral("forbidden_address");
        case ErrorKind::Network:
            return QStringLiteral("network");
        case ErrorKind::HttpStatus:
            return QStringLiteral("http_status");
        case ErrorKind::Timeout:
            return QStringLiteral("timeout");
        case ErrorKind::Selector:
            return QStringLiteral("selector");
        case ErrorKind::Script:
            return QStringLiteral("script");
        case ErrorKind::BrowserUnavailable:
            return QStringLiteral("browser_unavailable");
        case ErrorKind::BrowserLost:
            return QStringLiteral("browser_lost");
        case ErrorKind::BrowserError:
            return QStringLiteral("browser_error");
        case ErrorKind::Image:
            return QStringLiteral("image");
        case ErrorKind::Write:
            return QStringLiteral("write");
        case ErrorKind::Interrupted:
            return QStringLiteral("interrupted");
    }
    return {};
}

ErrorKind NavigationErrorKind(const QString& errorText) {
    static const QStringList addressCodes{QStringLiteral("net::ERR_INVALID_URL"),
                                          QStringLiteral("net::ERR_UNKNOWN_URL_SCHEME"),
                                          QStringLiteral("net::ERR_DISALLOWED_URL_SCHEME")};
    return addressCodes.contains(errorText.trimmed()) ? ErrorKind::InvalidAddress : ErrorKind::Network;
}

CaptureError ErrorOfReply(const CdpReply& reply) {
    switch (reply.failure) {
        case CdpFailure::Closed:
            return {ErrorKind::BrowserLost, reply.error};
        case CdpFailure::NoAnswer:
            return {ErrorKind::Timeout, reply.error};
        case CdpFailure::None:
        case CdpFailure::Refused:
            break;
    }
    return {ErrorKind::BrowserError, reply.error};
}

}  // namespace lumiclip
