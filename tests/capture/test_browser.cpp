// The shared browser's own pages: it keeps none while idle, and a capture leaves none behind.
#include "core/browser/browser.h"
#include "core/capture/page_capture.h"
#include "core/cdp/cdp_connection.h"

#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QJsonArray>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// The browser's page targets, or -1 when it did not answer.
int pageTargets() {
    CdpConnection* connection = Browser::shared().connection();
    if (!connection) {
        return -1;
    }
    bool answered = false;
    int pages = -1;
    QObject context;
    connection->call(QStringLiteral("Target.getTargets"), {}, {}, 10000, &context,
                     [&answered, &pages](const CdpReply& reply) {
                         answered = true;
                         if (!reply.ok) {
                             return;
                         }
                         pages = 0;
                         const QJsonArray infos = reply.result.value(QStringLiteral("targetInfos")).toArray();
                         for (const QJsonValue& info : infos) {
                             pages += info.toObject().value(QStringLiteral("type")).toString() ==
                                      QStringLiteral("page");
                         }
                     });
    waitUntil([&answered] { return answered; }, 15000);
    return pages;
}

class SharedBrowser : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        ASSERT_TRUE(Browser::shared().ensureStarted(&error)) << error.toStdString();
    }
};

}  // namespace

TEST_F(SharedBrowser, AnIdleHeadlessShellHoldsNoPage) {
    if (!Browser::shared().isHeadlessShell()) {
        GTEST_SKIP() << "the full browser keeps a start page";
    }
    // A start page would be a renderer kept alive for the browser's whole life.
    EXPECT_EQ(pageTargets(), 0);
}

TEST_F(SharedBrowser, ACaptureLeavesNoPageBehind) {
    TestHttpServer server;
    server.routeHtml(QStringLiteral("/"), "<html><body>page</body></html>");
    const int before = pageTargets();
    ASSERT_GE(before, 0);
    for (int i = 0; i < 3; ++i) {
        CaptureOptions options;
        options.url = server.url(QStringLiteral("/"));
        PageCapture capture(Browser::shared(), options);
        capture.start();
        ASSERT_TRUE(waitUntil([&capture] { return capture.isFinished(); }, 30000));
        ASSERT_TRUE(capture.outcome().ok) << capture.outcome().error.toStdString();
    }
    // The contexts are disposed without waiting for the answer: give the browser a moment.
    EXPECT_TRUE(waitUntil([before] { return pageTargets() == before; }, 5000)) << pageTargets();
}
