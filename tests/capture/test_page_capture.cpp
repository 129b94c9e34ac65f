// The page capture against a scripted browser: set-up, readiness, stop, limits and failures, without
// the real one (whose suites stay beside this one).
#include "core/browser/browser.h"
#include "core/capture/page_capture.h"

#include "support/scripted_browser.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QPointer>

#include <functional>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

const QString kTarget = QStringLiteral("T");
const QString kSession = QStringLiteral("S");
const QString kLoader = QStringLiteral("L");

class ScriptedLauncher final : public BrowserLauncher {
public:
    explicit ScriptedLauncher(ScriptedBrowser::Script script) : m_script(std::move(script)) {}
    CdpTransport* launch(QString*) override {
        peer = new ScriptedBrowser;
        peer->setScript(m_script);
        return peer;
    }
    bool isRunning() override { return peer && peer->isOpen(); }
    void stop(int) override {}
    bool isHeadlessShell() const override { return true; }
    pid_t pid() const override { return -1; }

    QPointer<ScriptedBrowser> peer;

private:
    ScriptedBrowser::Script m_script;
};

QString method(const QJsonObject& call) {
    return call.value(QStringLiteral("method")).toString();
}

QJsonObject params(const QJsonObject& call) {
    return call.value(QStringLiteral("params")).toObject();
}

QJsonObject lifecycle(const QString& frame, const QString& loader, const char* name = "load") {
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
        options.viewWidth = 640;
        options.viewHeight = 480;
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

    CaptureOptions options;
    std::unique_ptr<Browser> browser;
    std::unique_ptr<PageCapture> capture;
    std::function<bool(ScriptedBrowser&, const QJsonObject&)> onCall;
    Hook onNavigate;
    QStringList events;

private:
    ScriptedLauncher* m_launcher = nullptr;
};

}  // namespace

TEST_F(PageCaptureScripted, SetsThePageUpLoadsItAndTakesTheSnapshotInAContextDisposedAfter) {
    onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.event(QStringLiteral("Network.responseReceived"),
                   {{QStringLiteral("type"), QStringLiteral("Document")},
                    {QStringLiteral("frameId"), kTarget},
                    {QStringLiteral("loaderId"), kLoader},
                    {QStringLiteral("response"), QJsonObject{{QStringLiteral("status"), 203}}}},
                   kSession);
        navigateAndLoad(peer, call);
    };
    ASSERT_TRUE(run());
    const PageCaptureOutcome& outcome = capture->outcome();
    ASSERT_TRUE(outcome.ok) << outcome.error.toStdString();
    EXPECT_EQ(outcome.waitEnd, WaitEnd::Loaded);
    EXPECT_EQ(outcome.httpStatus, 203);
    EXPECT_EQ(outcome.snapshot.png, QByteArray("rendering"));
    EXPECT_TRUE(outcome.snapshot.hasBody);
    EXPECT_EQ(outcome.finalUrl, QStringLiteral("http://example.test/landed"));
    EXPECT_EQ(outcome.title, QStringLiteral("Landed"));

    const QJsonObject target = peer().callsOf(QStringLiteral("Target.createTarget")).value(0);
    EXPECT_EQ(params(target).value(QStringLiteral("width")).toInt(), 640);
    EXPECT_EQ(params(target).value(QStringLiteral("browserContextId")).toString(), QStringLiteral("ctx"));
    const QJsonObject metrics = peer().callsOf(QStringLiteral("Emulation.setDeviceMetricsOverride")).value(0);
    EXPECT_EQ(metrics.value(QStringLiteral("sessionId")).toString(), kSession);
    EXPECT_EQ(params(metrics).value(QStringLiteral("height")).toInt(), 480);
    EXPECT_TRUE(params(peer().callsOf(QStringLiteral("Network.setCacheDisabled")).value(0))
                    .value(QStringLiteral("cacheDisabled"))
                    .toBool());
    EXPECT_EQ(params(peer().callsOf(QStringLiteral("Page.navigate")).value(0))
                  .value(QStringLiteral("url"))
                  .toString(),
              options.url);
    const QStringList sent = methodsSent();
    // Scripts are ended before the renderer is asked for anything; the context goes at the end.
    EXPECT_LT(sent.indexOf(QStringLiteral("Page.navigate")),
              sent.indexOf(QStringLiteral("Runtime.terminateExecution")));
    EXPECT_LT(sent.indexOf(QStringLiteral("Runtime.terminateExecution")),
              sent.indexOf(QStringLiteral("Runtime.evaluate")));
    EXPECT_LT(sent.indexOf(QStringLiteral("Runtime.terminateExecution")),
              sent.indexOf(QStringLiteral("Page.captureScreenshot")));
    EXPECT_EQ(sent.last(), QStringLiteral("Target.disposeBrowserContext"));
    EXPECT_EQ(params(peer().callsOf(QStringLiteral("Target.disposeBrowserContext")).value(0))
                  .value(QStringLiteral("browserContextId"))
                  .toString(),
              QStringLiteral("ctx"));
}

