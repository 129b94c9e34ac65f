// The capture service on scripted browsers: requests taken while it runs, images handed back as bytes,
// a ticket cancelled, everything interrupted, a page lost with its browser tried again, and each
// failure's kind.
#include "core/browser/browser.h"
#include "core/engine/capture_service.h"

#include "support/scripted_browser.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <QTemporaryDir>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

QString methodOf(const QJsonObject& call) {
    return call.value(QStringLiteral("method")).toString();
}

QString pngBase64(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return QString::fromLatin1(png.toBase64());
}

// A browser whose pages load as soon as they navigate, except those whose address holds "stall";
// "crash" makes the browser go away at the navigation, once.
class Service : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_folder.isValid());
        auto launcher = std::make_unique<ScriptedLauncher>(
            [this](ScriptedBrowser& peer, const QJsonObject& call) { answer(peer, call); });
        m_launcher = launcher.get();
        m_browser = std::make_unique<Browser>(std::move(launcher));
        options.page.viewWidth = 400;
        options.page.viewHeight = 300;
        options.image.width = 40;
        options.image.height = 30;
        options.limits.pageMs = 10000;
    }

    void answer(ScriptedBrowser& peer, const QJsonObject& call) {
        const QString m = methodOf(call);
        const QJsonObject params = call.value(QStringLiteral("params")).toObject();
        const QString session = call.value(QStringLiteral("sessionId")).toString();
        if (m == QStringLiteral("Target.createBrowserContext")) {
            peer.reply(call, {{QStringLiteral("browserContextId"), QStringLiteral("ctx%1").arg(++m_made)}});
        } else if (m == QStringLiteral("Target.createTarget")) {
            const QString context = params.value(QStringLiteral("browserContextId")).toString();
            peer.reply(call, {{QStringLiteral("targetId"), QStringLiteral("T") + context.mid(3)}});
        } else if (m == QStringLiteral("Target.attachToTarget")) {
            peer.reply(call,
                       {{QStringLiteral("sessionId"),
                         QStringLiteral("S") + params.value(QStringLiteral("targetId")).toString().mid(1)}});
        } else if (m == QStringLiteral("Target.disposeBrowserContext")) {
            disposed.append(params.value(QStringLiteral("browserContextId")).toString());
            peer.reply(call);
        } else if (m == QStringLiteral("Page.navigate")) {
            const QString url = params.value(QStringLiteral("url")).toString();
            if (url.contains(QStringLiteral("crash")) && !m_crashed) {
                m_crashed = true;
                peer.hangUp(QStringLiteral("the browser died"));
                return;
            }
            const QString frame = QStringLiteral("T") + session.mid(1);
            peer.reply(call, {{QStringLiteral("frameId"), frame},
                              {QStringLiteral("loaderId"), QStringLiteral("L")}});
            if (!url.contains(QStringLiteral("stall"))) {
                peer.event(QStringLiteral("Page.lifecycleEvent"),
                           {{QStringLiteral("frameId"), frame},
                            {QStringLiteral("loaderId"), QStringLiteral("L")},
                            {QStringLiteral("name"), QStringLiteral("load")}},
                           session);
            }
        } else if (m == QStringLiteral("Runtime.evaluate")) {
            peer.reply(
                call,
                {{QStringLiteral("result"),
                  QJsonObject{{QStringLiteral("value"), QJsonObject{{QStringLiteral("body"), true}}}}}});
        } else if (m == QStringLiteral("Page.captureScreenshot")) {
            peer.reply(call, {{QStringLiteral("data"), pngBase64(400, 300)}});
        } else {
            peer.reply(call);
        }
    }

    std::unique_ptr<CaptureService> makeService(int retries = 1) {
        CaptureServiceSettings settings;
        settings.jobs = 2;
        settings.retries = retries;
        auto service = std::make_unique<CaptureService>(
            QList<BrowserEndpoints::Endpoint>{{m_browser.get(), QString()}}, settings, options);
        QObject::connect(service.get(), &CaptureService::finished, service.get(),
                         [this](CaptureService::Ticket ticket, const CaptureResult& result) {
                             results.insert(ticket, result);
                         });
        return service;
    }

    CaptureRequest request(const QString& path, CaptureOutput output = CaptureOutput::File) {
        CaptureRequest asked = options;
        asked.url = QStringLiteral("http://example.test") + path;
        asked.output.path = m_folder.filePath(QStringLiteral("shot%1.jpg").arg(++m_files));
        asked.output.to = output;
        return asked;
    }

    CaptureRequest options;
    QHash<CaptureService::Ticket, CaptureResult> results;
    QStringList disposed;
    QTemporaryDir m_folder;

