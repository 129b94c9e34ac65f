// Captures with the real browser from a local server on 127.0.0.1.
#include "core/browser/browser.h"
#include "core/capture/create_html_image.h"

#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>
#include <cerrno>
#include <csignal>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// The host's parent: records each notification and whether the host was still waiting then.
class Parent final : public QObject {
public:
    CCreateHTMLImage* host = nullptr;
    QList<bool> duringWait;
    bool event(QEvent* e) override {
        if (e->type() == WM_CAPTURE_DOCUMENT_COMPLETE) {
            duringWait.append(host && host->isWaiting());
            return true;
        }
        return QObject::event(e);
    }
};

class CaptureHostBrowser : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        browser = new Browser;
        server = new TestHttpServer;
        server->routeHtml(QStringLiteral("/plain"), "<html><body><h1>plain</h1></body></html>");
        server->routeHtml(QStringLiteral("/frames"),
                          "<html><body><iframe src='/f1'></iframe><iframe src='/f2'></iframe></body></html>");
        server->routeHtml(QStringLiteral("/f1"), "<html><body>one</body></html>");
        server->routeHtml(QStringLiteral("/f2"), "<html><body>two</body></html>");
        HttpResponse cached;
        cached.body = "<html><body>cached</body></html>";
        cached.headers = {{"Cache-Control", "max-age=3600"}};
        server->route(QStringLiteral("/cached"), cached);
        HttpResponse stall;
        stall.stall = true;
        server->route(QStringLiteral("/stall"), stall);
        HttpResponse partial;
        partial.body =
            "<html><body style='margin:0'><div style='width:100px;height:100px;background:#000'></div>"
            "<img src='/stall'>";
        server->route(QStringLiteral("/slowimage"), partial);
        server->routeHtml(QStringLiteral("/endless"),
                          "<html><body><p>busy</p><script>while (true) {}</script></body></html>");
        HttpResponse svg;
        svg.contentType = "image/svg+xml";
        svg.body =
            "<svg xmlns='http://www.w3.org/2000/svg' width='100' height='100'><rect width='50' "
            "height='50'/></svg>";
        server->route(QStringLiteral("/svg"), svg);
        server->routeHtml(QStringLiteral("/corner"),
                          "<html><body style='margin:0;background:transparent'>"
                          "<div style='width:100px;height:100px;background:rgb(0,0,0)'></div></body></html>");
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
        delete browser;
        browser = nullptr;
    }

    // One capture through a fresh host, as the main window makes it.
    bool capture(const QString& url, const QString& format = QStringLiteral("JPG"), int iw = 180,
                 int ih = 138, int vw = 810, int vh = 600) {
        host = new CVTCreateHTMLImage(*browser);
        parent.host = host;
        EXPECT_TRUE(host->Create(&parent));
        host->m_strFormat = format;
        host->setTimeLimitMs(timeLimitMs);
        const bool ok = host->CreateImage(url, out, vw, vh, iw, ih);
        lastError = host->lastError();
        return ok;
    }
    void TearDown() override {
        delete host;
        host = nullptr;
    }

    static Browser* browser;
    static TestHttpServer* server;
    QTemporaryDir dir;
    QString out = dir.filePath(QStringLiteral("shot.jpg"));
    Parent parent;
    CVTCreateHTMLImage* host = nullptr;
    QString lastError;
    int timeLimitMs = 30000;
};

Browser* CaptureHostBrowser::browser = nullptr;
TestHttpServer* CaptureHostBrowser::server = nullptr;

void settle() {
    waitUntil([] { return false; }, 200);
}

}  // namespace

TEST_F(CaptureHostBrowser, APageWithoutFramesGivesOneNotificationHandledAfterTheCaptureReturned) {
    ASSERT_TRUE(capture(server->url(QStringLiteral("/plain")))) << lastError.toStdString();
    EXPECT_TRUE(parent.duringWait.isEmpty());
    settle();
    EXPECT_EQ(parent.duringWait, QList<bool>{false});
    EXPECT_EQ(sniffImageFormat(readFile(out)), QStringLiteral("JPEG"));
    EXPECT_EQ(imageFileSize(out), QSize(180, 138));
}

TEST_F(CaptureHostBrowser, TwoFramesGiveThreeNotificationsFramesFirstDuringTheWait) {
    ASSERT_TRUE(capture(server->url(QStringLiteral("/frames")))) << lastError.toStdString();
    settle();
    EXPECT_EQ(parent.duringWait, (QList<bool>{true, true, false}));
}