TEST_F(PageCaptureScripted, FrameDocumentsAreCountedOnceEachBeforeTheTopLevelLoad) {
    onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) {
        // The blank page's load, replayed when lifecycle events are enabled, is not ours.
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, QStringLiteral("blank")),
                   kSession);
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
        peer.event(QStringLiteral("Page.lifecycleEvent"),
                   lifecycle(QStringLiteral("F1"), QStringLiteral("A")), kSession);
        peer.event(QStringLiteral("Page.lifecycleEvent"),
                   lifecycle(QStringLiteral("F1"), QStringLiteral("A"), "DOMContentLoaded"), kSession);
        peer.event(QStringLiteral("Page.lifecycleEvent"),
                   lifecycle(QStringLiteral("F1"), QStringLiteral("A")), kSession);
        peer.event(QStringLiteral("Page.lifecycleEvent"),
                   lifecycle(QStringLiteral("F2"), QStringLiteral("B")), kSession);
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, kLoader), kSession);
    };
    ASSERT_TRUE(run());
    ASSERT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(events,
              (QStringList{QStringLiteral("frame"), QStringLiteral("frame"), QStringLiteral("ready")}));
    EXPECT_EQ(capture->outcome().frameDocuments, 2);
}

TEST_F(PageCaptureScripted, ALoadThatComesBeforeTheNavigationAnswersEndsTheWait) {
    onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, kLoader), kSession);
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
    };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok);
    EXPECT_EQ(capture->outcome().waitEnd, WaitEnd::Loaded);
}

TEST_F(PageCaptureScripted, StopEndsAPageThatNeverLoadsOnceTheFrameStopped) {
    onCall = [](ScriptedBrowser& peer, const QJsonObject& call) {
        if (method(call) != QStringLiteral("Page.stopLoading")) {
            return false;
        }
        peer.reply(call);
        peer.event(QStringLiteral("Page.frameStoppedLoading"), {{QStringLiteral("frameId"), kTarget}},
                   kSession);
        return true;
    };
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(run([](PageCapture& c) { QTimer::singleShot(200, &c, [&c] { c.stop(); }); }));
    EXPECT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(capture->outcome().waitEnd, WaitEnd::Stopped);
    EXPECT_LT(clock.elapsed(), 200 + options.limits.stopGraceMs)
        << "the frame's report did not end the grace";
    EXPECT_EQ(peer().callsOf(QStringLiteral("Runtime.terminateExecution")).size(), 2);  // stop, snapshot
}

TEST_F(PageCaptureScripted, AStopDuringTheSetUpActsOnceTheNavigationStarts) {
    ASSERT_TRUE(run([](PageCapture& c) { c.stop(); }));
    EXPECT_EQ(capture->outcome().waitEnd, WaitEnd::Stopped);
    const QStringList sent = methodsSent();
    EXPECT_LT(sent.indexOf(QStringLiteral("Page.navigate")),
              sent.indexOf(QStringLiteral("Page.stopLoading")));
}

