#include "core/engine/option_table.h"

#include "core/capture/devices.h"
#include "core/image/image_format.h"
#include "core/settings/capture_settings.h"

#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>

#include <algorithm>

namespace lumiclip {

namespace {

using Apply = std::function<bool(const QString&, const QString&, CaptureRequest*, QString*)>;

bool refuse(const QString& flag, const QString& value, const QString& why, QString* error) {
    *error = QStringLiteral("%1: \"%2\" %3").arg(flag, PrintableText(value), why);
    return false;
}

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

CaptureOptionRow makeRow(const QString& name, char shortName, const QString& valueName, const QString& help,
                         bool repeatable = false) {
    CaptureOptionRow row;
    row.name = name;
    row.shortName = shortName;
    row.valueName = valueName;
    row.help = help;
    row.repeatable = repeatable;
    return row;
}

std::vector<CaptureOptionRow> makeRows() {
    const QString formats = ImageFormatNames().join(QStringLiteral(", "));
    std::vector<CaptureOptionRow> rows;
    const auto add = [&rows](CaptureOptionRow row) { rows.push_back(std::move(row)); };

    CaptureOptionRow view = makeRow(QStringLiteral("view"), 0, QStringLiteral("WxH"),
                                    QStringLiteral("browser view size (default 810x600)"));
    view.apply = sizeOption(true);
    view.fromSettings = [](const CaptureSettings& settings, CaptureRequest* request) {
        request->page.viewWidth = settings.web_width;
        request->page.viewHeight = settings.web_height;
        return CheckCaptureSizes(settings.web_width, settings.web_height, 1, 1, kSettingsProfile);
    };
    add(view);

    CaptureOptionRow size =
        makeRow(QStringLiteral("size"), 0, QStringLiteral("WxH"),
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

    CaptureOptionRow format = makeRow(QStringLiteral("format"), 'f', QStringLiteral("FORMAT"),
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
        makeRow(QStringLiteral("quality"), 0, QStringLiteral("N"),
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
        makeRow(QStringLiteral("full-page"), 0, QString(),
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
        makeRow(QStringLiteral("no-lazy-load"), 0, QString(),
                QStringLiteral("with --full-page, do not scroll through the page first (by\n"
                               "default it is, so that lazy content is there)"));
    lazy.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->shot.lazyLoad = false;
        return true;
    };
    add(lazy);

    CaptureOptionRow maxHeight =
        makeRow(QStringLiteral("max-height"), 0, QStringLiteral("PIXELS"),
                QStringLiteral("with --full-page, the most of the page captured, in device pixels\n"
                               "(default %1, up to %2; a taller one is captured in bands)")
                    .arg(QString::number(kMaxCaptureSide), QString::number(kMaxFullPageHeight)));
    maxHeight.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!ParseNumber(value, 1, kMaxFullPageHeight, &request->shot.maxHeight)) {
            return refuse(flag, value,
                          QStringLiteral("is not a number of pixels from 1 to %1")
                              .arg(QString::number(kMaxFullPageHeight)),
                          error);
        }
        return true;
    };
    add(maxHeight);

    CaptureOptionRow selector =
        makeRow(QStringLiteral("selector"), 0, QStringLiteral("SEL"),
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
        makeRow(QStringLiteral("scale-factor"), 0, QStringLiteral("N"),
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

    CaptureOptionRow timeout = makeRow(QStringLiteral("timeout"), 0, QStringLiteral("SECONDS"),
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
        makeRow(QStringLiteral("wait"), 0, QStringLiteral("EVENT"),
                QStringLiteral("load (default), domcontentloaded or networkidle (no network\n"
                               "activity for 500 ms)"));
    wait.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!WaitConditionNamed(value, &request->wait.condition)) {
            return refuse(flag, value, QStringLiteral("is not %1").arg(WaitConditionNames()), error);
        }
        return true;
    };
    add(wait);

    CaptureOptionRow waitFor =
        makeRow(QStringLiteral("wait-for"), 0, QStringLiteral("SELECTOR"),
                QStringLiteral("then wait until an element matching SELECTOR is visible"));
    waitFor.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return refuse(flag, value, QStringLiteral("is empty"), error);
        }
        request->wait.selector = value;
        return true;
    };
    add(waitFor);

    CaptureOptionRow delay =
        makeRow(QStringLiteral("delay"), 0, QStringLiteral("MS"),
                QStringLiteral("then wait MS milliseconds more (all waits within --timeout)"));
    delay.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!ParseNumber(value, 0, 3600 * 1000, &request->wait.delayMs)) {
            return refuse(flag, value, QStringLiteral("is not a number of milliseconds from 0 to 3600000"),
                          error);
        }
        return true;
    };
    add(delay);

