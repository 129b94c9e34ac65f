#pragma once

#include "core/capture/capture_request.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace lumiclip {

struct CaptureSettings;

// One option of a front end, in one row: the flag, its help, where its default comes from and what a
// value does. The command line's parser and --help (and so the man page and the completion made from
// it), the settings-file defaults and the service's parameters all read the same rows, so an option
// cannot be known to one of them and not the others.
template <typename Target>
struct OptionRow {
    // The long name without dashes ("full-page"): --full-page on the command line, full_page as a
    // parameter of the service.
    QString name;
    // The one-letter flag (-f), or 0.
    char shortName = 0;
    // The value's name in the help ("WxH", "FILE"); empty for a switch, which takes no value.
    QString valueName;
    // The help text; lines after the first go under it.
    QString help;
    // Each value given counts, in order (-H, --hide); else the last one given counts.
    bool repeatable = false;
    // The service may take it from a request; false for what reads this machine's files.
    bool remote = true;
    // Applies a value (empty for a switch) to the target; false with *error naming flag (the option as
    // the user wrote it) and the value.
    std::function<bool(const QString& flag, const QString& value, Target* target, QString* error)> apply;
    // Takes the option's default from the settings file (the desktop program's values); empty when the
    // file has none. Returns a message naming the bad key and value, or empty.
    std::function<QString(const CaptureSettings& settings, Target* target)> fromSettings;

    // "--full-page", "-f, --format", for messages and the help.
    QString longFlag() const { return QStringLiteral("--") + name; }
    QString shortFlag() const { return shortName ? QStringLiteral("-") + QLatin1Char(shortName) : QString(); }
    // The name as a parameter of the service.
    QString parameterName() const {
        QString parameter = name;
        return parameter.replace(QLatin1Char('-'), QLatin1Char('_'));
    }
};

using CaptureOptionRow = OptionRow<CaptureRequest>;

// The options of one capture, every front end's: the view and image, the waits, what is captured and
// how the page is set up. Rows in the order --help lists them.
const std::vector<CaptureOptionRow>& CaptureOptionRows();
// The row of a name (without dashes), or null.
const CaptureOptionRow* FindCaptureOption(const QString& name);

// The largest script --javascript takes.
inline constexpr qint64 kMaxScriptBytes = qint64{4} * 1024 * 1024;

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

// The help of rows, in their order.
template <typename Target>
QString OptionHelp(const std::vector<OptionRow<Target>>& rows) {
    QString text;
    for (const OptionRow<Target>& row : rows) {
        text += OptionHelpLines(row.shortFlag(), row.longFlag(), row.valueName, row.help);
    }
    return text;
}

}  // namespace lumiclip