TEST_F(PageCaptureScripted, TheLimitEndsTheWaitAndTheFinalGraceEndsTheCapture) {
    options.limits.pageMs = 300;
    onNavigate = [](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
    };
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok);
    EXPECT_EQ(capture->outcome().waitEnd, WaitEnd::TimedOut);
    EXPECT_GE(clock.elapsed(), 300 + options.limits.stopGraceMs) << "the limit or the grace ended early";

    // A renderer that never answers the screenshot: the capture ends at the limit plus the grace.
    options.limits.finalGraceMs = 700;
    onCall = [](ScriptedBrowser&, const QJsonObject& call) {
        return method(call) == QStringLiteral("Page.captureScreenshot");
    };
    clock.restart();
    ASSERT_TRUE(run());
    EXPECT_FALSE(capture->outcome().ok);
    EXPECT_EQ(capture->outcome().error.toStdString(), "the page could not be captured within 1 s");
    EXPECT_GE(clock.elapsed(), 1000);
    EXPECT_LT(clock.elapsed(), 3000);
}

TEST_F(PageCaptureScripted, AFailedNavigationWaitsBrieflyForTheErrorPage) {
    options.limits.errorPageMs = 200;
    onNavigate = [](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.reply(call, {{QStringLiteral("frameId"), kTarget},
                          {QStringLiteral("loaderId"), kLoader},
                          {QStringLiteral("errorText"), QStringLiteral("net::ERR_NAME_NOT_RESOLVED")}});
    };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok);
    EXPECT_EQ(capture->outcome().waitEnd, WaitEnd::Loaded);
    EXPECT_EQ(capture->outcome().navigationError, QStringLiteral("net::ERR_NAME_NOT_RESOLVED"));
}

TEST_F(PageCaptureScripted, DialogsAreAnsweredOnTheSessionThatOpenedThem) {
    onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
        for (const char* type : {"alert", "confirm", "prompt", "beforeunload"}) {
            peer.event(QStringLiteral("Page.javascriptDialogOpening"),
                       {{QStringLiteral("type"), QString::fromLatin1(type)}}, kSession);
        }
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, kLoader), kSession);
    };
    ASSERT_TRUE(run());
    const QList<QJsonObject> answers = peer().callsOf(QStringLiteral("Page.handleJavaScriptDialog"));
    ASSERT_EQ(answers.size(), 4);
    const bool accepted[] = {true, false, false, true};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(params(answers[i]).value(QStringLiteral("accept")).toBool(), accepted[i]) << i;
        EXPECT_EQ(answers[i].value(QStringLiteral("sessionId")).toString(), kSession);
    }
}

TEST_F(PageCaptureScripted, ACrashAnErrorOrAClosedConnectionFailsTheCaptureNamingTheCause) {
    const struct {
        const char* name;
        Hook navigate;
        const char* error;
    } cases[] = {
        {"crash",
         [](ScriptedBrowser& peer, const QJsonObject&) {
             peer.event(QStringLiteral("Inspector.targetCrashed"), {}, kSession);
         },
         "the page crashed while loading"},
        {"refused",
         [](ScriptedBrowser& peer, const QJsonObject& call) {
             peer.error(call, QStringLiteral("Cannot navigate to invalid URL"));
         },
         "Page.navigate: Cannot navigate to invalid URL"},
        {"closed",
         [](ScriptedBrowser& peer, const QJsonObject&) {
             peer.hangUp(QStringLiteral("browser pipe closed"));
         },
         "Page.navigate: browser pipe closed"},
    };
    for (const auto& c : cases) {
        onNavigate = c.navigate;
        ASSERT_TRUE(run()) << c.name;
        EXPECT_FALSE(capture->outcome().ok) << c.name;
        EXPECT_EQ(capture->outcome().error.toStdString(), c.error) << c.name;
        EXPECT_TRUE(events.isEmpty()) << c.name;
    }
}

TEST_F(PageCaptureScripted, TheWaitConditionAndTheElementAreTheWatchersToDecide) {
    // The parsed document ends the wait when asked for; the load never comes.
    options.wait = WaitCondition::DomContentLoaded;
    onNavigate = [](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, kLoader, "DOMContentLoaded"),
                   kSession);
    };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(capture->outcome().waitEnd, WaitEnd::Loaded);

    // The element is looked for again until it is there, then the snapshot follows.
    options.wait = WaitCondition::Load;
    options.waitFor = QStringLiteral("#late");
    onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) { navigateAndLoad(peer, call); };
    int probes = 0;
    onCall = [&probes](ScriptedBrowser& peer, const QJsonObject& call) {
        if (method(call) != QStringLiteral("Runtime.evaluate") ||
            !params(call)
                 .value(QStringLiteral("expression"))
                 .toString()
                 .contains(QStringLiteral("\"#late\""))) {
            return false;
        }
        ++probes;
        peer.reply(call, {{QStringLiteral("result"), QJsonObject{{QStringLiteral("value"), probes == 3}}}});
        return true;
    };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(probes, 3);
}

