// Guarded captures with the real browser: a page from one local server (A, allowed by its port) whose
// images, frames, scripts and redirects reach for another (B, a private address like any on this
// machine). What the guard refuses never reaches B.
#include "core/browser/browser.h"
#include "core/capture/page_capture.h"

#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// A red box whose background is B's green picture: one pixel tells whether the picture came.
QByteArray BoxOf(const QString& picture) {
    return "<div style='width:200px;height:200px;background:#ff0000 url(" + picture.toUtf8() +
           ") no-repeat;background-size:200px 200px'></div>";
}

class AddressGuardBrowser : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        browser = new Browser;
        a = new TestHttpServer;
        b = new TestHttpServer;
        HttpResponse green;
        green.contentType = "image/svg+xml";
        green.body =
            "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><rect width='10' height='10' "
            "fill='#00ff00'/></svg>";
        b->route(QStringLiteral("/green.svg"), green);
        b->routeHtml(QStringLiteral("/plain"), "<html><body>B</body></html>");
        b->routeHtml(QStringLiteral("/frame"), "<html><body style='background:#00ff00'></body></html>");
        a->route(QStringLiteral("/green.svg"), green);
        a->routeHtml(QStringLiteral("/plain"), "<html><body>A</body></html>");
    }
    static void TearDownTestSuite() {
        delete a;
        a = nullptr;
        delete b;
        b = nullptr;
        delete browser;
        browser = nullptr;
    }
    void SetUp() override {
        options.page.viewWidth = 400;
        options.page.viewHeight = 300;
        options.limits.pageMs = 20000;
        options.page.addresses.guarded = true;
        options.page.addresses.allowed = {{QStringLiteral("127.0.0.1"), a->port()}};
    }

    static QString OnA(const QString& path) { return a->url(path); }
    static QString OnB(const QString& path) { return b->url(path); }

    // One capture of url under the options; the outcome.
    PageCaptureOutcome capture(const QString& url) {
        options.url = url;
        PageCapture page(*browser, options);
        QElapsedTimer clock;
        clock.start();
        page.start();
        EXPECT_TRUE(waitUntil([&page] { return page.isFinished(); }, 60000));
        elapsedMs = clock.elapsed();
        return page.outcome();
    }
    static QColor PixelOf(const PageCaptureOutcome& outcome, int x = 100, int y = 100) {
        return QImage::fromData(outcome.snapshot.png).pixelColor(x, y);
    }

    static Browser* browser;
    static TestHttpServer* a;
    static TestHttpServer* b;
    CaptureRequest options;
    qint64 elapsedMs = 0;
};

Browser* AddressGuardBrowser::browser = nullptr;
TestHttpServer* AddressGuardBrowser::a = nullptr;
TestHttpServer* AddressGuardBrowser::b = nullptr;

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

}  // namespace

TEST_F(AddressGuardBrowser, ThePageLoadsButWhatItAsksOfAnotherPrivateAddressNeverLeaves) {
    a->routeHtml(QStringLiteral("/picture"),
                 "<html><body style='margin:0'>" + BoxOf(OnB(QStringLiteral("/green.svg"))) +
                     "<script>fetch('" + OnB(QStringLiteral("/fetched")).toUtf8() +
                     "').catch(() => {});</script></body></html>");
    const int before = b->totalHits();
    PageCaptureOutcome outcome = capture(OnA(QStringLiteral("/picture")));
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(PixelOf(outcome), kRed);
    EXPECT_EQ(b->totalHits(), before);

    // Unguarded, the same page has its picture (and the page tells which, by one pixel).
    options.page.addresses = AddressPolicy{};
    outcome = capture(OnA(QStringLiteral("/picture")));
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(PixelOf(outcome), kGreen);
    EXPECT_EQ(b->hits(QStringLiteral("/fetched")), 1);

    // So has it when B is allowed too.
    options.page.addresses.guarded = true;
    options.page.addresses.allowed = {{QStringLiteral("127.0.0.1"), a->port()},
                                      {QStringLiteral("127.0.0.1"), b->port()}};
    outcome = capture(OnA(QStringLiteral("/picture")));
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(PixelOf(outcome), kGreen);
}

TEST_F(AddressGuardBrowser, ARedirectIsCheckedAgainAndOneOfThePageItselfFailsTheCaptureAtOnce) {
    HttpResponse toB;
    toB.status = 302;
    toB.headers = {{"Location", OnB(QStringLiteral("/green.svg")).toUtf8()}};
    a->route(QStringLiteral("/picture-moved"), toB);
    a->routeHtml(
        QStringLiteral("/moved-picture"),
        "<html><body style='margin:0'>" + BoxOf(QStringLiteral("/picture-moved")) + "</body></html>");
    const int before = b->totalHits();
    PageCaptureOutcome outcome = capture(OnA(QStringLiteral("/moved-picture")));
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(a->hits(QStringLiteral("/picture-moved")), 1);
    EXPECT_EQ(PixelOf(outcome), kRed);

    HttpResponse pageToB;
    pageToB.status = 302;
    pageToB.headers = {{"Location", OnB(QStringLiteral("/plain")).toUtf8()}};
    a->route(QStringLiteral("/moved"), pageToB);
    outcome = capture(OnA(QStringLiteral("/moved")));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.errorKind, ErrorKind::ForbiddenAddress);
    EXPECT_EQ(outcome.error, QStringLiteral("127.0.0.1 is a private address"));
    EXPECT_EQ(a->hits(QStringLiteral("/moved")), 1);
    EXPECT_LT(elapsedMs, 10000);  // not at the time limit
    EXPECT_EQ(b->totalHits(), before);
}

