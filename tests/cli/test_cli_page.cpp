// lumiclip-cli's waits and the flags that shape the page, against the real browser: each is seen in the
// picture it writes or in the request the server gets.
#include "cli_fixture.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// Full-size PNGs, so that a pixel of the page is a pixel of the image.
const QStringList kPixels{QStringLiteral("-f"),      QStringLiteral("PNG"),    QStringLiteral("--view"),
                          QStringLiteral("200x150"), QStringLiteral("--size"), QStringLiteral("200x150")};

class CliPage : public CliBrowser {
protected:
    // Captures url with the flags; the colour in the middle of the picture, or an invalid colour.
    QColor middle(const QString& url, const QStringList& flags, int* code = nullptr,
                  QByteArray* err = nullptr) {
        const QString output = dir.filePath(QStringLiteral("page-%1.png").arg(++m_runs));
        const int status =
            run(kPixels + flags + QStringList{QStringLiteral("-o"), output, url}, nullptr, err);
        if (code) {
            *code = status;
        }
        const QImage image(output);
        return image.isNull() ? QColor() : image.pixelColor(100, 75);
    }

private:
    int m_runs = 0;
};

const QColor kRed(200, 0, 0);
const QColor kGreen(0, 160, 0);

}  // namespace

TEST_F(CliPage, WaitsGoBeyondTheLoadAndStayWithinTheLimit) {
    // Turns green some time after its load.
    server->routeHtml(QStringLiteral("/late"),
                      "<html><body style='margin:0;background:rgb(200,0,0)' onload=\"setTimeout(function () {"
                      "var d = document.createElement('div'); d.id = 'late';"
                      "d.style.cssText = 'position:fixed;inset:0;background:rgb(0,160,0)';"
                      "document.body.appendChild(d); }, 700)\"></body></html>");
    const QString late = server->url(QStringLiteral("/late"));
    EXPECT_EQ(middle(late, {}), kRed);
    EXPECT_EQ(middle(late, {QStringLiteral("--wait-for"), QStringLiteral("#late")}), kGreen);
    EXPECT_EQ(middle(late, {QStringLiteral("--delay"), QStringLiteral("1500")}), kGreen);

    // An element that never comes fails at the limit, with the reason, and writes nothing.
    int code = 0;
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(middle(late,
                        {QStringLiteral("--wait-for"), QStringLiteral("#never"), QStringLiteral("--timeout"),
                         QStringLiteral("4")},
                        &code, &err)
                     .isValid());
    EXPECT_EQ(code, 1);
    EXPECT_TRUE(err.contains("#never did not appear within 4 s")) << err.toStdString();
    EXPECT_LT(clock.elapsed(), 15000);
}

TEST_F(CliPage, NetworkIdleWaitsForWhatThePageFetchesAfterItsLoadAndDomContentLoadedForNothingElse) {
    HttpResponse slow;
    slow.body = "rgb(0,160,0)";
    slow.contentType = "text/plain";
    slow.delayMs = 800;
    server->route(QStringLiteral("/colour"), slow);
    server->routeHtml(QStringLiteral("/fetches"),
                      "<html><body style='margin:0;background:rgb(200,0,0)' onload=\"fetch('/colour')"
                      ".then(function (r) { return r.text(); })"
                      ".then(function (c) { document.body.style.background = c; })\"></body></html>");
    const QString fetches = server->url(QStringLiteral("/fetches"));
    EXPECT_EQ(middle(fetches, {QStringLiteral("--wait"), QStringLiteral("load")}), kRed);
    EXPECT_EQ(middle(fetches, {QStringLiteral("--wait"), QStringLiteral("networkidle")}), kGreen);

    // A picture that never arrives holds the load, not the parsed document.
    server->routeHtml(
        QStringLiteral("/stalled-picture"),
        "<html><body style='margin:0;background:rgb(0,160,0)'><img src='/stall'></body></html>");
    int code = 0;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(middle(server->url(QStringLiteral("/stalled-picture")),
                     {QStringLiteral("--wait"), QStringLiteral("domcontentloaded"),
                      QStringLiteral("--timeout"), QStringLiteral("20")},
                     &code),
              kGreen);
    EXPECT_EQ(code, 0);
    EXPECT_LT(clock.elapsed(), 15000);
}