TEST_F(PageCaptureScripted, AgentHeadersAndSchemeArePartOfTheSetUp) {
    options.userAgent = QStringLiteral("Agent/1");
    options.headers = {{QStringLiteral("X-One"), QStringLiteral("1")}};
    options.dark = true;
    ASSERT_TRUE(run([](PageCapture& c) { c.stop(); }));
    const QStringList sent = methodsSent();
    const qsizetype navigate = sent.indexOf(QStringLiteral("Page.navigate"));
    for (const char* step :
         {"Emulation.setUserAgentOverride", "Network.setExtraHTTPHeaders", "Emulation.setEmulatedMedia"}) {
        const qsizetype at = sent.indexOf(QString::fromLatin1(step));
        EXPECT_GE(at, 0) << step;
        EXPECT_LT(at, navigate) << step;
    }
    EXPECT_EQ(params(peer().callsOf(QStringLiteral("Network.setExtraHTTPHeaders")).value(0))
                  .value(QStringLiteral("headers"))
                  .toObject()
                  .value(QStringLiteral("X-One"))
                  .toString(),
              QStringLiteral("1"));
}

namespace {

// The document check's answer with a box measured by the page (none: the selector matched nothing).
QJsonObject measured(const QJsonObject& box, const QJsonObject& extra = {}) {
    QJsonObject document{{QStringLiteral("body"), true},
                         {QStringLiteral("url"), QStringLiteral("http://example.test/")},
                         {QStringLiteral("title"), QStringLiteral("Measured")}};
    if (!box.isEmpty()) {
        document.insert(QStringLiteral("box"), box);
    }
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        document.insert(it.key(), it.value());
    }
    return {{QStringLiteral("result"), QJsonObject{{QStringLiteral("type"), QStringLiteral("object")},
                                                   {QStringLiteral("value"), document}}}};
}

QJsonObject box(double x, double y, double w, double h) {
    return {{QStringLiteral("x"), x},
            {QStringLiteral("y"), y},
            {QStringLiteral("width"), w},
            {QStringLiteral("height"), h}};
}

}  // namespace

TEST_F(PageCaptureScripted, TheScaleFactorIsTheDevicePixelRatioAndTheViewIsCapturedWithoutAClip) {
    options.scaleFactor = 1.5;
    onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) { navigateAndLoad(peer, call); };
    ASSERT_TRUE(run());
    ASSERT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    const QJsonObject metrics =
        params(peer().callsOf(QStringLiteral("Emulation.setDeviceMetricsOverride")).value(0));
    EXPECT_EQ(metrics.value(QStringLiteral("deviceScaleFactor")).toDouble(), 1.5);
    EXPECT_EQ(metrics.value(QStringLiteral("width")).toInt(), 640);
    const QJsonObject shot = params(peer().callsOf(QStringLiteral("Page.captureScreenshot")).value(0));
    EXPECT_FALSE(shot.contains(QStringLiteral("clip")));
    EXPECT_FALSE(shot.value(QStringLiteral("captureBeyondViewport")).toBool());
}