private:
    std::unique_ptr<Browser> m_browser;
    ScriptedLauncher* m_launcher = nullptr;
    int m_made = 0;
    int m_files = 0;
    bool m_crashed = false;
};

}  // namespace

TEST_F(Service, TakesRequestsWhileItRunsAndHandsImagesBackAsBytesOrFiles) {
    auto service = makeService();
    const CaptureRequest inMemory = request(QStringLiteral("/a"), CaptureOutput::Bytes);
    const auto first = service->submit(inMemory);
    ASSERT_TRUE(waitUntil([&] { return results.contains(first); }, 10000));
    const CaptureResult& bytes = results[first];
    ASSERT_TRUE(bytes.ok) << bytes.error.message.toStdString();
    EXPECT_EQ(bytes.error.kind, ErrorKind::None);
    EXPECT_EQ(QImage::fromData(bytes.bytes).size(), QSize(40, 30));
    EXPECT_EQ(bytes.byteCount, bytes.bytes.size());
    EXPECT_FALSE(QFile::exists(inMemory.output.path));  // nothing on disk for bytes

    // The service is idle now and takes the next request as it comes.
    EXPECT_EQ(service->pending(), 0);
    const CaptureRequest onDisk = request(QStringLiteral("/b"));
    const auto second = service->submit(onDisk);
    ASSERT_TRUE(waitUntil([&] { return results.contains(second); }, 10000));
    ASSERT_TRUE(results[second].ok) << results[second].error.message.toStdString();
    EXPECT_TRUE(results[second].bytes.isEmpty());
    EXPECT_EQ(QImage(onDisk.output.path).size(), QSize(40, 30));
    EXPECT_EQ(results[second].byteCount, QFileInfo(onDisk.output.path).size());
}

TEST_F(Service, ACancelledOrInterruptedTicketFinishesAsSuchAndItsContextGoes) {
    auto service = makeService();
    const auto stalled = service->submit(request(QStringLiteral("/stall")));
    ASSERT_TRUE(waitUntil([&] { return service->running() == 1 && disposed.isEmpty(); }, 5000));
    waitUntil([] { return false; }, 200);
    service->cancel(stalled);
    ASSERT_TRUE(results.contains(stalled));
    EXPECT_EQ(results[stalled].error.kind, ErrorKind::Interrupted);
    ASSERT_TRUE(waitUntil([&] { return !disposed.isEmpty(); }, 5000));

    // Interrupted: what runs and what waits both finish at once, and later requests too.
    const auto one = service->submit(request(QStringLiteral("/stall/1")));
    const auto two = service->submit(request(QStringLiteral("/stall/2")));
    const auto three = service->submit(request(QStringLiteral("/stall/3")));
    waitUntil([] { return false; }, 300);
    service->interrupt();
    for (const auto ticket : {one, two, three}) {
        ASSERT_TRUE(results.contains(ticket));
        EXPECT_EQ(results[ticket].error.kind, ErrorKind::Interrupted);
    }
    EXPECT_EQ(service->pending(), 0);
    const auto late = service->submit(request(QStringLiteral("/a")));
    ASSERT_TRUE(waitUntil([&] { return results.contains(late); }, 2000));
    EXPECT_EQ(results[late].error.kind, ErrorKind::Interrupted);
}

TEST_F(Service, APageLostWithItsBrowserIsTriedAgainOrFailsAsLost) {
    auto service = makeService(1);
    const auto again = service->submit(request(QStringLiteral("/crash")));
    ASSERT_TRUE(waitUntil([&] { return results.contains(again); }, 15000));
    EXPECT_TRUE(results[again].ok) << results[again].error.message.toStdString();
}

TEST_F(Service, WithoutRetriesALostPageFailsWithTheKindOfItsLoss) {
    auto service = makeService(0);
    const auto lost = service->submit(request(QStringLiteral("/crash")));
    ASSERT_TRUE(waitUntil([&] { return results.contains(lost); }, 15000));
    EXPECT_FALSE(results[lost].ok);
    EXPECT_EQ(results[lost].error.kind, ErrorKind::BrowserLost) << results[lost].error.message.toStdString();
}
