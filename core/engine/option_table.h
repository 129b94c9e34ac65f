#pragma once

#include "core/capture/capture_request.h"
#include "core/engine/option_values.h"

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
