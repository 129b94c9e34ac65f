// Contexts prepared ahead against a scripted browser: each serves one capture and is disposed after,
// what is not used is disposed, and a failure while one waits never costs a page.
#include "core/browser/browser.h"
#include "core/capture/page_capture.h"
#include "core/capture/target_pool.h"

#include "support/scripted_browser.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QSet>

#include <functional>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

QString method(const QJsonObject& call) {
    return call.value(QStringLiteral("method")).toString();
}

QString contextOf(const QJsonObject& call) {
    return call.value(QStringLiteral("params"))
        .toObject()
        .value(QStringLiteral("browserContextId"))
        .toString();
}

// A browser whose every context, target and session has a number of its own (ctx1, T1, S1, ...); a page
// loads as soon as it is navigated. onCall may take any call first (true: answered or held).
class TargetPoolScripted : public ::testing::Test {
protected:
    void SetUp() override {
        options.url = QStringLiteral("http://example.test/");
        options.limits.pageMs = 5000;
        auto launcher = std::make_unique<ScriptedLauncher>(
            [this](ScriptedBrowser& peer, const QJsonObject& call) { answer(peer, call); });
        m_launcher = launcher.get();
        browser = std::make_unique<Browser>(std::move(launcher));
        QString error;
        ASSERT_TRUE(browser->ensureStarted(&error));
        pool = std::make_unique<TargetPool>(*browser, options);
    }

    void answer(ScriptedBrowser& peer, const QJsonObject& call) {
        if (onCall && onCall(peer, call)) {
            return;
        }
        const QString m = method(call);
        const QString session = call.value(QStringLiteral("sessionId")).toString();
        if (m == QStringLiteral("Target.createBrowserContext")) {
            peer.reply(call,
                       {{QStringLiteral("browserContextId"), QStringLiteral("ctx%1").arg(++m_contexts)}});
        } else if (m == QStringLiteral("Target.createTarget")) {
            peer.reply(call, {{QStringLiteral("targetId"), QStringLiteral("T%1").arg(++m_targets)}});
        } else if (m == QStringLiteral("Target.attachToTarget")) {
            const QString target =
                call.value(QStringLiteral("params")).toObject().value(QStringLiteral("targetId")).toString();
            peer.reply(call, {{QStringLiteral("sessionId"), QStringLiteral("S") + target.mid(1)}});
        } else if (m == QStringLiteral("Page.navigate")) {
            const QString frame = QStringLiteral("T") + session.mid(1);
            navigatedSessions.append(session);
            peer.reply(call, {{QStringLiteral("frameId"), frame},
                              {QStringLiteral("loaderId"), QStringLiteral("L")}});
            peer.event(QStringLiteral("Page.lifecycleEvent"),
                       {{QStringLiteral("frameId"), frame},
                        {QStringLiteral("loaderId"), QStringLiteral("L")},
                        {QStringLiteral("name"), QStringLiteral("load")}},
                       session);
        } else if (m == QStringLiteral("Runtime.evaluate")) {
            peer.reply(
                call,
                {{QStringLiteral("result"),
                  QJsonObject{{QStringLiteral("value"), QJsonObject{{QStringLiteral("body"), true}}}}}});
        } else if (m == QStringLiteral("Page.captureScreenshot")) {
            peer.reply(call, {{QStringLiteral("data"), QString::fromLatin1(QByteArray("png").toBase64())}});
        } else {
            peer.reply(call);
        }
    }

    // Runs one capture, drawing from the pool, to its end.
    bool capture(const CaptureRequest& with) {
        PageCapture page(*browser, with);
        page.setTargetPool(pool.get());
        page.start();
        const bool finished = waitUntil([&page] { return page.isFinished(); }, 10000);
        lastOk = page.outcome().ok;
        lastError = page.outcome().error;
        waitUntil([] { return false; }, 20);  // the disposal goes out
        return finished;
    }

