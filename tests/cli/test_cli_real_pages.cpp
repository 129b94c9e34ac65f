// Pages built the way real sites are, captured by lumiclip-cli with the real browser: each page is made
// so that one pixel tells the right picture from the wrong one.
#include "real_pages_fixture.h"

#include <QFile>
#include <QImage>
#include <QJsonObject>
#include <QProcess>

#include <cstdlib>
#include <functional>

using namespace lumiclip;
using namespace lumiclip::test;

TEST_F(CliRealPages, TheFontsOfThePageAreWaitedForBeforeTheSnapshot) {
    // Its glyph is a block over the middle; until the font has come, the browser draws the text
    // invisible (font-display: block). The text comes with the load, and so the font after it.
    QFile font(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf"));
    ASSERT_TRUE(font.open(QIODevice::ReadOnly)) << "the test needs fonts-dejavu-core";
    HttpResponse slow;
    slow.body = font.readAll();
    slow.contentType = "font/ttf";
    slow.delayMs = 1500;
    server->route(QStringLiteral("/slow.ttf"), slow);
    server->routeHtml(
        QStringLiteral("/font"),
        "<html><head><style>@font-face { font-family: Slow; src: url(/slow.ttf); "
        "font-display: block }"
        "div { font: 300px/1 Slow; color: rgb(0,160,0); position: absolute; left: 0; top: -60px }"
        "</style></head><body style='margin:0' "
        "onload=\"document.body.innerHTML = '<div>\u2588</div>'\"></body></html>");
    const Shot shot = shoot(QStringLiteral("/font"), {});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(40, 75), kGreen);
}

TEST_F(CliRealPages, WaitForJsWaitsForThePagesWordAndFailsWithItsError) {
    server->routeHtml(QStringLiteral("/flag"),
                      "<html><body style='margin:0;background:rgb(200,0,0)' onload=\"setTimeout(function () {"
                      "document.body.style.background = 'rgb(0,160,0)'; window.ready = true; }, 1000)\">"
                      "</body></html>");
    Shot shot =
        shoot(QStringLiteral("/flag"), {QStringLiteral("--wait-for-js"), QStringLiteral("window.ready")});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(), kGreen);

    shot = shoot(QStringLiteral("/flag"),
                 {QStringLiteral("--wait-for-js"), QStringLiteral("window.nothing.there")});
    EXPECT_EQ(shot.status, 1);
    EXPECT_TRUE(shot.image.isNull());
    EXPECT_EQ(shot.line.value(QStringLiteral("error_kind")).toString(), QStringLiteral("script"));
    EXPECT_TRUE(shot.err.contains("--wait-for-js")) << shot.err.toStdString();

    shot = shoot(QStringLiteral("/flag"), {QStringLiteral("--wait-for-js"), QStringLiteral("1 +")});
    EXPECT_EQ(shot.line.value(QStringLiteral("error_kind")).toString(), QStringLiteral("script"));

    // Never true: the limit fails it, or with --on-timeout capture, it is taken as it is then.
    shot = shoot(QStringLiteral("/flag"), {QStringLiteral("--wait-for-js"), QStringLiteral("window.never"),
                                           QStringLiteral("--timeout"), QStringLiteral("3")});
    EXPECT_EQ(shot.status, 1);
    EXPECT_EQ(shot.line.value(QStringLiteral("error_kind")).toString(), QStringLiteral("timeout"));
    shot = shoot(QStringLiteral("/flag"), {QStringLiteral("--wait-for-js"), QStringLiteral("window.never"),
                                           QStringLiteral("--timeout"), QStringLiteral("3"),
                                           QStringLiteral("--on-timeout"), QStringLiteral("capture")});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(), kGreen);
    EXPECT_EQ(shot.line.value(QStringLiteral("wait")).toString(), QStringLiteral("timeout"));
}