TEST_F(CaptureHostBrowser, ACrossSiteFrameIsCountedAndDrawnToo) {
    // localhost and 127.0.0.1 are different sites, so the browser renders the first frame in a
    // process of its own.
    server->routeHtml(QStringLiteral("/xframes"),
                      "<html><body style='margin:0'><iframe style='border:0;width:400px;height:300px' "
                      "src='http://localhost:" +
                          QByteArray::number(server->port()) +
                          "/red'></iframe><iframe src='/f2'></iframe></body></html>");
    server->routeHtml(QStringLiteral("/red"),
                      "<html><body style='margin:0;background:#d02020'></body></html>");
    out = dir.filePath(QStringLiteral("x.png"));
    ASSERT_TRUE(capture(server->url(QStringLiteral("/xframes")), QStringLiteral("PNG"), 810, 600))
        << lastError.toStdString();
    settle();
    EXPECT_EQ(parent.duringWait, (QList<bool>{true, true, false}));
    const QImage image(out);
    EXPECT_EQ(image.pixelColor(100, 100).red(), 0xd0);
    EXPECT_EQ(image.pixelColor(100, 100).green(), 0x20);
}

TEST_F(CaptureHostBrowser, TwoCapturesOfACacheablePageBothReachTheServer) {
    ASSERT_TRUE(capture(server->url(QStringLiteral("/cached"))));
    delete host;
    host = nullptr;
    ASSERT_TRUE(capture(server->url(QStringLiteral("/cached"))));
    EXPECT_EQ(server->hits(QStringLiteral("/cached")), 2);
}

TEST_F(CaptureHostBrowser, AnAddressWithoutSchemeIsPassedAsTyped) {
    const int before = server->totalHits();
    const QString typed = QStringLiteral("127.0.0.1:%1/plain").arg(server->port());
    EXPECT_FALSE(capture(typed));
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_EQ(server->totalHits(), before);  // nothing added a scheme and fetched it
}

TEST_F(CaptureHostBrowser, AnAddressThatRefusesTheConnectionGivesThePictureOfTheErrorPage) {
    ASSERT_TRUE(capture(refusedUrl())) << lastError.toStdString();
    EXPECT_EQ(imageFileSize(out), QSize(180, 138));
    settle();
    EXPECT_EQ(parent.duringWait, QList<bool>{false});
}

TEST_F(CaptureHostBrowser, StopDuringAStalledLoadEndsTheWaitAndStillWritesTheImage) {
    QElapsedTimer clock;
    clock.start();
    // Stopped once the page asked for its stalled image (its black box is there by then), not at a fixed
    // time: a browser started on a busy machine may not have the page yet after a second or two.
    const int stalls = server->hits(QStringLiteral("/stall"));
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &parent, [&] {
        if (server->hits(QStringLiteral("/stall")) > stalls) {
            poll.stop();
            QTimer::singleShot(500, &parent, [this] { host->Stop(); });
        }
    });
    poll.start();
    ASSERT_TRUE(capture(server->url(QStringLiteral("/slowimage")), QStringLiteral("PNG"), 810, 600))
        << lastError.toStdString();
    EXPECT_LT(clock.elapsed(), 15000);
    const QImage image(out);
    EXPECT_EQ(image.pixelColor(50, 50), QColor(Qt::black));  // what had loaded is drawn
    settle();
    EXPECT_EQ(parent.duringWait.size(), 1);  // a stopped page counts as complete
}

TEST_F(CaptureHostBrowser, AnEndlessScriptDoesNotHangTheCapture) {
    timeLimitMs = 2000;
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(capture(server->url(QStringLiteral("/endless")))) << lastError.toStdString();
    EXPECT_LT(clock.elapsed(), 20000);
    EXPECT_EQ(imageFileSize(out), QSize(180, 138));
}