    QStringList contexts(const char* which) {
        QStringList ids;
        for (const QJsonObject& call : peer().callsOf(QString::fromLatin1(which))) {
            ids.append(contextOf(call));
        }
        return ids;
    }
    QStringList created() {
        QStringList ids;
        for (int i = 1; i <= m_contexts; ++i) {
            ids.append(QStringLiteral("ctx%1").arg(i));
        }
        return ids;
    }
    bool prepared(int count) {
        return waitUntil(
            [this, count] {
                return peer().callsOf(QStringLiteral("Emulation.setDeviceMetricsOverride")).size() >= count;
            },
            5000);
    }

    ScriptedBrowser& peer() { return *m_launcher->peer; }

    CaptureRequest options;
    std::unique_ptr<Browser> browser;
    std::unique_ptr<TargetPool> pool;
    std::function<bool(ScriptedBrowser&, const QJsonObject&)> onCall;
    QStringList navigatedSessions;
    bool lastOk = false;
    QString lastError;

private:
    ScriptedLauncher* m_launcher = nullptr;
    int m_contexts = 0;
    int m_targets = 0;
};

}  // namespace

TEST_F(TargetPoolScripted, APreparedContextServesOneCaptureAndEveryCaptureHasAFreshOne) {
    pool->prepare(1);
    ASSERT_TRUE(prepared(1));
    ASSERT_TRUE(capture(options));
    EXPECT_TRUE(lastOk) << lastError.toStdString();
    EXPECT_EQ(pool->waiting(), 0);
    // The capture used the prepared context instead of opening one.
    EXPECT_EQ(created(), QStringList{QStringLiteral("ctx1")});
    EXPECT_EQ(navigatedSessions, QStringList{QStringLiteral("S1")});

    // Nothing waits now: the next capture opens a context of its own; then one prepared again.
    ASSERT_TRUE(capture(options));
    pool->prepare(1);
    ASSERT_TRUE(prepared(3));
    ASSERT_TRUE(capture(options));
    EXPECT_TRUE(lastOk) << lastError.toStdString();
    EXPECT_EQ(navigatedSessions,
              (QStringList{QStringLiteral("S1"), QStringLiteral("S2"), QStringLiteral("S3")}));
    EXPECT_EQ(contexts("Target.disposeBrowserContext"), created());
}

// The pool compares the page set-up as a whole: what the capture does after the page is set up (its
// waits, what it shoots, the image) does not matter; every part of the set-up does.
TEST_F(TargetPoolScripted, APreparedContextServesOnlyCapturesOfAnEqualPageSetUp) {
    pool->prepare(1);
    ASSERT_TRUE(prepared(1));
    CaptureRequest other = options;
    other.image = {40, 30, QStringLiteral("PNG"), 0, {}};
    other.wait.delayMs = 1;
    other.shot.hide = QStringList{QStringLiteral("#banner")};
    ASSERT_TRUE(capture(other));
    EXPECT_TRUE(lastOk) << lastError.toStdString();
    EXPECT_EQ(created(), QStringList{QStringLiteral("ctx1")});

    void (*const setUps[])(CaptureRequest&) = {
        [](CaptureRequest& r) {
            r.page.headers.append({QStringLiteral("X-A"), QStringLiteral("1")});
        },
        [](CaptureRequest& r) { r.page.dark = true; }, [](CaptureRequest& r) { r.page.scaleFactor = 2; },
        [](CaptureRequest& r) { r.page.userAgent = QStringLiteral("agent"); }};
    int contextsSoFar = 1;
    for (auto* change : setUps) {
        pool->prepare(1);
        ASSERT_TRUE(prepared(contextsSoFar + 1));
        CaptureRequest changed = options;
        change(changed);
        ASSERT_TRUE(capture(changed));
        // The waiting context was not taken: the capture opened one of its own.
        EXPECT_EQ(pool->waiting(), 1);
        contextsSoFar += 2;
        EXPECT_EQ(created().size(), contextsSoFar);
        pool->prepare(0);
    }
}

