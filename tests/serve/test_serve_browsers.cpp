// lumiclip-serve and its browsers: the orderly end with captures in flight, hits while pages load, a
// browser that dies under a request, and browsers elsewhere.
#include "serve_fixture.h"
#include "support/remote_shell.h"

#include <QImage>

using namespace lumiclip;
using namespace lumiclip::test;

TEST_F(Serve, ATermSignalLetsTheCapturesInFlightFinishAndLeavesNoBrowser) {
    ASSERT_TRUE(serve.start(allowPages())) << serve.err().toStdString();
    QNetworkReply* inFlight = client.send("GET", serve.capture(pages->url(QStringLiteral("/slow?term"))));
    ASSERT_TRUE(waitUntil([&] { return pages->hits(QStringLiteral("/slow")) == 1; }, 20000));
    ::kill(static_cast<pid_t>(serve.pid()), SIGTERM);
    const Answer answer = client.wait(inFlight).first();
    EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
    EXPECT_EQ(serve.stop(0), 0) << serve.err().toStdString();
    EXPECT_TRUE(waitUntil([&] { return countProcessesMatching(serve.runtimeDir()) == 0; }, 5000));
}

TEST_F(Serve, HitsAreAnsweredWhileAPageLoadsAndTheGraceEndsWhatIsLeft) {
    ASSERT_TRUE(serve.start(allowPages() + QStringList{QStringLiteral("--grace"), QStringLiteral("1")}))
        << serve.err().toStdString();
    const QString green = serve.capture(pages->url(QStringLiteral("/green")));
    ASSERT_EQ(client.get(green).status, 200);
    QNetworkReply* loading =
        client.send("GET", serve.capture(pages->url(QStringLiteral("/stall")),
                                         {{QStringLiteral("timeout"), QStringLiteral("60")}}));
    ASSERT_TRUE(waitUntil([&] { return pages->hits(QStringLiteral("/stall")) == 1; }, 20000));
    QList<QNetworkReply*> hits;
    for (int i = 0; i < 20; ++i) {
        hits.append(client.send("GET", green));
    }
    for (const Answer& hit : client.wait(hits)) {
        EXPECT_EQ(hit.status, 200);
        EXPECT_EQ(hit.header("cache-status"), "lumiclip; hit");
    }
    EXPECT_FALSE(loading->isFinished());
    // The page would load for a minute; the grace is a second.
    ::kill(static_cast<pid_t>(serve.pid()), SIGTERM);
    const Answer cut = client.wait(loading).first();
    EXPECT_EQ(cut.status, 503) << cut.body.toStdString();
    EXPECT_EQ(kind(cut), QStringLiteral("interrupted"));
    EXPECT_EQ(serve.stop(0), 0) << serve.err().toStdString();
    EXPECT_TRUE(waitUntil([&] { return countProcessesMatching(serve.runtimeDir()) == 0; }, 5000));
}

TEST_F(Serve, ABrowserThatDiesFailsOnlyItsRequestsAndTheNextGetAFreshOne) {
    ASSERT_TRUE(serve.start(allowPages())) << serve.err().toStdString();
    QNetworkReply* onIt =
        client.send("GET", serve.capture(pages->url(QStringLiteral("/stall")),
                                         {{QStringLiteral("timeout"), QStringLiteral("3")}}));
    ASSERT_TRUE(waitUntil([&] { return pages->hits(QStringLiteral("/stall")) == 1; }, 20000));
    // Every process of the browser, killed: its profile lies in the server's runtime folder.
    QProcess::execute(QStringLiteral("pkill"),
                      {QStringLiteral("-KILL"), QStringLiteral("-f"), serve.runtimeDir()});
    const Answer lost = client.wait(onIt).first();
    EXPECT_TRUE(lost.status == 502 || lost.status == 504) << lost.status << " " << lost.body.toStdString();
    const Answer next = client.get(serve.capture(pages->url(QStringLiteral("/green"))));
    EXPECT_EQ(next.status, 200) << next.body.toStdString();
    EXPECT_EQ(client.get(serve.url(QStringLiteral("/healthz"))).status, 200);
    const Answer metrics = client.get(serve.url(QStringLiteral("/metrics")));
    EXPECT_TRUE(metrics.body.contains("lumiclip_serve_browser_restarts_total 1"))
        << metrics.body.toStdString();
    EXPECT_EQ(serve.stop(), 0);
}

TEST_F(Serve, PagesAreCapturedOnABrowserElsewhereAndCheckedThereToo) {
    RemoteShell shell;
    ASSERT_TRUE(shell.start());
    ASSERT_TRUE(serve.start(allowPages() + QStringList{QStringLiteral("--browser"), shell.httpUrl()}))
        << serve.err().toStdString();
    const Answer answer = client.get(serve.capture(pages->url(QStringLiteral("/green")),
                                                   {{QStringLiteral("format"), QStringLiteral("png")}}));
    ASSERT_EQ(answer.status, 200) << answer.body.toStdString() << serve.err().toStdString();
    EXPECT_EQ(QImage::fromData(answer.body).pixelColor(90, 69), kGreen);
    // No browser of its own was started.
    EXPECT_EQ(countProcessesMatching(serve.runtimeDir()), 0);
    // The guard holds there as well: a redirect to a port not allowed is refused as the browser follows it.
    HttpResponse away;
    away.status = 302;
    away.headers = {
        {"Location", QStringLiteral("http://127.0.0.1:%1/green").arg(pages->port() + 1).toUtf8()}};
    pages->route(QStringLiteral("/away"), away);
    const Answer refused = client.get(serve.capture(pages->url(QStringLiteral("/away"))));
    EXPECT_EQ(refused.status, 403) << refused.body.toStdString();
    EXPECT_EQ(kind(refused), QStringLiteral("forbidden_address"));
    EXPECT_EQ(serve.stop(), 0);
}
