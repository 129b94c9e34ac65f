#pragma once

#include "core/capture/capture_request.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The checks and readers of option values, and the text around them, that the option table's rows and
// the front ends share.
namespace lumiclip {

// The cookies of a cookies.txt file (curl's and the browser exporters' format: domain, whether its
// subdomains count, path, secure, expiry, name and value, separated by tabs; comments and #HttpOnly_
// lines), appended to *cookies; false with *error naming the first line that is none.
bool ParseCookiesFile(const QByteArray& text, QList<Cookie>* cookies, QString* error);

// A whole number from lowest to highest into *number; false, leaving it, for anything else.
bool ParseNumber(const QString& text, int lowest, int highest, int* number);

// "WxH" with both sides from 1 to the capture maximum; with zeroKeepsProportions one side (not both) may
// be 0, which keeps the proportions of what is captured.
bool ParseSize(const QString& text, int* width, int* height, bool zeroKeepsProportions = false);

// Whether text holds a control character (a line break, an escape, DEL, C1) other than a tab.
bool HasControlCharacter(const QString& text);
// Request headers the browser decides itself (of the connection and the message's framing): a header
// that sets one is refused rather than dropped without a word.
const QStringList& BrowserOwnedHeaders();

// Text for a terminal or a log line: control characters (line breaks, escape sequences) written as
// \n, \r, \t or \xNN, and the bidirectional controls as \uNNNN, so that an address from a list can
// neither split a result line, nor drive the terminal, nor show its characters in another order.
QString PrintableText(const QString& text);

// The help of one option: "  -f, --format FORMAT   text", the text at one column, or on the lines below
// when the flags are too wide for it; each line of the text under the first.
QString OptionHelpLines(const QString& shortFlag, const QString& longFlag, const QString& valueName,
                        const QString& help);

}  // namespace lumiclip