TEST_F(CliRealPages, APageWhoseSubresourceNeverFinishesIsABestAttemptOnlyWhenAsked) {
    HttpResponse stall;
    stall.stall = true;
    server->route(QStringLiteral("/never.png"), stall);
    server->routeHtml(
        QStringLiteral("/stalled"),
        "<html><body style='margin:0;background:rgb(0,160,0)'><img src='/never.png'></body></html>");
    Shot shot = shoot(QStringLiteral("/stalled"), {QStringLiteral("--timeout"), QStringLiteral("3")});
    EXPECT_EQ(shot.status, 1);
    EXPECT_TRUE(shot.image.isNull());
    EXPECT_EQ(shot.line.value(QStringLiteral("error_kind")).toString(), QStringLiteral("timeout"));
    shot = shoot(QStringLiteral("/stalled"), {QStringLiteral("--timeout"), QStringLiteral("3"),
                                              QStringLiteral("--on-timeout"), QStringLiteral("capture")});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(), kGreen);
    EXPECT_EQ(shot.line.value(QStringLiteral("wait")).toString(), QStringLiteral("timeout"));
    EXPECT_TRUE(shot.line.value(QStringLiteral("error_kind")).isNull());
}

TEST_F(CliRealPages, ClicksTakeABannerAwayAndBlockedRequestsAreNeverMade) {
    server->routeHtml(QStringLiteral("/banner"),
                      "<html><body style='margin:0;background:rgb(0,160,0)'>"
                      "<div id='banner' style='position:fixed;inset:0;background:rgb(200,0,0)'>"
                      "<button id='accept' onclick=\"document.getElementById('banner').remove()\">OK</button>"
                      "</div></body></html>");
    EXPECT_EQ(shoot(QStringLiteral("/banner"), {}).at(), kRed);
    EXPECT_EQ(shoot(QStringLiteral("/banner"), {QStringLiteral("--click"), QStringLiteral("#accept")}).at(),
              kGreen);
    const Shot missing =
        shoot(QStringLiteral("/banner"), {QStringLiteral("--click"), QStringLiteral("#accept"),
                                          QStringLiteral("--click"), QStringLiteral("#again")});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.line.value(QStringLiteral("error_kind")).toString(), QStringLiteral("selector"));
    EXPECT_TRUE(missing.err.contains("#again")) << missing.err.toStdString();

    HttpResponse ad;
    ad.body = "document.body.style.background = 'rgb(200,0,0)';";
    ad.contentType = "text/javascript";
    server->route(QStringLiteral("/ads/ad.js"), ad);
    server->routeHtml(
        QStringLiteral("/with-ad"),
        "<html><body style='margin:0;background:rgb(0,160,0)'><script src='/ads/ad.js'></script>"
        "</body></html>");
    EXPECT_EQ(shoot(QStringLiteral("/with-ad"), {}).at(), kRed);
    const int hits = server->hits(QStringLiteral("/ads/ad.js"));
    EXPECT_EQ(shoot(QStringLiteral("/with-ad"), {QStringLiteral("--block"), QStringLiteral("*/ads/*")}).at(),
              kGreen);
    EXPECT_EQ(server->hits(QStringLiteral("/ads/ad.js")), hits);
}

TEST_F(CliRealPages, AnimationsComeToRestWhenAsked) {
    // Left: red to green over a minute, kept at the end. Right: green at rest, red while its endless
    // animation runs.
    server->routeHtml(
        QStringLiteral("/moving"),
        "<html><head><style>"
        "@keyframes turn { from { background: rgb(200,0,0) } to { background: rgb(0,160,0) } }"
        "@keyframes alarm { from { background: rgb(200,0,0) } to { background: rgb(200,0,0) } }"
        "#a { position:absolute; left:0; top:0; width:100px; height:150px; "
        "animation: turn 60s linear forwards }"
        "#b { position:absolute; left:100px; top:0; width:100px; height:150px; "
        "background: rgb(0,160,0); animation: alarm 1s infinite }"
        "</style></head><body style='margin:0'><div id=a></div><div id=b></div>"
        "<script>window.reduced = matchMedia('(prefers-reduced-motion: reduce)').matches;</script>"
        "</body></html>");
    Shot shot = shoot(QStringLiteral("/moving"), {});
    EXPECT_NE(shot.at(50, 75), kGreen);
    EXPECT_EQ(shot.at(150, 75), kRed);
    shot =
        shoot(QStringLiteral("/moving"), {QStringLiteral("--no-animations"), QStringLiteral("--wait-for-js"),
                                          QStringLiteral("window.reduced")});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(50, 75), kGreen);
    EXPECT_EQ(shot.at(150, 75), kGreen);
}

