#pragma once

// The page capture against a browser played by a script: the launcher, the scripted answers to the
// set-up and the snapshot, and the fixture the capture tests share.
#include "core/browser/browser.h"
#include "core/capture/page_capture.h"
#include "support/scripted_browser.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QPointer>

#include <functional>

namespace lumiclip::test {

inline const QString kTarget = QStringLiteral("T");
inline const QString kSession = QStringLiteral("S");
inline const QString kLoader = QStringLiteral("L");

inline QString method(const QJsonObject& call) {
    return call.value(QStringLiteral("method")).toString();
}

inline QJsonObject params(const QJsonObject& call) {
    return call.value(QStringLiteral("params")).toObject();
}

inline QJsonObject lifecycle(const QString& frame, const QString& loader, const char* name = "load") {
    return {{QStringLiteral("frameId"), frame},
            {QStringLiteral("loaderId"), loader},
            {QStringLiteral("name"), QString::fromLatin1(name)}};
}

// A browser that sets the page up and answers the snapshot; what the page does after the navigation is
// the test's: onNavigate runs when Page.navigate arrives, onCall for any call not answered here.
class PageCaptureScripted : public ::testing::Test {
protected:
    using Hook = std::function<void(ScriptedBrowser&, const QJsonObject&)>;

    void SetUp() override {
        options.url = QStringLiteral("http://example.test/");
        options.page.viewWidth = 640;
        options.page.viewHeight = 480;
        options.limits.pageMs = 5000;
        auto launcher = std::make_unique<ScriptedLauncher>(
            [this](ScriptedBrowser& peer, const QJsonObject& call) { answer(peer, call); });
        m_launcher = launcher.get();
        browser = std::make_unique<Browser>(std::move(launcher));
    }

    void answer(ScriptedBrowser& peer, const QJsonObject& call) {
        const QString m = method(call);
        if (onCall && onCall(peer, call)) {
            return;
        }
        if (m == QStringLiteral("Target.createBrowserContext")) {
            peer.reply(call, {{QStringLiteral("browserContextId"), QStringLiteral("ctx")}});
        } else if (m == QStringLiteral("Target.createTarget")) {
            peer.reply(call, {{QStringLiteral("targetId"), kTarget}});
        } else if (m == QStringLiteral("Target.attachToTarget")) {
            peer.reply(call, {{QStringLiteral("sessionId"), kSession}});
        } else if (m == QStringLiteral("Page.navigate")) {
            if (onNavigate) {
                onNavigate(peer, call);
            } else {
                peer.reply(call,
                           {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
            }
        } else if (m == QStringLiteral("Runtime.evaluate")) {
            const QJsonObject document{{QStringLiteral("body"), true},
                                       {QStringLiteral("url"), QStringLiteral("http://example.test/landed")},
                                       {QStringLiteral("title"), QStringLiteral("Landed")}};
            peer.reply(call, {{QStringLiteral("result"),
                               QJsonObject{{QStringLiteral("type"), QStringLiteral("object")},
                                           {QStringLiteral("value"), document}}}});
        } else if (m == QStringLiteral("Page.captureScreenshot")) {
            peer.reply(call,
                       {{QStringLiteral("data"), QString::fromLatin1(QByteArray("rendering").toBase64())}});
        } else {
            peer.reply(call);
        }
    }

    void navigateAndLoad(ScriptedBrowser& peer, const QJsonObject& call) {
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, kLoader), kSession);
    }

    // Runs one capture to its end; false when it did not finish in time.
    bool run(const std::function<void(PageCapture&)>& during = {}) {
        capture = std::make_unique<PageCapture>(*browser, options);
        QObject::connect(capture.get(), &PageCapture::frameDocumentComplete, capture.get(),
                         [this] { events.append(QStringLiteral("frame")); });
        QObject::connect(capture.get(), &PageCapture::waitEnded, capture.get(),
                         [this](WaitEnd) { events.append(QStringLiteral("ready")); });
        capture->start();
        if (during) {
            during(*capture);
        }
        return waitUntil([this] { return capture->isFinished(); }, 10000);
    }

    ScriptedBrowser& peer() { return *m_launcher->peer; }
    QStringList methodsSent() {
        QStringList methods;
        for (const QJsonObject& call : peer().calls()) {
            methods.append(method(call));
        }
        return methods;
    }

    CaptureRequest options;
    std::unique_ptr<Browser> browser;
    std::unique_ptr<PageCapture> capture;
    std::function<bool(ScriptedBrowser&, const QJsonObject&)> onCall;
    Hook onNavigate;
    QStringList events;

private:
    ScriptedLauncher* m_launcher = nullptr;
};

}  // namespace lumiclip::test
