#include "core/engine/option_table.h"

#include "core/engine/option_rows.h"

#include "core/capture/devices.h"
#include "core/image/image_format.h"
#include "core/settings/capture_settings.h"

#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>

#include <algorithm>

namespace lumiclip {

bool RefuseOptionValue(const QString& flag, const QString& value, const QString& why, QString* error) {
    *error = QStringLiteral("%1: \"%2\" %3").arg(flag, PrintableText(value), why);
    return false;
}

CaptureOptionRow MakeOptionRow(const QString& name, char shortName, const QString& valueName,
                               const QString& help, bool repeatable) {
    CaptureOptionRow row;
    row.name = name;
    row.shortName = shortName;
    row.valueName = valueName;
    row.help = help;
    row.repeatable = repeatable;
    return row;
}

namespace {

using Apply = std::function<bool(const QString&, const QString&, CaptureRequest*, QString*)>;

// A view or image size.
Apply sizeOption(bool view) {
    return [view](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        int* width = view ? &request->page.viewWidth : &request->image.width;
        int* height = view ? &request->page.viewHeight : &request->image.height;
        if (!ParseSize(value, width, height, !view)) {
            // In one pass: what the user typed ("%1x%2") is text, not a place for the next value.
            *error = QStringLiteral("%1: \"%2\" is not a size WIDTHxHEIGHT with each side from 1 to %3%4")
                         .arg(flag, PrintableText(value), QString::number(kMaxCaptureSide),
                              view ? QString() : QStringLiteral(" (or one side 0: in proportion)"));
            return false;
        }
        return true;
    };
}

std::vector<CaptureOptionRow> makeRows() {
    const QString formats = ImageFormatNames().join(QStringLiteral(", "));
    std::vector<CaptureOptionRow> rows;
    const auto add = [&rows](CaptureOptionRow row) { rows.push_back(std::move(row)); };

    CaptureOptionRow view = MakeOptionRow(QStringLiteral("view"), 0, QStringLiteral("WxH"),
                                          QStringLiteral("browser view size (default 810x600)"));
    view.apply = sizeOption(true);
    view.fromSettings = [](const CaptureSettings& settings, CaptureRequest* request) {
        request->page.viewWidth = settings.web_width;
        request->page.viewHeight = settings.web_height;
        return CheckCaptureSizes(settings.web_width, settings.web_height, 1, 1, kSettingsProfile);
    };
    add(view);

    CaptureOptionRow size =
        MakeOptionRow(QStringLiteral("size"), 0, QStringLiteral("WxH"),
                      QStringLiteral("image size (default 180x138); one side 0 keeps the proportions\n"
                                     "of what is captured"));
    size.apply = sizeOption(false);
    size.fromSettings = [](const CaptureSettings& settings, CaptureRequest* request) {
        // The file's sizes are the desktop program's, exact: a side of 0 is the flag's alone.
        request->image.width = settings.img_width;
        request->image.height = settings.img_height;
        return CheckCaptureSizes(1, 1, settings.img_width, settings.img_height, kSettingsProfile);
    };
    add(size);

    CaptureOptionRow format = MakeOptionRow(QStringLiteral("format"), 'f', QStringLiteral("FORMAT"),
                                            QStringLiteral("%1 (default JPG)").arg(formats));
    format.apply = [formats](const QString& flag, const QString& value, CaptureRequest* request,
                             QString* error) {
        const ImageFormat* known = FindImageFormat(value.trimmed(), Qt::CaseInsensitive);
        if (!known) {
            *error =
                QStringLiteral("%1: unknown format \"%2\" (%3)").arg(flag, PrintableText(value), formats);
            return false;
        }
        request->image.format = QLatin1String(known->name);
        return true;
    };
    format.fromSettings = [formats](const CaptureSettings& settings, CaptureRequest* request) {
        // The desktop program writes JPEG for a name it does not know; the other front ends write only
        // what the name says, so anything else is the user's to correct.
        const ImageFormat* known = FindImageFormat(settings.img_format.trimmed(), Qt::CaseInsensitive);
        if (!known) {
            return QStringLiteral("img_format \"%1\" is not a format this tool writes (%2)")
                .arg(PrintableText(settings.img_format), formats);
        }
        request->image.format = QLatin1String(known->name);
        return QString();
    };
    add(format);

    CaptureOptionRow quality =
        MakeOptionRow(QStringLiteral("quality"), 0, QStringLiteral("N"),
                      QStringLiteral("JPG and WEBP quality, 1 to 100 (default: the encoder's)"));
    quality.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!ParseNumber(value, 1, 100, &request->image.quality)) {
            *error =
                QStringLiteral("%1: \"%2\" is not a number from 1 to 100").arg(flag, PrintableText(value));
            return false;
        }
        return true;
    };
    add(quality);

    CaptureOptionRow fullPage =
        MakeOptionRow(QStringLiteral("full-page"), 0, QString(),
                      QStringLiteral("the whole page at the view's width (at most --max-height high)"));
    fullPage.apply = [](const QString&, const QString&, CaptureRequest* request, QString* error) {
        if (request->shot.kind == CaptureKind::Element) {
            *error = QStringLiteral("--full-page and --selector cannot be used together");
            return false;
        }
        request->shot.kind = CaptureKind::FullPage;
        return true;
    };
    add(fullPage);