TEST_F(CliRealPages, ADeviceIsAPhoneAndLanguageAndTimeZoneAreThePagesOwn) {
    // Green only with a coarse pointer, a phone's agent, its width and its pixel density.
    server->routeHtml(QStringLiteral("/phone"),
                      "<html><head><meta name='viewport' content='width=device-width'></head>"
                      "<body style='margin:0;height:100vh;background:rgb(200,0,0)'><script>"
                      "if (matchMedia('(pointer: coarse)').matches && /iPhone/.test(navigator.userAgent) &&"
                      "    innerWidth === 393 && devicePixelRatio === 3 && 'ontouchstart' in window)"
                      "  document.body.style.background = 'rgb(0,160,0)';"
                      "</script></body></html>");
    EXPECT_EQ(shoot(QStringLiteral("/phone"), {}).at(), kRed);
    const Shot phone = shoot(QStringLiteral("/phone"),
                             {QStringLiteral("--device"), QStringLiteral("iphone 15"),
                              QStringLiteral("--size"), QStringLiteral("200x150")},
                             false);
    ASSERT_EQ(phone.status, 0) << phone.err.toStdString();
    EXPECT_EQ(phone.at(), kGreen);

    QByteArray out;
    ASSERT_EQ(run({QStringLiteral("--device"), QStringLiteral("list")}, &out), 0);
    EXPECT_TRUE(out.contains("iPhone 15       393x852 at 3x, mobile, touch")) << out.toStdString();
    EXPECT_TRUE(out.contains("1920x1080"));

    server->routeHtml(QStringLiteral("/local"),
                      "<html><body style='margin:0;height:100vh;background:rgb(200,0,0)'><script>"
                      "if (navigator.language === 'de-CH' && navigator.languages[0] === 'de-CH' &&"
                      "    Intl.DateTimeFormat().resolvedOptions().timeZone === 'Europe/Zurich')"
                      "  document.body.style.background = 'rgb(0,160,0)';"
                      "</script></body></html>");
    EXPECT_EQ(shoot(QStringLiteral("/local"), {}).at(), kRed);
    EXPECT_EQ(shoot(QStringLiteral("/local"), {QStringLiteral("--lang"), QStringLiteral("de-CH"),
                                               QStringLiteral("--timezone"), QStringLiteral("Europe/Zurich")})
                  .at(),
              kGreen);
    EXPECT_TRUE(server->lastHeaders(QStringLiteral("/local")).value("accept-language").startsWith("de-CH"));
}

