// The batch's browsers: spread, checked, lost, tried again with back-off and given up, on scripted peers.
#include "core/browser/browser.h"
#include "core/browser/browser_launcher.h"
#include "core/engine/browser_endpoints.h"
#include "support/scripted_browser.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QPointer>

#include <memory>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// A browser elsewhere that answers its check while `answers` holds, and hangs up at once otherwise.
class FlakyLauncher final : public BrowserLauncher {
public:
    CdpTransport* launch(QString*) override {
        ++launches;
        peer = new ScriptedBrowser;
        if (!answers) {
            peer->hangUp(QStringLiteral("Connection refused"));
        }
        peer->setScript([answer = answers](ScriptedBrowser& browser, const QJsonObject& call) {
            if (answer) {
                browser.reply(call, {{QStringLiteral("product"), QStringLiteral("Scripted/1")}});
            }
        });
        return peer;
    }
    bool isRunning() override { return true; }
    void stop() override {}
    bool isHeadlessShell() const override { return true; }
    pid_t pid() const override { return -1; }

    bool answers = true;
    int launches = 0;
    QPointer<ScriptedBrowser> peer;
};

class Endpoints : public ::testing::Test {
protected:
    FlakyLauncher& add(const QString& name, bool answers = true) {
        auto launcher = std::make_unique<FlakyLauncher>();
        launcher->answers = answers;
        FlakyLauncher& ref = *launcher;
        browsers.push_back(std::make_unique<Browser>(std::move(launcher)));
        list.append({browsers.back().get(), name});
        return ref;
    }
    // Quick back-off, so that a test sees every try.
    static EndpointRetryPolicy quick() { return {3, 50, 200, 2000}; }

    std::vector<std::unique_ptr<Browser>> browsers;
    QList<BrowserEndpoints::Endpoint> list;
};

}  // namespace

TEST_F(Endpoints, PagesGoToCheckedEndpointsFewestFirstUpToTheJobsOfEach) {
    add(QStringLiteral("ws://a"));
    add(QStringLiteral("ws://b"));
    BrowserEndpoints endpoints(list, 2, quick());
    endpoints.start();
    EXPECT_EQ(endpoints.acquire(), -1) << "no page before the check answered";
    ASSERT_TRUE(waitUntil([&] { return !endpoints.isDown(0) && !endpoints.isDown(1); }, 2000));
    QList<int> taken;
    for (int i = 0; i < 5; ++i) {
        taken.append(endpoints.acquire());
    }
    EXPECT_EQ(taken.count(0), 2);
    EXPECT_EQ(taken.count(1), 2);
    EXPECT_EQ(taken.last(), -1);
    EXPECT_NE(taken[0], taken[1]) << "spread, not filled one by one";
    endpoints.release(1);
    EXPECT_EQ(endpoints.acquire(), 1);
    EXPECT_FALSE(endpoints.anyNeverAnswered());
}

TEST_F(Endpoints, ALostEndpointIsTriedAgainAfterABackOffAndTakesPagesWhenBack) {
    FlakyLauncher& flaky = add(QStringLiteral("ws://flaky"));
    add(QStringLiteral("ws://steady"));
    EndpointRetryPolicy policy = quick();
    policy.tries = 5;
    BrowserEndpoints endpoints(list, 1, policy);
    int changes = 0;
    QObject::connect(&endpoints, &BrowserEndpoints::changed, &endpoints, [&] { ++changes; });
    endpoints.start();
    ASSERT_TRUE(waitUntil([&] { return !endpoints.isDown(0); }, 2000));

    flaky.answers = false;
    flaky.peer->hangUp(QStringLiteral("gone"));
    ASSERT_TRUE(waitUntil([&] { return endpoints.losses(0) == 1; }, 2000));
    EXPECT_TRUE(endpoints.isDown(0));
    EXPECT_EQ(endpoints.acquire(), 1);
    EXPECT_EQ(endpoints.acquire(), -1) << "nothing goes to the lost one";
    // Two refused tries (50 ms, then 100 ms after), then it answers again.
    ASSERT_TRUE(waitUntil([&] { return flaky.launches >= 3; }, 2000));
    flaky.answers = true;
    QElapsedTimer clock;
    clock.start();
    const int before = changes;
    ASSERT_TRUE(waitUntil([&] { return changes > before; }, 2000));
    EXPECT_GE(clock.elapsed(), 150) << "the third try waits twice as long as the second";
    EXPECT_FALSE(endpoints.isDown(0));
    EXPECT_EQ(endpoints.acquire(), 0);
    EXPECT_FALSE(endpoints.exhausted());
}

TEST_F(Endpoints, AnEndpointThatStaysLostIsGivenUpAndThenTheBatchIsOutOfBrowsers) {
    FlakyLauncher& only = add(QStringLiteral("ws://only"));
    BrowserEndpoints endpoints(list, 1, quick());
    endpoints.start();
    ASSERT_TRUE(waitUntil([&] { return !endpoints.isDown(0); }, 2000));
    only.answers = false;
    only.peer->hangUp(QStringLiteral("gone"));
    ASSERT_TRUE(waitUntil([&] { return endpoints.exhausted(); }, 3000));
    EXPECT_EQ(only.launches, 1 + 2) << "the first try and two more";
    EXPECT_TRUE(endpoints.exhaustedReason().contains(QStringLiteral("ws://only: Connection refused")))
        << endpoints.exhaustedReason().toStdString();
    EXPECT_FALSE(endpoints.anyNeverAnswered());
    EXPECT_EQ(endpoints.acquire(), -1);
}

TEST_F(Endpoints, WhenNoEndpointEverAnsweredEveryOneIsGivenUpAtOnce) {
    add(QStringLiteral("ws://wrong"), false);
    add(QStringLiteral("ws://also-wrong"), false);
    BrowserEndpoints endpoints(list, 2);  // the real back-off: giving up must not wait for it
    endpoints.start();
    ASSERT_TRUE(waitUntil([&] { return endpoints.exhausted(); }, 1000));
    EXPECT_TRUE(endpoints.anyNeverAnswered());
    EXPECT_TRUE(endpoints.exhaustedReason().contains(QStringLiteral("ws://wrong")));
    EXPECT_TRUE(endpoints.exhaustedReason().contains(QStringLiteral("ws://also-wrong")));
}

TEST_F(Endpoints, AWrongEndpointBesideAGoodOneKeepsBeingTriedAndIsNamedAtTheEnd) {
    FlakyLauncher& wrong = add(QStringLiteral("ws://wrong"), false);
    add(QStringLiteral("ws://good"));
    BrowserEndpoints endpoints(list, 1, quick());
    endpoints.start();
    ASSERT_TRUE(waitUntil([&] { return endpoints.acquire() == 1; }, 2000));
    ASSERT_TRUE(waitUntil([&] { return wrong.launches == 3; }, 2000));
    waitUntil([] { return false; }, 400);
    EXPECT_EQ(wrong.launches, 3) << "given up after its tries";
    EXPECT_FALSE(endpoints.exhausted());
    EXPECT_TRUE(endpoints.anyNeverAnswered());
}
