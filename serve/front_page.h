#pragma once

#include <QByteArray>

namespace lumiclip {

// The page at /: a form to try a capture by hand (address, size, format, and a token when the server
// needs one), showing the thumbnail and the answer's headers. Self-contained: no asset from anywhere.
QByteArray FrontPage(bool needsToken, bool needsSignature);

}  // namespace lumiclip