TEST_F(CliRealPages, ChineseTextAndEmojiAreDrawnInTheirFontsNotAsEmptyBoxes) {
    // Each character alone in a box of its own, beside a character no font has, which is drawn as the
    // empty box a missing font gives: the middle of 中 is its stroke, an emoji in the default font is no
    // empty box, and one in the colour emoji font (as many pages' font lists name it) is in colour.
    server->routeHtml(QStringLiteral("/glyphs"),
                      "<html><head><meta charset='utf-8'><style>"
                      "span { position:absolute; top:0; width:100px; height:150px; font-size:100px; "
                      "line-height:150px; text-align:center }"
                      "</style></head><body style='margin:0'>"
                      "<span style='left:0'>\u4e2d</span><span style='left:100px'>&#x1F600;</span>"
                      "<span style='left:200px; font-family: \"Noto Color Emoji\"'>&#x1F600;</span>"
                      "<span style='left:300px'>&#x10FFFD;</span></body></html>");
    const Shot shot = shoot(QStringLiteral("/glyphs"),
                            {QStringLiteral("--view"), QStringLiteral("400x150"), QStringLiteral("--size"),
                             QStringLiteral("400x150")},
                            false);
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    const auto count = [&shot](int left, const std::function<bool(const QColor&)>& wanted) {
        int n = 0;
        for (int y = 0; y < 150; ++y) {
            for (int x = left; x < left + 100; ++x) {
                n += wanted(shot.image.pixelColor(x, y)) ? 1 : 0;
            }
        }
        return n;
    };
    const auto ink = [](const QColor& c) { return c.lightness() < 100; };
    const int emptyBox = count(300, ink);
    ASSERT_GT(emptyBox, 0) << "the character no font has was not drawn as a box";
    int stroke = 0;
    for (int x = 45; x <= 55; ++x) {
        stroke += ink(shot.image.pixelColor(x, 75)) ? 1 : 0;
    }
    EXPECT_GT(stroke, 0) << "no stroke in the middle of the Chinese character";
    EXPECT_GT(std::abs(count(100, ink) - emptyBox), emptyBox / 3) << "the emoji is an empty box";
    EXPECT_GT(count(200, [](const QColor& c) { return c.red() > 200 && c.green() > 150 && c.blue() < 100; }),
              500)
        << "the colour emoji font is not there";
}

TEST_F(CliRealPages, LoggedInPagesTakeCredentialsAndCookiesOfTheirOwnHostOnly) {
    HttpResponse members;
    members.body = "<html><body style='margin:0;background:rgb(0,160,0)'></body></html>";
    members.basicAuth = "ann:s3cret";
    server->route(QStringLiteral("/members"), members);
    Shot shot = shoot(QStringLiteral("/members"), {QStringLiteral("--auth"), QStringLiteral("ann:s3cret")});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(), kGreen);
    shot = shoot(QStringLiteral("/members"), {});
    EXPECT_EQ(shot.line.value(QStringLiteral("error_kind")).toString(), QStringLiteral("http_status"));

    // Another host's challenge (localhost is not 127.0.0.1) never gets them.
    server->routeHtml(QStringLiteral("/framed"),
                      "<html><body style='margin:0'><iframe style='border:0;width:200px;height:150px' "
                      "src='http://localhost:" +
                          QByteArray::number(server->port()) + "/members'></iframe></body></html>");
    const int before = server->hits(QStringLiteral("/members"));
    shot = shoot(QStringLiteral("/framed"), {QStringLiteral("--auth"), QStringLiteral("ann:s3cret")});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_NE(shot.at(), kGreen);
    EXPECT_GT(server->hits(QStringLiteral("/members")), before);
    EXPECT_NE(server->lastHeaders(QStringLiteral("/members")).value("authorization"),
              "Basic " + QByteArray("ann:s3cret").toBase64());

    // Green only with the cookie; one from a cookies file too, HttpOnly ones included; and a cookie the
    // page sets itself never reaches the next page.
    server->routeHtml(
        QStringLiteral("/home"),
        "<html><body style='margin:0;background:rgb(200,0,0)'><script>"
        "if (document.cookie.indexOf('session=ok') >= 0) document.body.style.background = 'rgb(0,160,0)';"
        "document.cookie = 'seen=1';</script></body></html>");
    EXPECT_EQ(shoot(QStringLiteral("/home"), {}).at(), kRed);
    EXPECT_EQ(shoot(QStringLiteral("/home"), {QStringLiteral("--cookie"), QStringLiteral("session=ok")}).at(),
              kGreen);
    EXPECT_TRUE(server->lastHeaders(QStringLiteral("/home")).value("cookie").contains("session=ok"));
    EXPECT_FALSE(server->lastHeaders(QStringLiteral("/home")).value("cookie").contains("seen"));

    const QString jar = dir.filePath(QStringLiteral("cookies.txt"));
    ASSERT_TRUE(writeFile(jar,
                          "# Netscape HTTP Cookie File\n\n"
                          "127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tok\n"
                          "#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\thidden\tyes\n"));
    EXPECT_EQ(shoot(QStringLiteral("/home"), {QStringLiteral("--cookies"), jar}).at(), kGreen);
    EXPECT_TRUE(server->lastHeaders(QStringLiteral("/home")).value("cookie").contains("hidden=yes"));

    ASSERT_TRUE(writeFile(jar, "127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\tok\nnot a cookie\n"));
    QByteArray err;
    EXPECT_EQ(run({QStringLiteral("--cookies"), jar, server->url(QStringLiteral("/home"))}, nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("line 2 is not a cookie")) << err.toStdString();
}

