#pragma once

#include <QString>

namespace lumiclip {

// What kind of fault ended a capture: front ends branch on it (an exit status, an HTTP status, a retry),
// never on the message's text.
enum class ErrorKind {
    None,
    InvalidAddress,      // not an address the browser can load
    ForbiddenAddress,    // an address this run refuses (--web-only; a guarded page's private ones)
    Network,             // the page could not be fetched (DNS, refused, reset, TLS)
    HttpStatus,          // the server answered with an error status
    Timeout,             // a time limit ended it (the page's, the element's, the browser's answer)
    Selector,            // an element the options name is missing, empty, hidden, or not a selector
    Script,              // the page's or the user's script failed
    BrowserUnavailable,  // no browser could be had (it would not start; every endpoint given up)
    BrowserLost,         // the browser went away during the capture
    BrowserError,        // the browser refused a step of the capture, or the page crashed
    Image,               // the rendering could not be made into the image (decoding, encoding, sizes)
    Write,               // the image could not be written
    Interrupted,         // a termination signal ended the run first
};

// The kind's name in results (JSON lines, the service's answers): "invalid_address", ...; empty for None.
QString ErrorKindName(ErrorKind kind);

// A fault as a value: its kind and a message that names the method, the file or the condition.
struct CaptureError {
    ErrorKind kind = ErrorKind::None;
    QString message;

    bool isError() const { return kind != ErrorKind::None; }
};

struct CdpReply;

// The kind of a navigation the browser could not make, from its net::ERR_ code: an address it cannot
// load at all (InvalidAddress), else the network's (Network).
ErrorKind NavigationErrorKind(const QString& errorText);

// A failed protocol call's fault: the browser gone (BrowserLost), no answer in time (Timeout), or its
// refusal (BrowserError); the message is the reply's, naming the method.
CaptureError ErrorOfReply(const CdpReply& reply);

}  // namespace lumiclip
