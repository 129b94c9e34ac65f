// lumiclip-serve as a process: captures over HTTP from pages on 127.0.0.1, the cache and its headers,
// shared captures, refusals with their kind, who may ask, and limits on clients.
#include "serve/access_check.h"
#include "serve_fixture.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpSocket>

using namespace lumiclip;
using namespace lumiclip::test;

TEST_F(Serve, ACaptureIsCachedRevalidatedAndKeptAcrossRestarts) {
    ASSERT_TRUE(serve.start(allowPages())) << serve.err().toStdString();
    const QString address = pages->url(QStringLiteral("/green"));
    const QString asked = serve.capture(address, {{QStringLiteral("format"), QStringLiteral("png")}});

    const Answer miss = client.get(asked);
    ASSERT_EQ(miss.status, 200) << miss.body.toStdString() << serve.err().toStdString();
    EXPECT_EQ(miss.header("content-type"), "image/png");
    EXPECT_EQ(miss.header("cache-status"), "lumiclip; fwd=miss; stored");
    EXPECT_EQ(miss.header("cache-control"), "public, max-age=86400");
    EXPECT_FALSE(miss.header("etag").isEmpty());
    const QImage image = QImage::fromData(miss.body);
    EXPECT_EQ(image.size(), QSize(180, 138));
    EXPECT_EQ(image.pixelColor(90, 69), kGreen);

    const Answer hit = client.get(asked);
    ASSERT_EQ(hit.status, 200);
    EXPECT_EQ(hit.header("cache-status"), "lumiclip; hit");
    EXPECT_EQ(hit.header("etag"), miss.header("etag"));
    EXPECT_FALSE(hit.header("age").isEmpty());
    EXPECT_EQ(hit.body, miss.body);
    EXPECT_EQ(pages->hits(QStringLiteral("/green")), 1);

    // A hit too (the second; HEAD below is the third).
    const Answer unchanged = client.get(asked, {{"If-None-Match", miss.header("etag")}});
    EXPECT_EQ(unchanged.status, 304);
    EXPECT_TRUE(unchanged.body.isEmpty());
    // HEAD: the headers of the image, not the image.
    const Answer head = client.wait(client.send("HEAD", asked)).first();
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.header("content-length"), QByteArray::number(miss.body.size()));
    EXPECT_TRUE(head.body.isEmpty());
    // Another rendering of the same page is another image.
    const Answer larger =
        client.get(serve.capture(address, {{QStringLiteral("format"), QStringLiteral("png")},
                                           {QStringLiteral("size"), QStringLiteral("360x276")}}));
    EXPECT_EQ(larger.status, 200);
    EXPECT_EQ(QImage::fromData(larger.body).size(), QSize(360, 276));
    EXPECT_EQ(pages->hits(QStringLiteral("/green")), 2);

    const Answer health = client.get(serve.url(QStringLiteral("/healthz")));
    EXPECT_EQ(health.status, 200);
    const Answer metrics = client.get(serve.url(QStringLiteral("/metrics")));
    EXPECT_EQ(metrics.status, 200);
    // At least the three hits above (a client may ask again on a new connection when its kept-alive one
    // closes under it).
    static const QRegularExpression hitsLine(QStringLiteral("\\nlumiclip_serve_cache_hits_total (\\d+)\\n"));
    const QRegularExpressionMatch hits = hitsLine.match(QString::fromUtf8(metrics.body));
    ASSERT_TRUE(hits.hasMatch()) << metrics.body.toStdString();
    EXPECT_GE(hits.captured(1).toInt(), 3) << metrics.body.toStdString();
    EXPECT_TRUE(metrics.body.contains("lumiclip_serve_requests_total{code=\"200\"}"));
    EXPECT_TRUE(metrics.body.contains("lumiclip_serve_capture_seconds_count"));

    ASSERT_EQ(serve.stop(SIGTERM), 0) << serve.err().toStdString();
    // The cache outlives the process.
    ServeProcess again(dir.path());
    ASSERT_TRUE(again.start(allowPages())) << again.err().toStdString();
    const Answer kept =
        client.get(again.capture(address, {{QStringLiteral("format"), QStringLiteral("png")}}));
    EXPECT_EQ(kept.status, 200);
    EXPECT_EQ(kept.header("cache-status"), "lumiclip; hit");
    EXPECT_EQ(pages->hits(QStringLiteral("/green")), 2);
    EXPECT_EQ(again.stop(SIGINT), 0);
}