    CaptureOptionRow lazy =
        MakeOptionRow(QStringLiteral("no-lazy-load"), 0, QString(),
                      QStringLiteral("with --full-page, do not scroll through the page first (by\n"
                                     "default it is, so that lazy content is there)"));
    lazy.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->shot.lazyLoad = false;
        return true;
    };
    add(lazy);

    CaptureOptionRow maxHeight =
        MakeOptionRow(QStringLiteral("max-height"), 0, QStringLiteral("PIXELS"),
                      QStringLiteral("with --full-page, the most of the page captured, in device pixels\n"
                                     "(default %1, up to %2; a taller one is captured in bands)")
                          .arg(QString::number(kMaxCaptureSide), QString::number(kMaxFullPageHeight)));
    maxHeight.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!ParseNumber(value, 1, kMaxFullPageHeight, &request->shot.maxHeight)) {
            return RefuseOptionValue(flag, value,
                                     QStringLiteral("is not a number of pixels from 1 to %1")
                                         .arg(QString::number(kMaxFullPageHeight)),
                                     error);
        }
        return true;
    };
    add(maxHeight);

    CaptureOptionRow selector =
        MakeOptionRow(QStringLiteral("selector"), 0, QStringLiteral("SEL"),
                      QStringLiteral("only the box of the first element matching the CSS selector SEL"));
    selector.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (request->shot.kind == CaptureKind::FullPage) {
            *error = QStringLiteral("--full-page and --selector cannot be used together");
            return false;
        }
        if (value.trimmed().isEmpty()) {
            *error = QStringLiteral("%1 needs a selector").arg(flag);
            return false;
        }
        request->shot.kind = CaptureKind::Element;
        request->shot.selector = value;
        return true;
    };
    add(selector);

    CaptureOptionRow scale =
        MakeOptionRow(QStringLiteral("scale-factor"), 0, QStringLiteral("N"),
                      QStringLiteral("device pixels per CSS pixel, 1 to 4 (default 1): sharper images"));
    scale.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        bool ok = false;
        const double factor = value.toDouble(&ok);
        if (!ok || !(factor >= 1 && factor <= 4)) {
            *error = QStringLiteral("%1: \"%2\" is not a number from 1 to 4").arg(flag, PrintableText(value));
            return false;
        }
        request->page.scaleFactor = factor;
        return true;
    };
    add(scale);

    CaptureOptionRow timeout = MakeOptionRow(QStringLiteral("timeout"), 0, QStringLiteral("SECONDS"),
                                             QStringLiteral("longest a page may load (default 30)"));
    timeout.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        int seconds = 0;
        if (!ParseNumber(value, 1, 3600, &seconds)) {
            *error =
                QStringLiteral("%1: \"%2\" is not a number from 1 to 3600").arg(flag, PrintableText(value));
            return false;
        }
        request->limits.pageMs = seconds * 1000;
        return true;
    };
    add(timeout);

    CaptureOptionRow wait =
        MakeOptionRow(QStringLiteral("wait"), 0, QStringLiteral("EVENT"),
                      QStringLiteral("load (default), domcontentloaded or networkidle (no network\n"
                                     "activity for 500 ms)"));
    wait.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!WaitConditionNamed(value, &request->wait.condition)) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not %1").arg(WaitConditionNames()),
                                     error);
        }
        return true;
    };
    add(wait);

    CaptureOptionRow waitFor =
        MakeOptionRow(QStringLiteral("wait-for"), 0, QStringLiteral("SELECTOR"),
                      QStringLiteral("then wait until an element matching SELECTOR is visible"));
    waitFor.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is empty"), error);
        }
        request->wait.selector = value;
        return true;
    };
    add(waitFor);

    CaptureOptionRow delay =
        MakeOptionRow(QStringLiteral("delay"), 0, QStringLiteral("MS"),
                      QStringLiteral("then wait MS milliseconds more (all waits within --timeout)"));
    delay.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!ParseNumber(value, 0, 3600 * 1000, &request->wait.delayMs)) {
            return RefuseOptionValue(
                flag, value, QStringLiteral("is not a number of milliseconds from 0 to 3600000"), error);
        }
        return true;
    };
    add(delay);
    AddPageOptionRows(&rows);
    return rows;
}

}  // namespace

const std::vector<CaptureOptionRow>& CaptureOptionRows() {
    static const std::vector<CaptureOptionRow> rows = makeRows();
    return rows;
}

const CaptureOptionRow* FindCaptureOption(const QString& name) {
    const std::vector<CaptureOptionRow>& rows = CaptureOptionRows();
    const auto it = std::find_if(rows.cbegin(), rows.cend(),
                                 [&name](const CaptureOptionRow& row) { return row.name == name; });
    return it == rows.cend() ? nullptr : &*it;
}

}  // namespace lumiclip