TEST_F(CliPage, AgentHeadersSchemeScriptAndHiddenElementsShapeThePage) {
    server->routeHtml(QStringLiteral("/asked"), "<html><body>asked</body></html>");
    ASSERT_EQ(run({QStringLiteral("--user-agent"), QStringLiteral("LumiclipTest/1.0"), QStringLiteral("-H"),
                   QStringLiteral("X-Probe: one two"), QStringLiteral("--header=Accept-Language: zh-CN"),
                   QStringLiteral("-o"), dir.filePath(QStringLiteral("asked.jpg")),
                   server->url(QStringLiteral("/asked"))}),
              0);
    const QHash<QByteArray, QByteArray> headers = server->lastHeaders(QStringLiteral("/asked"));
    EXPECT_EQ(headers.value("user-agent"), QByteArray("LumiclipTest/1.0"));
    EXPECT_EQ(headers.value("x-probe"), QByteArray("one two"));
    EXPECT_EQ(headers.value("accept-language"), QByteArray("zh-CN"));

    server->routeHtml(
        QStringLiteral("/scheme"),
        "<html><head><style>body { margin: 0; background: rgb(200,0,0) }"
        "@media (prefers-color-scheme: dark) { body { background: rgb(0,160,0) } }</style></head>"
        "<body></body></html>");
    EXPECT_EQ(middle(server->url(QStringLiteral("/scheme")), {}), kRed);
    EXPECT_EQ(middle(server->url(QStringLiteral("/scheme")), {QStringLiteral("--dark")}), kGreen);

    const QString script = dir.filePath(QStringLiteral("green.js"));
    writeFile(script, "document.body.style.background = 'rgb(0,160,0)';");
    EXPECT_EQ(middle(server->url(QStringLiteral("/scheme")), {QStringLiteral("--javascript"), script}),
              kGreen);
    const QString throwing = dir.filePath(QStringLiteral("throws.js"));
    writeFile(throwing, "throw new Error('no such thing');");
    int code = 0;
    QByteArray err;
    EXPECT_FALSE(middle(server->url(QStringLiteral("/scheme")), {QStringLiteral("--javascript"), throwing},
                        &code, &err)
                     .isValid());
    EXPECT_TRUE(err.contains("no such thing")) << err.toStdString();

    server->routeHtml(
        QStringLiteral("/banner"),
        "<html><body style='margin:0;background:rgb(0,160,0)'>"
        "<div class='cookie-banner' style='position:fixed;inset:0;background:rgb(200,0,0)'></div>"
        "</body></html>");
    EXPECT_EQ(middle(server->url(QStringLiteral("/banner")), {}), kRed);
    EXPECT_EQ(middle(server->url(QStringLiteral("/banner")),
                     {QStringLiteral("--hide"), QStringLiteral(".cookie-banner")}),
              kGreen);
    EXPECT_FALSE(middle(server->url(QStringLiteral("/banner")),
                        {QStringLiteral("--hide"), QStringLiteral("[[bad")}, &code, &err)
                     .isValid());
    EXPECT_TRUE(err.contains("--hide: [[bad")) << err.toStdString();

    // A selector that opens a comment cannot swallow the rules after it: the banner is still hidden.
    EXPECT_EQ(middle(server->url(QStringLiteral("/banner")),
                     {QStringLiteral("--hide"), QStringLiteral(".x /*"), QStringLiteral("--hide"),
                      QStringLiteral(".cookie-banner")}),
              kGreen);
}