TEST_F(Serve, IdenticalRequestsInFlightShareOneCapture) {
    ASSERT_TRUE(serve.start(allowPages())) << serve.err().toStdString();
    const QString asked = serve.capture(pages->url(QStringLiteral("/slow")));
    QList<QNetworkReply*> replies;
    for (int i = 0; i < 3; ++i) {
        replies.append(client.send("GET", asked));
    }
    const QList<Answer> answers = client.wait(replies);
    int collapsed = 0;
    for (const Answer& answer : answers) {
        EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
        collapsed += answer.header("cache-status").contains("collapsed") ? 1 : 0;
        EXPECT_EQ(answer.body, answers.first().body);
    }
    EXPECT_EQ(pages->hits(QStringLiteral("/slow")), 1);
    EXPECT_EQ(collapsed, 2);
}

TEST_F(Serve, BadRequestsAreRefusedWithTheirStatusAndKind) {
    ASSERT_TRUE(serve.start(allowPages())) << serve.err().toStdString();
    const QString green = pages->url(QStringLiteral("/green"));
    const struct {
        QString target;
        int status;
        const char* kind;
        const char* says;
    } cases[] = {
        // A typo must not silently give the default.
        {serve.capture(green, {{QStringLiteral("sise"), QStringLiteral("10x10")}}), 400, "bad_request",
         "sise"},
        {serve.url(QStringLiteral("/capture?size=10x10")), 400, "bad_request", "url is required"},
        {serve.capture(green, {{QStringLiteral("size"), QStringLiteral("10x10")},
                               {QStringLiteral("size"), QStringLiteral("20x20")}}),
         400, "bad_request", "twice"},
        {serve.capture(green, {{QStringLiteral("size"), QStringLiteral("huge")}}), 400, "bad_request",
         "size"},
        {serve.capture(green, {{QStringLiteral("full_page"), QStringLiteral("maybe")}}), 400, "bad_request",
         "full_page"},
        {serve.capture(green, {{QStringLiteral("javascript"), QStringLiteral("/etc/passwd")}}), 400,
         "bad_request", "this machine's files"},
        {serve.capture(QStringLiteral("http://example.org/") + QString(9000, QLatin1Char('a'))), 414,
         "bad_request", "longer than"},
        {serve.capture(QStringLiteral("file:///etc/passwd")), 403, "forbidden_address", "file"},
        // Private addresses however they are spelt, the page host's other ports included.
        {serve.capture(QStringLiteral("http://169.254.169.254/latest/meta-data/")), 403, "forbidden_address",
         ""},
        {serve.capture(QStringLiteral("http://2130706433:%1/green").arg(pages->port() + 1)), 403,
         "forbidden_address", ""},
        {serve.capture(QStringLiteral("http://[::ffff:127.0.0.1]:%1/green").arg(pages->port() + 1)), 403,
         "forbidden_address", ""},
        {serve.capture(QStringLiteral("http://localhost:%1/green").arg(pages->port())), 403,
         "forbidden_address", ""},
        {serve.capture(green, {{QStringLiteral("proxy"), QStringLiteral("http://10.0.0.1:3128")}}), 403,
         "forbidden_address", "proxy"},
        {serve.url(QStringLiteral("/nothing")), 404, "not_found", ""},
    };
    for (const auto& c : cases) {
        const Answer answer = client.get(c.target);
        EXPECT_EQ(answer.status, c.status)
            << c.target.left(200).toStdString() << " " << answer.body.toStdString();
        EXPECT_EQ(kind(answer), QString::fromLatin1(c.kind)) << c.target.left(200).toStdString();
        EXPECT_TRUE(error(answer).contains(QString::fromLatin1(c.says))) << answer.body.toStdString();
        EXPECT_EQ(answer.header("content-type"), "application/json");
    }
    EXPECT_EQ(client.post(serve.url(QStringLiteral("/metrics")), "{}").status, 405);
    EXPECT_EQ(client.post(serve.url(QStringLiteral("/capture")), "[1]").status, 400);
    // None of it reached a page.
    EXPECT_EQ(pages->totalHits(), 0);
}

