// When the batch sets up the next page's context: while a page loads alone on its browser nothing is set
// up beside it (a new renderer would slow that load); once its wait is over, the next page's context is
// made, and the next page takes it.
#include "cli/batch_runner.h"
#include "core/browser/browser.h"

#include "support/scripted_browser.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryDir>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// Lets the event loop run for a while, for whatever would come meanwhile.
void runEventsFor(int ms) {
    waitUntil([] { return false; }, ms);
}

QString methodOf(const QJsonObject& call) {
    return call.value(QStringLiteral("method")).toString();
}

// Contexts, targets and sessions numbered as made (ctx1, T1, S1, ...); a page loads when the test says.
class BatchSpares : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        auto launcher = std::make_unique<ScriptedLauncher>(
            [this](ScriptedBrowser& peer, const QJsonObject& call) { answer(peer, call); });
        m_launcher = launcher.get();
        m_browser = std::make_unique<Browser>(std::move(launcher));
    }

    void answer(ScriptedBrowser& peer, const QJsonObject& call) {
        const QString m = methodOf(call);
        const QString session = call.value(QStringLiteral("sessionId")).toString();
        if (m == QStringLiteral("Target.createBrowserContext")) {
            peer.reply(call, {{QStringLiteral("browserContextId"), QStringLiteral("ctx%1").arg(++m_made)}});
        } else if (m == QStringLiteral("Target.createTarget")) {
            const QString context = call.value(QStringLiteral("params"))
                                        .toObject()
                                        .value(QStringLiteral("browserContextId"))
                                        .toString();
            peer.reply(call, {{QStringLiteral("targetId"), QStringLiteral("T") + context.mid(3)}});
        } else if (m == QStringLiteral("Target.attachToTarget")) {
            const QString target =
                call.value(QStringLiteral("params")).toObject().value(QStringLiteral("targetId")).toString();
            peer.reply(call, {{QStringLiteral("sessionId"), QStringLiteral("S") + target.mid(1)}});
        } else if (m == QStringLiteral("Page.navigate")) {
            navigated.append(session);
            peer.reply(call, {{QStringLiteral("frameId"), QStringLiteral("T") + session.mid(1)},
                              {QStringLiteral("loaderId"), QStringLiteral("L")}});
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

    void load(const QString& session) {
        m_launcher->peer->event(QStringLiteral("Page.lifecycleEvent"),
                                {{QStringLiteral("frameId"), QStringLiteral("T") + session.mid(1)},
                                 {QStringLiteral("loaderId"), QStringLiteral("L")},
                                 {QStringLiteral("name"), QStringLiteral("load")}},
                                session);
    }

    int contextsMade() const {
        return static_cast<int>(
            m_launcher->peer->callsOf(QStringLiteral("Target.createBrowserContext")).size());
    }

    std::unique_ptr<BatchRunner> makeBatch(int pages, int jobs) {
        QList<BatchItem> items;
        for (int i = 0; i < pages; ++i) {
            items.append({QStringLiteral("http://example.test/%1").arg(i),
                          m_folder.filePath(QStringLiteral("%1.png").arg(i)),
                          false,
                          {},
                          {},
                          0,
                          QSize(180, 138)});
        }
        BatchSettings settings;
        settings.jobs = jobs;
        settings.capture.image.format = QStringLiteral("PNG");
        settings.capture.limits.pageMs = 10000;
        return std::make_unique<BatchRunner>(QList<BrowserEndpoints::Endpoint>{{m_browser.get(), QString()}},
                                             items, settings);
    }

    QStringList navigated;

private:
    QTemporaryDir m_folder;
    ScriptedLauncher* m_launcher = nullptr;
    std::unique_ptr<Browser> m_browser;
    int m_made = 0;
};

}  // namespace

TEST_F(BatchSpares, TheNextContextIsMadeOnceTheLoadingPageIsPastItsWaitAndTheNextPageTakesIt) {
    auto batch = makeBatch(3, 1);
    bool finished = false;
    QObject::connect(batch.get(), &BatchRunner::finished, [&finished] { finished = true; });
    batch->start();
    ASSERT_TRUE(waitUntil([this] { return navigated.size() == 1; }, 5000));
    // The first page loads alone: nothing is set up beside it, however long it takes.
    runEventsFor(300);
    EXPECT_EQ(contextsMade(), 1);

    load(navigated.at(0));
    ASSERT_TRUE(waitUntil([this] { return navigated.size() == 2; }, 5000));
    EXPECT_EQ(contextsMade(), 2);
    // The second page navigated in the context made while the first was being captured, and while it
    // loads, again nothing else is made.
    EXPECT_EQ(navigated.at(1), QStringLiteral("S2"));
    runEventsFor(300);
    EXPECT_EQ(contextsMade(), 2);

    load(navigated.at(1));
    ASSERT_TRUE(waitUntil([this] { return navigated.size() == 3; }, 5000));
    EXPECT_EQ(navigated.at(2), QStringLiteral("S3"));
    load(navigated.at(2));
    ASSERT_TRUE(waitUntil([&finished] { return finished; }, 5000));
    // No context is made for a page that will never come.
    EXPECT_EQ(contextsMade(), 3);
}

TEST_F(BatchSpares, WithTwoPagesAtOnceTheNextContextWaitsUntilOneOfThemIsPastItsWait) {
    auto batch = makeBatch(3, 2);
    bool finished = false;
    QObject::connect(batch.get(), &BatchRunner::finished, [&finished] { finished = true; });
    batch->start();
    ASSERT_TRUE(waitUntil([this] { return navigated.size() == 2; }, 5000));
    runEventsFor(300);
    EXPECT_EQ(contextsMade(), 2);

    load(navigated.at(0));
    ASSERT_TRUE(waitUntil([this] { return navigated.size() == 3; }, 5000));
    EXPECT_EQ(contextsMade(), 3);
    load(navigated.at(1));
    load(navigated.at(2));
    ASSERT_TRUE(waitUntil([&finished] { return finished; }, 5000));
    EXPECT_EQ(contextsMade(), 3);
}