    CaptureOptionRow agent = makeRow(QStringLiteral("user-agent"), 0, QStringLiteral("TEXT"),
                                     QStringLiteral("the browser's user agent"));
    agent.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return refuse(flag, value, QStringLiteral("is empty"), error);
        }
        if (HasControlCharacter(value)) {
            return refuse(flag, value, QStringLiteral("holds a control character"), error);
        }
        request->page.userAgent = value;
        return true;
    };
    add(agent);

    CaptureOptionRow header = makeRow(QStringLiteral("header"), 'H', QStringLiteral("'NAME: VALUE'"),
                                      QStringLiteral("an extra request header (repeatable)"), true);
    header.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        // A request header: a token, a colon, a value on one line.
        static const QRegularExpression pattern(
            QStringLiteral("^([!#$%&'*+.^_`|~0-9A-Za-z-]+):[ \t]*([^\r\n]*)$"));
        const QRegularExpressionMatch match = pattern.match(value);
        if (!match.hasMatch()) {
            return refuse(flag, value, QStringLiteral("is not a header 'Name: value'"), error);
        }
        const QString name = match.captured(1);
        const QString headerValue = match.captured(2).trimmed();
        if (HasControlCharacter(headerValue)) {
            return refuse(flag, value, QStringLiteral("holds a control character"), error);
        }
        // The browser drops these without a word: they describe the connection, which is its own.
        if (BrowserOwnedHeaders().contains(name, Qt::CaseInsensitive)) {
            return refuse(
                flag, value,
                QStringLiteral("sets %1, which the browser decides itself and would drop").arg(name), error);
        }
        request->page.headers.append({name, headerValue});
        return true;
    };
    add(header);

    CaptureOptionRow dark =
        makeRow(QStringLiteral("dark"), 0, QString(), QStringLiteral("prefer the dark colour scheme"));
    dark.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->page.dark = true;
        return true;
    };
    add(dark);

    CaptureOptionRow script =
        makeRow(QStringLiteral("javascript"), 0, QStringLiteral("FILE"),
                QStringLiteral("run FILE's script after the waits, before the snapshot"));
    script.remote = false;
    script.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        QFile file(value);
        if (!file.open(QIODevice::ReadOnly)) {
            return refuse(flag, value, QStringLiteral("cannot be read: %1").arg(file.errorString()), error);
        }
        // Read up to one byte over the limit: /dev/zero or a pipe that never ends is refused, not read
        // until the memory runs out.
        const QByteArray source = file.read(kMaxScriptBytes + 1);
        if (source.size() > kMaxScriptBytes) {
            return refuse(flag, value, QStringLiteral("is larger than %1 bytes").arg(kMaxScriptBytes), error);
        }
        request->shot.script = QString::fromUtf8(source);
        return true;
    };
    add(script);

    CaptureOptionRow hide = makeRow(QStringLiteral("hide"), 0, QStringLiteral("SELECTOR"),
                                    QStringLiteral("hide the elements matching SELECTOR (repeatable)"), true);
    hide.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return refuse(flag, value, QStringLiteral("is empty"), error);
        }
        request->shot.hide.append(value);
        return true;
    };
    add(hide);

    CaptureOptionRow expression =
        makeRow(QStringLiteral("wait-for-js"), 0, QStringLiteral("EXPRESSION"),
                QStringLiteral("then wait until the page's EXPRESSION is true (checked each frame);\n"
                               "one that throws fails the page"));
    expression.apply = [](const QString& flag, const QString& value, CaptureRequest* request,
                          QString* error) {
        if (value.trimmed().isEmpty()) {
            return refuse(flag, value, QStringLiteral("is empty"), error);
        }
        request->wait.expression = value;
        return true;
    };
    add(expression);

    CaptureOptionRow onTimeout =
        makeRow(QStringLiteral("on-timeout"), 0, QStringLiteral("fail|capture"),
                QStringLiteral("at the time limit, fail the page (default) or capture it as it is"));
    onTimeout.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        const QString rule = value.trimmed().toLower();
        if (rule != QStringLiteral("fail") && rule != QStringLiteral("capture")) {
            return refuse(flag, value, QStringLiteral("is not fail or capture"), error);
        }
        request->wait.captureAtLimit = rule == QStringLiteral("capture");
        return true;
    };
    add(onTimeout);

    CaptureOptionRow click =
        makeRow(QStringLiteral("click"), 0, QStringLiteral("SELECTOR"),
                QStringLiteral("after the waits, click the element matching SELECTOR\n"
                               "(repeatable, in order): a cookie banner's button, a tab"),
                true);
    click.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return refuse(flag, value, QStringLiteral("is empty"), error);
        }
        request->shot.clicks.append(value);
        return true;
    };
    add(click);

    CaptureOptionRow block = makeRow(QStringLiteral("block"), 0, QStringLiteral("PATTERN"),
                                     QStringLiteral("never request addresses matching PATTERN, * a wildcard\n"
                                                    "(repeatable): ads, trackers, a banner's script"),
                                     true);
    block.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty() || HasControlCharacter(value)) {
            return refuse(flag, value, QStringLiteral("is not an address pattern"), error);
        }
        request->page.block.append(value);
        return true;
    };
    add(block);

    CaptureOptionRow still =
        makeRow(QStringLiteral("no-animations"), 0, QString(),
                QStringLiteral("animations at rest: finite ones at their end, endless ones\n"
                               "cancelled, and reduced motion preferred"));
    still.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->shot.freezeAnimations = true;
        request->page.reducedMotion = true;
        return true;
    };
    add(still);

    CaptureOptionRow device = makeRow(QStringLiteral("device"), 0, QStringLiteral("NAME"),
                                      QStringLiteral("view, scale factor, touch and agent of a device, e.g.\n"
                                                     "\"iPhone 15\" (\"list\" lists them)"));
    device.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        const Device* known = FindDevice(value);
        if (!known) {
            return refuse(flag, value, QStringLiteral("is not a device (%1)").arg(DeviceNames()), error);
        }
        ApplyDevice(*known, &request->page);
        return true;
    };
    add(device);

    CaptureOptionRow lang = makeRow(QStringLiteral("lang"), 0, QStringLiteral("TAG"),
                                    QStringLiteral("the page's language and Accept-Language, e.g. de-CH"));
    lang.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        static const QRegularExpression tag(QStringLiteral("^[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*$"));
        if (!tag.match(value).hasMatch()) {
            return refuse(flag, value, QStringLiteral("is not a language tag such as en or de-CH"), error);
        }
        request->page.locale = value;
        return true;
    };
    add(lang);

    CaptureOptionRow zone = makeRow(QStringLiteral("timezone"), 0, QStringLiteral("ZONE"),
                                    QStringLiteral("the page's time zone, e.g. Europe/Zurich"));
    zone.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (HasControlCharacter(value) || !QTimeZone::isTimeZoneIdAvailable(value.toUtf8())) {
            return refuse(flag, value, QStringLiteral("is not a time zone this system knows"), error);
        }
        request->page.timezone = value;
        return true;
    };
    add(zone);

    CaptureOptionRow auth = makeRow(QStringLiteral("auth"), 0, QStringLiteral("USER:PASSWORD"),
                                    QStringLiteral("answer HTTP authentication of the address's own host\n"
                                                   "(never another's)"));
    auth.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (!value.contains(QLatin1Char(':')) || HasControlCharacter(value)) {
            *error = QStringLiteral("%1: not USER:PASSWORD").arg(flag);  // the password is not shown
            return false;
        }
        request->page.auth = value;
        return true;
    };
    add(auth);

    CaptureOptionRow cookie = makeRow(QStringLiteral("cookie"), 0, QStringLiteral("'NAME=VALUE'"),
                                      QStringLiteral("a cookie of the address's host (repeatable)"), true);
    cookie.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        static const QRegularExpression pair(QStringLiteral("^([!#$%&'*+.^_`|~0-9A-Za-z-]+)=([^;\\s]*)$"));
        const QRegularExpressionMatch match = pair.match(value);
        if (!match.hasMatch()) {
            return refuse(flag, value, QStringLiteral("is not a cookie NAME=VALUE"), error);
        }
        Cookie made;
        made.name = match.captured(1);
        made.value = match.captured(2);
        request->page.cookies.append(made);
        return true;
    };
    add(cookie);

    CaptureOptionRow cookies =
        makeRow(QStringLiteral("cookies"), 0, QStringLiteral("FILE"),
                QStringLiteral("the cookies of FILE, in the cookies.txt format of curl and\n"
                               "browser exporters"));
    cookies.remote = false;
    cookies.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        QFile file(value);
        if (!file.open(QIODevice::ReadOnly)) {
            return refuse(flag, value, QStringLiteral("cannot be read: %1").arg(file.errorString()), error);
        }
        const QByteArray text = file.read(kMaxScriptBytes + 1);
        if (text.size() > kMaxScriptBytes) {
            return refuse(flag, value, QStringLiteral("is larger than %1 bytes").arg(kMaxScriptBytes), error);
        }
        QString problem;
        if (!ParseCookiesFile(text, &request->page.cookies, &problem)) {
            *error = QStringLiteral("%1: %2: %3").arg(flag, PrintableText(value), problem);
            return false;
        }
        return true;
    };
    add(cookies);

    CaptureOptionRow proxy =
        makeRow(QStringLiteral("proxy"), 0, QStringLiteral("URL"),
                QStringLiteral("the page's requests go through the proxy at URL (http://,\n"
                               "https:// or socks5://HOST:PORT), for its context only"));
    proxy.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        const QUrl url(value, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (!url.isValid() || url.host().isEmpty() || url.port() < 1 || !url.userInfo().isEmpty() ||
            (url.path() != QString() && url.path() != QStringLiteral("/")) ||
            (scheme != QStringLiteral("http") && scheme != QStringLiteral("https") &&
             scheme != QStringLiteral("socks5"))) {
            return refuse(flag, value, QStringLiteral("is not http://, https:// or socks5://HOST:PORT"),
                          error);
        }
        request->page.proxy = scheme + QStringLiteral("://") + url.authority();
        return true;
    };
    add(proxy);

    CaptureOptionRow insecure =
        makeRow(QStringLiteral("ignore-https-errors"), 0, QString(),
                QStringLiteral("capture pages whose certificate is not valid (said in the\n"
                               "JSON lines)"));
    insecure.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->page.ignoreHttpsErrors = true;
        return true;
    };
    add(insecure);
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
