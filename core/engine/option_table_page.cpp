// The option table's rows of the page: how it is set up before it loads (agent, headers, colour scheme,
// device, language, time zone, credentials, cookies, proxy) and what is done to it before the snapshot.
#include "core/engine/option_rows.h"

#include "core/capture/devices.h"
#include "core/settings/capture_settings.h"

#include <QFile>
#include <QRegularExpression>
#include <QTimeZone>
#include <QUrl>

namespace lumiclip {

void AddPageOptionRows(std::vector<CaptureOptionRow>* rows) {
    const auto add = [rows](CaptureOptionRow row) { rows->push_back(std::move(row)); };

    CaptureOptionRow agent = MakeOptionRow(QStringLiteral("user-agent"), 0, QStringLiteral("TEXT"),
                                           QStringLiteral("the browser's user agent"));
    agent.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is empty"), error);
        }
        if (HasControlCharacter(value)) {
            return RefuseOptionValue(flag, value, QStringLiteral("holds a control character"), error);
        }
        request->page.userAgent = value;
        return true;
    };
    add(agent);

    CaptureOptionRow header = MakeOptionRow(QStringLiteral("header"), 'H', QStringLiteral("'NAME: VALUE'"),
                                            QStringLiteral("an extra request header (repeatable)"), true);
    header.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        // A request header: a token, a colon, a value on one line.
        static const QRegularExpression pattern(
            QStringLiteral("^([!#$%&'*+.^_`|~0-9A-Za-z-]+):[ \t]*([^\r\n]*)$"));
        const QRegularExpressionMatch match = pattern.match(value);
        if (!match.hasMatch()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not a header 'Name: value'"), error);
        }
        const QString name = match.captured(1);
        const QString headerValue = match.captured(2).trimmed();
        if (HasControlCharacter(headerValue)) {
            return RefuseOptionValue(flag, value, QStringLiteral("holds a control character"), error);
        }
        // The browser drops these without a word: they describe the connection, which is its own.
        if (BrowserOwnedHeaders().contains(name, Qt::CaseInsensitive)) {
            return RefuseOptionValue(
                flag, value,
                QStringLiteral("sets %1, which the browser decides itself and would drop").arg(name), error);
        }
        request->page.headers.append({name, headerValue});
        return true;
    };
    add(header);

    CaptureOptionRow dark =
        MakeOptionRow(QStringLiteral("dark"), 0, QString(), QStringLiteral("prefer the dark colour scheme"));
    dark.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->page.dark = true;
        return true;
    };
    add(dark);

    CaptureOptionRow script =
        MakeOptionRow(QStringLiteral("javascript"), 0, QStringLiteral("FILE"),
                      QStringLiteral("run FILE's script after the waits, before the snapshot"));
    script.remote = false;
    script.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        QFile file(value);
        if (!file.open(QIODevice::ReadOnly)) {
            return RefuseOptionValue(flag, value,
                                     QStringLiteral("cannot be read: %1").arg(file.errorString()), error);
        }
        // Read up to one byte over the limit: /dev/zero or a pipe that never ends is refused, not read
        // until the memory runs out.
        const QByteArray source = file.read(kMaxScriptBytes + 1);
        if (source.size() > kMaxScriptBytes) {
            return RefuseOptionValue(flag, value,
                                     QStringLiteral("is larger than %1 bytes").arg(kMaxScriptBytes), error);
        }
        request->shot.script = QString::fromUtf8(source);
        return true;
    };
    add(script);

    CaptureOptionRow hide =
        MakeOptionRow(QStringLiteral("hide"), 0, QStringLiteral("SELECTOR"),
                      QStringLiteral("hide the elements matching SELECTOR (repeatable)"), true);
    hide.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is empty"), error);
        }
        request->shot.hide.append(value);
        return true;
    };
    add(hide);

    CaptureOptionRow expression =
        MakeOptionRow(QStringLiteral("wait-for-js"), 0, QStringLiteral("EXPRESSION"),
                      QStringLiteral("then wait until the page's EXPRESSION is true (checked each frame);\n"
                                     "one that throws fails the page"));
    expression.apply = [](const QString& flag, const QString& value, CaptureRequest* request,
                          QString* error) {
        if (value.trimmed().isEmpty()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is empty"), error);
        }
        request->wait.expression = value;
        return true;
    };
    add(expression);

    CaptureOptionRow onTimeout =
        MakeOptionRow(QStringLiteral("on-timeout"), 0, QStringLiteral("fail|capture"),
                      QStringLiteral("at the time limit, fail the page (default) or capture it as it is"));
    onTimeout.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        const QString rule = value.trimmed().toLower();
        if (rule != QStringLiteral("fail") && rule != QStringLiteral("capture")) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not fail or capture"), error);
        }
        request->wait.captureAtLimit = rule == QStringLiteral("capture");
        return true;
    };
    add(onTimeout);

    CaptureOptionRow click =
        MakeOptionRow(QStringLiteral("click"), 0, QStringLiteral("SELECTOR"),
                      QStringLiteral("after the waits, click the element matching SELECTOR\n"
                                     "(repeatable, in order): a cookie banner's button, a tab"),
                      true);
    click.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is empty"), error);
        }
        request->shot.clicks.append(value);
        return true;
    };
    add(click);

    CaptureOptionRow block =
        MakeOptionRow(QStringLiteral("block"), 0, QStringLiteral("PATTERN"),
                      QStringLiteral("never request addresses matching PATTERN, * a wildcard\n"
                                     "(repeatable): ads, trackers, a banner's script"),
                      true);
    block.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (value.trimmed().isEmpty() || HasControlCharacter(value)) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not an address pattern"), error);
        }
        request->page.block.append(value);
        return true;
    };
    add(block);

    CaptureOptionRow still =
        MakeOptionRow(QStringLiteral("no-animations"), 0, QString(),
                      QStringLiteral("animations at rest: finite ones at their end, endless ones\n"
                                     "cancelled, and reduced motion preferred"));
    still.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->shot.freezeAnimations = true;
        request->page.reducedMotion = true;
        return true;
    };
    add(still);

    CaptureOptionRow device =
        MakeOptionRow(QStringLiteral("device"), 0, QStringLiteral("NAME"),
                      QStringLiteral("view, scale factor, touch and agent of a device, e.g.\n"
                                     "\"iPhone 15\" (\"list\" lists them)"));
    device.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        const Device* known = FindDevice(value);
        if (!known) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not a device (%1)").arg(DeviceNames()),
                                     error);
        }
        ApplyDevice(*known, &request->page);
        return true;
    };
    add(device);

    CaptureOptionRow lang =
        MakeOptionRow(QStringLiteral("lang"), 0, QStringLiteral("TAG"),
                      QStringLiteral("the page's language and Accept-Language, e.g. de-CH"));
    lang.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        static const QRegularExpression tag(QStringLiteral("^[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*$"));
        if (!tag.match(value).hasMatch()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not a language tag such as en or de-CH"),
                                     error);
        }
        request->page.locale = value;
        return true;
    };
    add(lang);

    CaptureOptionRow zone = MakeOptionRow(QStringLiteral("timezone"), 0, QStringLiteral("ZONE"),
                                          QStringLiteral("the page's time zone, e.g. Europe/Zurich"));
    zone.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        if (HasControlCharacter(value) || !QTimeZone::isTimeZoneIdAvailable(value.toUtf8())) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not a time zone this system knows"),
                                     error);
        }
        request->page.timezone = value;
        return true;
    };
    add(zone);

    CaptureOptionRow auth =
        MakeOptionRow(QStringLiteral("auth"), 0, QStringLiteral("USER:PASSWORD"),
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

    CaptureOptionRow cookie =
        MakeOptionRow(QStringLiteral("cookie"), 0, QStringLiteral("'NAME=VALUE'"),
                      QStringLiteral("a cookie of the address's host (repeatable)"), true);
    cookie.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        static const QRegularExpression pair(QStringLiteral("^([!#$%&'*+.^_`|~0-9A-Za-z-]+)=([^;\\s]*)$"));
        const QRegularExpressionMatch match = pair.match(value);
        if (!match.hasMatch()) {
            return RefuseOptionValue(flag, value, QStringLiteral("is not a cookie NAME=VALUE"), error);
        }
        Cookie made;
        made.name = match.captured(1);
        made.value = match.captured(2);
        request->page.cookies.append(made);
        return true;
    };
    add(cookie);

    CaptureOptionRow cookies =
        MakeOptionRow(QStringLiteral("cookies"), 0, QStringLiteral("FILE"),
                      QStringLiteral("the cookies of FILE, in the cookies.txt format of curl and\n"
                                     "browser exporters"));
    cookies.remote = false;
    cookies.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        QFile file(value);
        if (!file.open(QIODevice::ReadOnly)) {
            return RefuseOptionValue(flag, value,
                                     QStringLiteral("cannot be read: %1").arg(file.errorString()), error);
        }
        const QByteArray text = file.read(kMaxScriptBytes + 1);
        if (text.size() > kMaxScriptBytes) {
            return RefuseOptionValue(flag, value,
                                     QStringLiteral("is larger than %1 bytes").arg(kMaxScriptBytes), error);
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
        MakeOptionRow(QStringLiteral("proxy"), 0, QStringLiteral("URL"),
                      QStringLiteral("the page's requests go through the proxy at URL (http://,\n"
                                     "https:// or socks5://HOST:PORT), for its context only"));
    proxy.apply = [](const QString& flag, const QString& value, CaptureRequest* request, QString* error) {
        const QUrl url(value, QUrl::StrictMode);
        const QString scheme = url.scheme();
        if (!url.isValid() || url.host().isEmpty() || url.port() < 1 || !url.userInfo().isEmpty() ||
            (url.path() != QString() && url.path() != QStringLiteral("/")) ||
            (scheme != QStringLiteral("http") && scheme != QStringLiteral("https") &&
             scheme != QStringLiteral("socks5"))) {
            return RefuseOptionValue(flag, value,
                                     QStringLiteral("is not http://, https:// or socks5://HOST:PORT"), error);
        }
        request->page.proxy = scheme + QStringLiteral("://") + url.authority();
        return true;
    };
    add(proxy);

    CaptureOptionRow insecure =
        MakeOptionRow(QStringLiteral("ignore-https-errors"), 0, QString(),
                      QStringLiteral("capture pages whose certificate is not valid (said in the\n"
                                     "JSON lines)"));
    insecure.apply = [](const QString&, const QString&, CaptureRequest* request, QString*) {
        request->page.ignoreHttpsErrors = true;
        return true;
    };
    add(insecure);
}

}  // namespace lumiclip