TEST_F(CliPage, AScriptThatNavigatesIsFollowedAndTheResultSaysWhereThePageLanded) {
    server->routeHtml(QStringLiteral("/start"),
                      "<html><body style='margin:0;background:rgb(200,0,0)'></body></html>");
    server->routeHtml(QStringLiteral("/there"),
                      "<html><head><title>there</title></head><body style='margin:0;background:rgb(0,160,0)'>"
                      "</body></html>");
    const QString script = dir.filePath(QStringLiteral("go.js"));
    writeFile(script, "location.href = '/there';");
    const QString output = dir.filePath(QStringLiteral("went.png"));
    QByteArray out;
    QByteArray err;
    ASSERT_EQ(run(kPixels + QStringList{QStringLiteral("--json"), QStringLiteral("--timeout"),
                                        QStringLiteral("10"), QStringLiteral("--javascript"), script,
                                        QStringLiteral("-o"), output, server->url(QStringLiteral("/start"))},
                  &out, &err),
              0)
        << err.toStdString();
    const QJsonObject line = QJsonDocument::fromJson(out.trimmed()).object();
    EXPECT_EQ(line.value(QStringLiteral("final_url")).toString(), server->url(QStringLiteral("/there")));
    EXPECT_EQ(line.value(QStringLiteral("title")).toString(), QStringLiteral("there"));
    EXPECT_EQ(QImage(output).pixelColor(100, 75), kGreen);
}

TEST_F(CliPage, AnElementThatIsThereButNotVisibleIsNamedAsSuch) {
    server->routeHtml(
        QStringLiteral("/hidden-element"),
        "<html><body><div id='box' style='display:none'>x</div><div id='empty'></div></body></html>");
    for (const char* selector : {"#box", "#empty"}) {
        int code = 0;
        QByteArray err;
        middle(server->url(QStringLiteral("/hidden-element")),
               {QStringLiteral("--wait-for"), QString::fromLatin1(selector), QStringLiteral("--timeout"),
                QStringLiteral("3")},
               &code, &err);
        EXPECT_EQ(code, 1);
        EXPECT_TRUE(err.contains(QByteArray(selector) + " is on the page but was not visible"))
            << err.toStdString();
    }
}

TEST_F(CliPage, BadPageOptionsAreUsageErrorsNamingTheFlag) {
    const struct {
        QStringList args;
        const char* names;
    } cases[] = {
        {{QStringLiteral("--wait"), QStringLiteral("idle")}, "--wait"},
        {{QStringLiteral("--delay"), QStringLiteral("-5")}, "--delay"},
        {{QStringLiteral("-H"), QStringLiteral("no colon")}, "-H"},
        {{QStringLiteral("--header"), QStringLiteral("Bad Name: x")}, "--header"},
        {{QStringLiteral("--javascript"), QStringLiteral("/nonexistent/x.js")}, "--javascript"},
        {{QStringLiteral("--hide"), QStringLiteral("")}, "--hide"},
        // Known before any page loads: what the browser would drop or refuse, and a delay as long as the
        // limit.
        {{QStringLiteral("-H"), QStringLiteral("Host: elsewhere.example")}, "-H"},
        {{QStringLiteral("-H"), QStringLiteral("content-length: 5")}, "-H"},
        {{QStringLiteral("-H"), QStringLiteral("X-Bell: ring\x07")}, "-H"},
        {{QStringLiteral("--user-agent"), QStringLiteral("Agent\x1b[31m")}, "--user-agent"},
        {{QStringLiteral("--delay"), QStringLiteral("3000"), QStringLiteral("--timeout"),
          QStringLiteral("3")},
         "--delay"},
        {{QStringLiteral("--javascript"), QStringLiteral("/dev/zero")}, "--javascript"},
        {{QStringLiteral("-f"), QStringLiteral("WEBP"), QStringLiteral("--size"),
          QStringLiteral("16384x100")},
         "WEBP"},
    };
    const int hitsBefore = server->hits(QStringLiteral("/one"));
    for (const auto& c : cases) {
        QByteArray err;
        EXPECT_EQ(run(c.args + QStringList{server->url(QStringLiteral("/one"))}, nullptr, &err), 2)
            << c.names;
        EXPECT_TRUE(err.contains(c.names)) << err.toStdString();
    }
    // None of them loaded a page first.
    EXPECT_EQ(server->hits(QStringLiteral("/one")), hitsBefore);
}
