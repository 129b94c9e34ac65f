#pragma once

#include <QString>

namespace lumiclip {

// The address to load for what a person typed, completed the way a browser's address bar completes it:
// a host-like text ("example.org", "127.0.0.1:8080/page") gets http://, an absolute path becomes a file
// address, an address with a scheme stays as it is. Text that is no address at all is returned
// unchanged, for the browser to refuse with its own reason.
QString AddressFromUserInput(const QString& typed);

}  // namespace lumiclip