TEST_F(TargetPoolScripted, ContextsNobodyTakesAreDisposedWhenFewerAreWantedAndWhenThePoolGoes) {
    pool->prepare(3);
    ASSERT_TRUE(prepared(3));
    pool->prepare(1);
    EXPECT_EQ(pool->waiting(), 1);
    waitUntil([] { return false; }, 20);
    EXPECT_EQ(contexts("Target.disposeBrowserContext").size(), 2);

    // A capture set up otherwise (another agent) is not served a context made for the pool's options.
    CaptureRequest other = options;
    other.page.userAgent = QStringLiteral("Other/1");
    ASSERT_TRUE(capture(other));
    EXPECT_EQ(navigatedSessions, QStringList{QStringLiteral("S4")});
    EXPECT_EQ(pool->waiting(), 1);

    pool.reset();
    waitUntil([] { return false; }, 20);
    QStringList disposed = contexts("Target.disposeBrowserContext");
    disposed.sort();
    EXPECT_EQ(disposed, created());
}

TEST_F(TargetPoolScripted, AFailureWhileAContextWaitsDropsItAndThePageOpensItsOwn) {
    const struct {
        const char* name;
        // What goes wrong with the context prepared for the pool.
        std::function<bool(ScriptedBrowser&, const QJsonObject&)> fault;
    } cases[] = {
        {"set-up refused",
         [](ScriptedBrowser& peer, const QJsonObject& call) {
             if (method(call) == QStringLiteral("Network.enable")) {
                 peer.error(call, QStringLiteral("Internal error"));
                 return true;
             }
             return false;
         }},
        {"renderer crashed",
         [](ScriptedBrowser& peer, const QJsonObject& call) {
             if (method(call) == QStringLiteral("Emulation.setDeviceMetricsOverride")) {
                 peer.reply(call);
                 peer.event(QStringLiteral("Inspector.targetCrashed"), {},
                            call.value(QStringLiteral("sessionId")).toString());
                 return true;
             }
             return false;
         }},
    };
    for (const auto& c : cases) {
        navigatedSessions.clear();
        onCall = c.fault;
        pool->prepare(1);
        ASSERT_TRUE(waitUntil([this] { return pool->waiting() == 0; }, 5000)) << c.name;
        onCall = {};
        ASSERT_TRUE(capture(options)) << c.name;
        EXPECT_TRUE(lastOk) << c.name << ": " << lastError.toStdString();
        EXPECT_EQ(navigatedSessions.size(), 1) << c.name;
    }
    // The failed contexts were disposed like the used ones.
    QStringList disposed = contexts("Target.disposeBrowserContext");
    disposed.sort();
    EXPECT_EQ(disposed, created());
}

TEST_F(TargetPoolScripted, AContextTakenWhileStillPreparedIsNavigatedOnceReady) {
    QList<QJsonObject> held;
    onCall = [&held](ScriptedBrowser&, const QJsonObject& call) {
        if (method(call) == QStringLiteral("Page.enable")) {
            held.append(call);
            return true;
        }
        return false;
    };
    pool->prepare(1);
    ASSERT_TRUE(waitUntil([&held] { return !held.isEmpty(); }, 5000));
    PageCapture page(*browser, options);
    page.setTargetPool(pool.get());
    page.start();
    waitUntil([] { return false; }, 50);
    EXPECT_TRUE(navigatedSessions.isEmpty());
    EXPECT_EQ(created().size(), 1);
    peer().reply(held.takeFirst());
    ASSERT_TRUE(waitUntil([&page] { return page.isFinished(); }, 5000));
    EXPECT_TRUE(page.outcome().ok) << page.outcome().error.toStdString();
    EXPECT_EQ(navigatedSessions, QStringList{QStringLiteral("S1")});
}

TEST_F(TargetPoolScripted, WhenTheBrowserGoesTheWaitingContextsGoWithItAndNoneIsMadeForANewOneUnasked) {
    pool->prepare(2);
    ASSERT_TRUE(prepared(2));
    peer().hangUp(QStringLiteral("browser pipe closed"));
    ASSERT_TRUE(waitUntil([this] { return pool->waiting() == 0; }, 5000));
    // The next capture starts a new browser and opens its own context there.
    ASSERT_TRUE(capture(options));
    EXPECT_TRUE(lastOk) << lastError.toStdString();
    EXPECT_EQ(peer().callsOf(QStringLiteral("Target.createBrowserContext")).size(), 1);
}