TEST_F(CaptureHostBrowser, DialogsAreAnsweredAsTheyOpenAndTheCaptureGoesOn) {
    // Each page shows what its dialog answered: green for the answer we give, red for any other.
    server->routeHtml(QStringLiteral("/alert"),
                      "<html><body style='margin:0'><script>alert('hi');"
                      "document.body.style.background='rgb(0,160,0)'</script></body></html>");
    server->routeHtml(QStringLiteral("/confirm"),
                      "<html><body style='margin:0'><script>document.body.style.background="
                      "confirm('sure?') ? 'rgb(200,0,0)' : 'rgb(0,160,0)'</script></body></html>");
    server->routeHtml(
        QStringLiteral("/prompt"),
        "<html><body style='margin:0'><script>document.body.style.background="
        "prompt('name?', 'x') === null ? 'rgb(0,160,0)' : 'rgb(200,0,0)'</script></body></html>");
    server->routeHtml(QStringLiteral("/onload-alert"),
                      "<html><body style='margin:0;background:rgb(0,160,0)' onload=\"alert('loaded')\">"
                      "</body></html>");
    timeLimitMs = 20000;
    for (const char* path : {"/alert", "/confirm", "/prompt", "/onload-alert"}) {
        QElapsedTimer clock;
        clock.start();
        out = dir.filePath(QStringLiteral("dialog.png"));
        ASSERT_TRUE(capture(server->url(QString::fromLatin1(path)), QStringLiteral("PNG"), 810, 600))
            << path << ": " << lastError.toStdString();
        EXPECT_LT(clock.elapsed(), 10000) << path << ": the dialog held the capture";
        EXPECT_EQ(QImage(out).pixelColor(400, 300), QColor(0, 160, 0)) << path;
        delete host;
        host = nullptr;
    }
}

TEST_F(CaptureHostBrowser, AScriptThatRunsOnAfterTheLoadIsEndedForTheSnapshot) {
    server->routeHtml(QStringLiteral("/busy-after-load"),
                      "<html><body style='margin:0;background:rgb(0,0,200)' "
                      "onload='setTimeout(function () { for (;;) {} }, 0)'></body></html>");
    QElapsedTimer clock;
    clock.start();
    out = dir.filePath(QStringLiteral("busy.png"));
    ASSERT_TRUE(capture(server->url(QStringLiteral("/busy-after-load")), QStringLiteral("PNG"), 810, 600))
        << lastError.toStdString();
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_EQ(QImage(out).pixelColor(400, 300), QColor(0, 0, 200));
}

TEST_F(CaptureHostBrowser, APageThatSendsItselfElsewhereIsCapturedWhereItLands) {
    // Each page is red and goes on by itself to a green one (a language or login redirect); the reload
    // turns green on its second load.
    server->routeHtml(QStringLiteral("/landing"),
                      "<html><body style='margin:0;background:rgb(0,160,0)'>landed</body></html>");
    server->routeHtml(QStringLiteral("/refresh"),
                      "<html><head><meta http-equiv='refresh' content='0;url=/landing'></head>"
                      "<body style='background:rgb(200,0,0)'></body></html>");
    server->routeHtml(QStringLiteral("/onload"),
                      "<html><body style='background:rgb(200,0,0)' onload=\"location.href='/landing'\">"
                      "</body></html>");
    server->routeHtml(QStringLiteral("/inline"),
                      "<html><head><script>location.replace('/landing')</script></head>"
                      "<body style='background:rgb(200,0,0)'></body></html>");
    server->routeHtml(QStringLiteral("/reload"),
                      "<html><body style='margin:0;background:rgb(200,0,0)'><script>"
                      "addEventListener('load', function () {"
                      "  if (!sessionStorage.getItem('again')) { sessionStorage.setItem('again', '1');"
                      "    location.reload(); }"
                      "  else document.body.style.background = 'rgb(0,160,0)'; });"
                      "</script></body></html>");
    timeLimitMs = 10000;
    for (const char* path : {"/refresh", "/onload", "/inline", "/reload"}) {
        QElapsedTimer clock;
        clock.start();
        out = dir.filePath(QStringLiteral("landed.png"));
        QFile::remove(out);
        EXPECT_TRUE(capture(server->url(QString::fromLatin1(path)), QStringLiteral("PNG"), 810, 600))
            << path << ": " << lastError.toStdString();
        EXPECT_LT(clock.elapsed(), 8000) << path;
        EXPECT_EQ(QImage(out).pixelColor(400, 300), QColor(0, 160, 0)) << path;
    }
}

TEST_F(CaptureHostBrowser, TheTimeLimitBoundsTheWholeCapture) {
    // A page that sends itself elsewhere as soon as it has loaded: the snapshot meets a page that is
    // being replaced, again and again.
    server->routeHtml(QStringLiteral("/loop"),
                      "<html><body onload=\"location.replace('/loop?' + Math.random())\">loop</body></html>");
    timeLimitMs = 3000;
    QElapsedTimer clock;
    clock.start();
    capture(server->url(QStringLiteral("/loop")));
    // The limit and one fixed grace (3 s), with room for a slow machine; before, 15 s more.
    EXPECT_LT(clock.elapsed(), 8000) << lastError.toStdString();
}