TEST_F(AddressGuardBrowser, TheAddressItselfIsRefusedBeforeTheBrowserLoadsAnything) {
    const int before = b->totalHits();
    for (const QString& url :
         {OnB(QStringLiteral("/plain")), QStringLiteral("http://2130706433:%1/plain").arg(b->port()),
          QStringLiteral("file:///etc/passwd")}) {
        const PageCaptureOutcome outcome = capture(url);
        EXPECT_FALSE(outcome.ok) << url.toStdString();
        EXPECT_EQ(outcome.errorKind, ErrorKind::ForbiddenAddress) << outcome.error.toStdString();
    }
    EXPECT_EQ(b->totalHits(), before);
}

TEST_F(AddressGuardBrowser, LocalhostIsAPrivateNameUnlessItIsAllowedByThatName) {
    const QString url = QStringLiteral("http://localhost:%1/plain").arg(a->port());
    PageCaptureOutcome outcome = capture(url);
    EXPECT_EQ(outcome.errorKind, ErrorKind::ForbiddenAddress);
    EXPECT_EQ(outcome.error, QStringLiteral("localhost resolves to 127.0.0.1, a private address"));

    options.page.addresses.allowed = {{QStringLiteral("localhost"), a->port()}};
    outcome = capture(url);
    EXPECT_TRUE(outcome.ok) << outcome.error.toStdString();
}

TEST_F(AddressGuardBrowser, FramesOfOtherAddressesAreRefusedAndWhatAFrameAsksIsCheckedToo) {
    // localhost and 127.0.0.1 are different sites: with sites isolated (as the full browser runs them),
    // the frame from localhost lives in a process of its own and makes its requests through a session
    // of its own. Its own picture is allowed, B's is not: both answers go back through the frame's
    // session, or the frame would never finish loading.
    a->routeHtml(QStringLiteral("/inner"), "<html><body style='margin:0'>" +
                                               BoxOf(OnB(QStringLiteral("/green.svg"))) +
                                               "<img src='/green.svg' width='1' height='1'></body></html>");
    a->routeHtml(QStringLiteral("/framed"),
                 "<html><body style='margin:0'><iframe style='border:0;width:200px;height:200px' src='" +
                     QStringLiteral("http://localhost:%1/inner").arg(a->port()).toUtf8() +
                     "'></iframe><iframe style='border:0;width:200px;height:200px' src='" +
                     OnB(QStringLiteral("/frame")).toUtf8() + "'></iframe></body></html>");
    options.page.addresses.allowed = {{QStringLiteral("127.0.0.1"), a->port()},
                                      {QStringLiteral("localhost"), a->port()}};
    const int before = b->totalHits();
    const int pictures = a->hits(QStringLiteral("/green.svg"));
    const PageCaptureOutcome outcome = capture(OnA(QStringLiteral("/framed")));
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_LT(elapsedMs, 10000);
    EXPECT_EQ(a->hits(QStringLiteral("/inner")), 1);
    EXPECT_EQ(a->hits(QStringLiteral("/green.svg")), pictures + 1);
    EXPECT_EQ(PixelOf(outcome, 100, 100), kRed);    // the inner frame, without its picture
    EXPECT_NE(PixelOf(outcome, 300, 100), kGreen);  // B's frame, refused
    EXPECT_EQ(b->totalHits(), before);
}

TEST_F(AddressGuardBrowser, WorkersAndBeaconsAskThroughTheGuardToo) {
    const auto script = [](const QString& fetched) {
        HttpResponse js;
        js.contentType = "text/javascript";
        js.body = "fetch('" + fetched.toUtf8() + "').catch(() => {});";
        return js;
    };
    HttpResponse worker = script(OnB(QStringLiteral("/from-worker")));
    worker.body.replace(".catch(() => {});", ".catch(() => {}).finally(() => postMessage('asked'));");
    a->route(QStringLiteral("/worker.js"), worker);
    HttpResponse serviceWorker = script(OnB(QStringLiteral("/from-service-worker")));
    serviceWorker.body += "self.addEventListener('install', () => fetch('" +
                          OnB(QStringLiteral("/from-install")).toUtf8() + "').catch(() => {}));";
    a->route(QStringLiteral("/service-worker.js"), serviceWorker);
    a->routeHtml(QStringLiteral("/workers"),
                 "<html><body><script>"
                 "new Worker('/worker.js').onmessage = () => { window.workerAsked = true; };"
                 // Registered, then installed (its install handler asks as it runs).
                 "navigator.serviceWorker.register('/service-worker.js').then((r) => new Promise((done) => {"
                 "  const w = r.installing;"
                 "  if (!w) return done();"
                 "  w.addEventListener('statechange', () => { if (w.state !== 'installing') done(); });"
                 "})).catch(() => {}).then(() => { window.registered = true; });"
                 "navigator.sendBeacon('" +
                     OnB(QStringLiteral("/beacon")).toUtf8() + "', 'x');</script></body></html>");
    // Until each worker has asked (and been answered, or refused), with a little time for the beacon.
    options.wait.expression = QStringLiteral("window.workerAsked === true && window.registered === true");
    options.wait.delayMs = 500;
    const int before = b->totalHits();
    const PageCaptureOutcome outcome = capture(OnA(QStringLiteral("/workers")));
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(a->hits(QStringLiteral("/worker.js")), 1);
    EXPECT_EQ(a->hits(QStringLiteral("/service-worker.js")), 1);
    EXPECT_EQ(b->totalHits(), before);
}