TEST_F(CliRealPages, AProxyForThePagesContextAndCertificatesLeftUnchecked) {
    // proxied.test is known to no resolver: the page loads only through the proxy (the test server,
    // which answers the whole address a proxy is asked for).
    server->routeHtml(QStringLiteral("/via"),
                      "<html><body style='margin:0;background:rgb(0,160,0)'></body></html>");
    const QString proxied = QStringLiteral("http://proxied.test/via");
    Shot shot = shootUrl(proxied, {});
    EXPECT_EQ(shot.status, 1);
    EXPECT_EQ(shot.line.value(QStringLiteral("error_kind")).toString(), QStringLiteral("network"));
    shot = shootUrl(proxied,
                    {QStringLiteral("--proxy"), QStringLiteral("http://127.0.0.1:%1").arg(server->port())});
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(), kGreen);

    // A server with a certificate of its own making.
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    const QString key = dir.filePath(QStringLiteral("key.pem"));
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("openssl"),
                          {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                           QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                           key, QStringLiteral("-out"), cert, QStringLiteral("-days"), QStringLiteral("1"),
                           QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")}),
        0);
    QProcess tls;
    tls.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tls.start(QStringLiteral("python3"),
              {QStringLiteral("-c"),
               QStringLiteral(
                   "import http.server, ssl, sys\n"
                   "class Page(http.server.BaseHTTPRequestHandler):\n"
                   "    def do_GET(self):\n"
                   "        body = b\"<html><body style='margin:0;background:rgb(0,160,0)'></body></html>\"\n"
                   "        self.send_response(200)\n"
                   "        self.send_header('Content-Type', 'text/html')\n"
                   "        self.send_header('Content-Length', str(len(body)))\n"
                   "        self.end_headers()\n"
                   "        self.wfile.write(body)\n"
                   "    def log_message(self, *args):\n"
                   "        pass\n"
                   "server = http.server.HTTPServer(('127.0.0.1', 0), Page)\n"
                   "context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)\n"
                   "context.load_cert_chain(sys.argv[1], sys.argv[2])\n"
                   "server.socket = context.wrap_socket(server.socket, server_side=True)\n"
                   "print(server.server_address[1], flush=True)\n"
                   "server.serve_forever()\n"),
               cert, key});
    ASSERT_TRUE(tls.waitForStarted(5000));
    ASSERT_TRUE(tls.waitForReadyRead(10000));
    const QString secure =
        QStringLiteral("https://127.0.0.1:%1/").arg(QString::fromLatin1(tls.readLine().trimmed()));
    shot = shootUrl(secure, {});
    EXPECT_NE(shot.status, 0);
    shot = shootUrl(secure, {QStringLiteral("--ignore-https-errors")});
    EXPECT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(), kGreen);
    EXPECT_TRUE(shot.line.value(QStringLiteral("ignore_https_errors")).toBool());
    tls.kill();
    tls.waitForFinished(5000);
}