TEST_F(PageCaptureScripted, AFullPageOrAnElementIsMeasuredThenCapturedByItsBox) {
    const struct {
        const char* name;
        CaptureKind kind;
        double scale;
        QJsonObject measuredBox;
        QJsonObject clip;
    } cases[] = {
        // A full page is as wide as the view, as high as the document.
        {"full page", CaptureKind::FullPage, 1, box(0, 0, 0, 5000), box(0, 0, 640, 5000)},
        // ... and no higher than the largest raster in device pixels.
        {"long page", CaptureKind::FullPage, 2, box(0, 0, 0, 40000), box(0, 0, 640, 8192)},
        {"element", CaptureKind::Element, 1, box(10.5, 1200, 300, 40.25), box(10.5, 1200, 300, 40.25)},
        {"wide element", CaptureKind::Element, 4, box(0, 0, 9000, 10), box(0, 0, 4096, 10)},
    };
    for (const auto& c : cases) {
        options.kind = c.kind;
        options.scaleFactor = c.scale;
        options.selector = QStringLiteral("a[title=\"it's\"]");
        const QJsonObject answer = measured(c.measuredBox);
        onCall = [answer](ScriptedBrowser& peer, const QJsonObject& call) {
            if (method(call) != QStringLiteral("Runtime.evaluate")) {
                return false;
            }
            peer.reply(call, answer);
            return true;
        };
        onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) { navigateAndLoad(peer, call); };
        // One browser for all the cases: what this one sent comes after what the others did.
        const qsizetype before = browser->connection() ? peer().calls().size() : 0;
        ASSERT_TRUE(run()) << c.name;
        ASSERT_TRUE(capture->outcome().ok) << c.name << ": " << capture->outcome().error.toStdString();
        EXPECT_EQ(capture->outcome().snapshot.png, QByteArray("rendering")) << c.name;
        EXPECT_EQ(capture->outcome().title, QStringLiteral("Measured")) << c.name;

        const QJsonObject shot = params(peer().callsOf(QStringLiteral("Page.captureScreenshot")).last());
        QJsonObject clip = c.clip;
        clip.insert(QStringLiteral("scale"), 1);
        EXPECT_EQ(shot.value(QStringLiteral("clip")).toObject(), clip) << c.name;
        EXPECT_TRUE(shot.value(QStringLiteral("captureBeyondViewport")).toBool()) << c.name;
        const QStringList sent = methodsSent().mid(before);
        EXPECT_LT(sent.indexOf(QStringLiteral("Runtime.terminateExecution")),
                  sent.indexOf(QStringLiteral("Runtime.evaluate")));
        EXPECT_LT(sent.indexOf(QStringLiteral("Runtime.evaluate")),
                  sent.indexOf(QStringLiteral("Page.captureScreenshot")));
        if (c.kind == CaptureKind::Element) {
            // The selector reaches the page as a string literal, quotes and all.
            const QString expression = params(peer().callsOf(QStringLiteral("Runtime.evaluate")).last())
                                           .value(QStringLiteral("expression"))
                                           .toString();
            EXPECT_TRUE(expression.contains(QStringLiteral("[\"a[title=\\\"it's\\\"]\"]")))
                << expression.toStdString();
        }
    }
}

TEST_F(PageCaptureScripted, AnElementThatIsMissingEmptyOrBadlyNamedFailsNamingTheSelector) {
    const struct {
        const char* name;
        QJsonObject answer;
        const char* error;
    } cases[] = {
        {"no match", measured({}), "no element matches the selector \"#gone\""},
        {"empty box", measured(box(0, 10, 0, 20)), "the element matching \"#gone\" has an empty box (0x20)"},
        {"bad selector",
         measured({}, {{QStringLiteral("invalid"), QStringLiteral("'#gone' is not a valid selector.")}}),
         "the selector \"#gone\" is not valid: '#gone' is not a valid selector."},
    };
    options.kind = CaptureKind::Element;
    options.selector = QStringLiteral("#gone");
    for (const auto& c : cases) {
        const QJsonObject answer = c.answer;
        onCall = [answer](ScriptedBrowser& peer, const QJsonObject& call) {
            if (method(call) != QStringLiteral("Runtime.evaluate")) {
                return false;
            }
            peer.reply(call, answer);
            return true;
        };
        onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) { navigateAndLoad(peer, call); };
        const qsizetype shots =
            browser->connection() ? peer().callsOf(QStringLiteral("Page.captureScreenshot")).size() : 0;
        ASSERT_TRUE(run()) << c.name;
        EXPECT_FALSE(capture->outcome().ok) << c.name;
        EXPECT_EQ(capture->outcome().error.toStdString(), c.error) << c.name;
        EXPECT_EQ(peer().callsOf(QStringLiteral("Page.captureScreenshot")).size(), shots) << c.name;
    }
}