TEST_F(Serve, PagesThatFailAreAnsweredWithTheGatewaysStatuses) {
    ASSERT_TRUE(serve.start(allowPages())) << serve.err().toStdString();
    const Answer missing = client.get(serve.capture(pages->url(QStringLiteral("/missing"))));
    EXPECT_EQ(missing.status, 502) << missing.body.toStdString();
    EXPECT_EQ(kind(missing), QStringLiteral("http_status"));
    const Answer selector = client.get(serve.capture(
        pages->url(QStringLiteral("/green")), {{QStringLiteral("selector"), QStringLiteral("#none")}}));
    EXPECT_EQ(selector.status, 502);
    EXPECT_EQ(kind(selector), QStringLiteral("selector"));
    const Answer stalled = client.get(serve.capture(pages->url(QStringLiteral("/stall")),
                                                    {{QStringLiteral("timeout"), QStringLiteral("2")}}));
    EXPECT_EQ(stalled.status, 504);
    EXPECT_EQ(kind(stalled), QStringLiteral("timeout"));
    EXPECT_EQ(stalled.header("cache-control"), "no-store");
    // The same parameters as a JSON object.
    const Answer posted =
        client.post(serve.url(QStringLiteral("/capture")),
                    QJsonDocument(QJsonObject{{QStringLiteral("url"), pages->url(QStringLiteral("/green"))},
                                              {QStringLiteral("size"), QStringLiteral("90x69")},
                                              {QStringLiteral("format"), QStringLiteral("png")}})
                        .toJson());
    EXPECT_EQ(posted.status, 200) << posted.body.toStdString();
    EXPECT_EQ(QImage::fromData(posted.body).size(), QSize(90, 69));
}

TEST_F(Serve, TokensAndSignedAddressesDecideWhoMayAsk) {
    writeFile(dir.filePath(QStringLiteral("tokens")), "first\nsecond\n");
    writeFile(dir.filePath(QStringLiteral("key")), "k3y\n");
    ASSERT_TRUE(serve.start(allowPages() + QStringList{QStringLiteral("--token-file"),
                                                       dir.filePath(QStringLiteral("tokens")),
                                                       QStringLiteral("--signing-key-file"),
                                                       dir.filePath(QStringLiteral("key"))}))
        << serve.err().toStdString();
    const Answer metrics = client.get(serve.url(QStringLiteral("/metrics")));
    EXPECT_EQ(metrics.status, 401);
    EXPECT_EQ(metrics.header("www-authenticate"), "Bearer");
    EXPECT_EQ(client.get(serve.url(QStringLiteral("/metrics")), {{"Authorization", "Bearer third"}}).status,
              403);
    EXPECT_EQ(client.get(serve.url(QStringLiteral("/metrics")), {{"Authorization", "Bearer second"}}).status,
              200);
    EXPECT_EQ(client.get(serve.url(QStringLiteral("/healthz"))).status, 200);
    // The page a browser opens cannot send a token: it asks for one for its captures.
    const Answer page = client.get(serve.url(QStringLiteral("/")));
    EXPECT_EQ(page.status, 200);
    EXPECT_TRUE(page.body.contains("id=\"token\" type=\"password\" >")) << page.body.left(300).toStdString();

    const QByteArray query =
        "url=" + QUrl::toPercentEncoding(pages->url(QStringLiteral("/green"))) + "&size=90x69";
    const QString unsigned_ = serve.url(QStringLiteral("/capture?") + QString::fromLatin1(query));
    EXPECT_EQ(client.get(unsigned_).status, 403);
    const QString wrong =
        unsigned_ + QStringLiteral("&sig=") + QString::fromLatin1(AccessCheck::sign("other", query));
    EXPECT_EQ(client.get(wrong).status, 403);
    const QString good =
        unsigned_ + QStringLiteral("&sig=") + QString::fromLatin1(AccessCheck::sign("k3y", query));
    const Answer signedAnswer = client.get(good);
    EXPECT_EQ(signedAnswer.status, 200) << signedAnswer.body.toStdString();
    // A token stands for a signature; a wrong token does not pass with a right signature either.
    EXPECT_EQ(client.get(unsigned_, {{"Authorization", "Bearer first"}}).status, 200);
    EXPECT_EQ(client.get(good, {{"Authorization", "Bearer third"}}).status, 403);
}