TEST_F(CaptureHostBrowser, FormatNamesChooseTheEncoderExactly) {
    const struct {
        const char* format;
        const char* sniffed;
    } cases[] = {{"PNG", "PNG"}, {"GIF", "GIF"}, {"png", "JPEG"}, {"BMP", "JPEG"}, {"", "JPEG"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(capture(server->url(QStringLiteral("/plain")), QString::fromLatin1(c.format), 200, 50));
        EXPECT_EQ(sniffImageFormat(readFile(out)), QString::fromLatin1(c.sniffed)) << c.format;
        EXPECT_EQ(imageFileSize(out), QSize(200, 50));
        delete host;
        host = nullptr;
    }
}

TEST_F(CaptureHostBrowser, APageThatPaintsOnlyItsCornerLeavesTheRestWhite) {
    ASSERT_TRUE(capture(server->url(QStringLiteral("/corner")), QStringLiteral("PNG"), 810, 600));
    const QImage image(out);
    EXPECT_EQ(image.pixelColor(50, 50), QColor(Qt::black));
    EXPECT_EQ(image.pixelColor(400, 300), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(805, 595), QColor(Qt::white));
}

TEST_F(CaptureHostBrowser, NothingIsWrittenForADocumentWithoutBodyAMissingFolderOrBadSizes) {
    EXPECT_FALSE(capture(server->url(QStringLiteral("/svg"))));
    EXPECT_FALSE(QFile::exists(out));
    delete host;
    host = nullptr;

    out = dir.filePath(QStringLiteral("missing/shot.jpg"));
    EXPECT_FALSE(capture(server->url(QStringLiteral("/plain"))));
    EXPECT_FALSE(QFile::exists(out));
    delete host;
    host = nullptr;

    out = dir.filePath(QStringLiteral("zero.jpg"));
    const int before = server->hits(QStringLiteral("/plain"));
    EXPECT_FALSE(capture(server->url(QStringLiteral("/plain")), QStringLiteral("JPG"), 0, 138));
    delete host;
    host = nullptr;
    EXPECT_FALSE(capture(server->url(QStringLiteral("/plain")), QStringLiteral("JPG"), 180, 138, 810, 20000));
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_EQ(server->hits(QStringLiteral("/plain")), before);
}

TEST_F(CaptureHostBrowser, AKilledBrowserFailsOneCaptureAndTheNextOneWorks) {
    QTimer::singleShot(1000, &parent, [] { ::kill(browser->pid(), SIGKILL); });
    EXPECT_FALSE(capture(server->url(QStringLiteral("/stall"))));
    EXPECT_FALSE(lastError.isEmpty());
    delete host;
    host = nullptr;
    EXPECT_TRUE(capture(server->url(QStringLiteral("/plain")))) << lastError.toStdString();
}

TEST_F(CaptureHostBrowser, AWriteToABrowserThatDiedFailsInsteadOfEndingTheProgram) {
    ASSERT_TRUE(capture(server->url(QStringLiteral("/plain")))) << lastError.toStdString();
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    errno = 0;
    EXPECT_EQ(::write(fds[1], "x", 1), -1);  // with SIGPIPE's default action, the test would end here
    EXPECT_EQ(errno, EPIPE);
    ::close(fds[1]);
}

TEST_F(CaptureHostBrowser, AQuitDuringTheWaitEndsItAndStillReachesTheOuterLoop) {
    // The capture runs inside an outer loop, as in the program; the quit comes while the page stalls.
    QEventLoop outer;
    bool result = false;
    bool returned = false;
    QTimer::singleShot(0, &outer, [&] {
        // exit() and not quit(): the test runs no application loop of its own. It ends every loop of
        // the thread for good, so this test comes last (ctest runs each test in a process of its own).
        QTimer::singleShot(1000, &outer, [] { QCoreApplication::exit(0); });
        result = capture(server->url(QStringLiteral("/slowimage")), QStringLiteral("PNG"));
        returned = true;
    });
    QElapsedTimer clock;
    clock.start();
    outer.exec();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(result) << lastError.toStdString();
    EXPECT_LT(clock.elapsed(), 15000);
    // A quit is not a completion: no notification.
    settle();
    EXPECT_TRUE(parent.duringWait.isEmpty());
}