TEST_F(Serve, AFullQueueIsAnsweredAtOnceWithRetryAfter) {
    ASSERT_TRUE(serve.start(allowPages() + QStringList{QStringLiteral("-j"), QStringLiteral("1"),
                                                       QStringLiteral("--queue"), QStringLiteral("0")}))
        << serve.err().toStdString();
    QNetworkReply* first = client.send("GET", serve.capture(pages->url(QStringLiteral("/slow?1"))));
    ASSERT_TRUE(waitUntil([&] { return pages->hits(QStringLiteral("/slow")) == 1; }, 20000));
    const Answer turnedAway = client.get(serve.capture(pages->url(QStringLiteral("/slow?2"))));
    EXPECT_EQ(turnedAway.status, 429);
    EXPECT_EQ(turnedAway.header("retry-after"), "5");
    EXPECT_EQ(kind(turnedAway), QStringLiteral("queue_full"));
    EXPECT_EQ(client.wait(first).first().status, 200);
}

TEST_F(Serve, ASlowClientIsCutOffAndHoldsUpNobody) {
    ASSERT_TRUE(
        serve.start(allowPages() + QStringList{QStringLiteral("--request-timeout"), QStringLiteral("2")}))
        << serve.err().toStdString();
    QTcpSocket slow;
    slow.connectToHost(QHostAddress::LocalHost, serve.port());
    ASSERT_TRUE(slow.waitForConnected(5000));
    const QByteArray request =
        "GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: " + QByteArray(200, 'x') + "\r\n\r\n";
    QElapsedTimer clock;
    clock.start();
    int sent = 0;
    bool othersServed = true;
    while (slow.state() == QAbstractSocket::ConnectedState && sent < request.size() &&
           clock.elapsed() < 15000) {
        slow.write(request.mid(sent++, 1));
        slow.waitForBytesWritten(1000);
        slow.waitForDisconnected(300);
        if (sent == 3) {
            // Meanwhile, everyone else is answered.
            QElapsedTimer other;
            other.start();
            othersServed =
                client.get(serve.url(QStringLiteral("/healthz"))).status == 200 && other.elapsed() < 2000;
        }
    }
    EXPECT_TRUE(othersServed);
    EXPECT_NE(slow.state(), QAbstractSocket::ConnectedState)
        << "still open after " << clock.elapsed() << " ms";
    EXPECT_LT(sent, request.size());
    EXPECT_LT(clock.elapsed(), 6000);

    // Heads and bodies beyond the limits.
    const Answer bigHeader =
        client.get(serve.url(QStringLiteral("/healthz")), {{"X-Big", QByteArray(40000, 'h')}});
    EXPECT_GE(bigHeader.status, 400);
    const Answer bigBody = client.post(serve.url(QStringLiteral("/capture")), QByteArray(100 * 1024, ' '));
    EXPECT_EQ(bigBody.status, 413);
    EXPECT_EQ(client.get(serve.url(QStringLiteral("/healthz"))).status, 200);
}

TEST_F(Serve, NeitherAPopupNorASharedWorkerOfAPageReachesAPrivateAddress) {
    // Both live outside the page's own target, where its requests are checked: the server's browser
    // has neither.
    TestHttpServer other;
    other.routeHtml(QStringLiteral("/popup"), "<html><body>popup</body></html>");
    pages->routeHtml(QStringLiteral("/opener"),
                     QByteArrayLiteral("<html><body style='background:rgb(0,160,0)'><script>"
                                       "window.open('") +
                         other.url(QStringLiteral("/popup")).toUtf8() +
                         QByteArrayLiteral("');"
                                           "try { new SharedWorker(URL.createObjectURL(new Blob(["
                                           "\"fetch('") +
                         other.url(QStringLiteral("/shared")).toUtf8() +
                         QByteArrayLiteral("')\"], {type: 'text/javascript'}))); } catch (e) {}"
                                           "</script></body></html>"));
    ASSERT_TRUE(serve.start(allowPages())) << serve.err().toStdString();
    const Answer answer = client.get(serve.capture(pages->url(QStringLiteral("/opener")),
                                                   {{QStringLiteral("delay"), QStringLiteral("1500")}}));
    EXPECT_EQ(answer.status, 200) << answer.body.toStdString();
    EXPECT_EQ(other.totalHits(), 0);
}
