// The page capture against a scripted browser: set-up, readiness, stop, limits and failures, without
// the real one (whose suites stay beside this one).
#include "page_capture_fixture.h"

#include <QJsonDocument>

using namespace lumiclip;
using namespace lumiclip::test;

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
              sent.lastIndexOf(QStringLiteral("Runtime.evaluate")));
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
        ErrorKind kind;
    } cases[] = {
        {"crash",
         [](ScriptedBrowser& peer, const QJsonObject&) {
             peer.event(QStringLiteral("Inspector.targetCrashed"), {}, kSession);
         },
         "the page crashed while loading", ErrorKind::BrowserError},
        {"refused",
         [](ScriptedBrowser& peer, const QJsonObject& call) {
             peer.error(call, QStringLiteral("Cannot navigate to invalid URL"));
         },
         "Page.navigate: Cannot navigate to invalid URL", ErrorKind::BrowserError},
        {"closed",
         [](ScriptedBrowser& peer, const QJsonObject&) {
             peer.hangUp(QStringLiteral("browser pipe closed"));
         },
         "Page.navigate: browser pipe closed", ErrorKind::BrowserLost},
    };
    for (const auto& c : cases) {
        onNavigate = c.navigate;
        ASSERT_TRUE(run()) << c.name;
        EXPECT_FALSE(capture->outcome().ok) << c.name;
        EXPECT_EQ(capture->outcome().error.toStdString(), c.error) << c.name;
        // The kind travels with the message; callers branch on it, never on the text.
        EXPECT_EQ(capture->outcome().errorKind, c.kind) << c.name;
        EXPECT_TRUE(events.isEmpty()) << c.name;
    }
}

TEST_F(PageCaptureScripted, TheWaitConditionAndTheElementAreTheWatchersToDecide) {
    // The parsed document ends the wait when asked for; the load never comes.
    options.wait.condition = WaitCondition::DomContentLoaded;
    onNavigate = [](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, kLoader, "DOMContentLoaded"),
                   kSession);
    };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(capture->outcome().waitEnd, WaitEnd::Loaded);

    // The element is looked for again until it is there, then the snapshot follows.
    options.wait.condition = WaitCondition::Load;
    options.wait.selector = QStringLiteral("#late");
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
        peer.reply(call, {{QStringLiteral("result"),
                           QJsonObject{{QStringLiteral("value"), probes == 3 ? QStringLiteral("visible")
                                                                             : QStringLiteral("missing")}}}});
        return true;
    };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(probes, 3);
}

TEST_F(PageCaptureScripted, AgentHeadersAndSchemeArePartOfTheSetUp) {
    options.page.userAgent = QStringLiteral("Agent/1");
    options.page.headers = {{QStringLiteral("X-One"), QStringLiteral("1")}};
    options.page.dark = true;
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

TEST_F(PageCaptureScripted, AnAbsurdlyLongIdentifierIsRefusedNamingTheMethodAndNeverSentBack) {
    // Each identifier the browser hands us goes back to it in later calls; a hostile endpoint could make
    // every one of them hundreds of megabytes.
    const QString huge(2 * 1024 * 1024, QLatin1Char('x'));
    const struct {
        const char* method;
        const char* key;
        bool event;  // the child's session comes in an event of the page's session
    } cases[] = {
        {"Target.createBrowserContext", "browserContextId", false},
        {"Target.createTarget", "targetId", false},
        {"Target.attachToTarget", "sessionId", false},
        {"Target.attachedToTarget", "sessionId", true},
    };
    for (const auto& c : cases) {
        const QString from = QString::fromLatin1(c.method);
        const QString key = QString::fromLatin1(c.key);
        QList<QJsonObject> sent;
        onCall = [&](ScriptedBrowser& peer, const QJsonObject& call) {
            sent.append(call);
            if (c.event && method(call) == QStringLiteral("Target.setAutoAttach") &&
                call.value(QStringLiteral("sessionId")).toString() == kSession) {
                peer.reply(call);
                peer.event(from,
                           {{key, huge},
                            {QStringLiteral("targetInfo"),
                             QJsonObject{{QStringLiteral("type"), QStringLiteral("iframe")}}}},
                           kSession);
                return true;
            }
            if (!c.event && method(call) == from) {
                peer.reply(call, {{key, huge}});
                return true;
            }
            return false;
        };
        onNavigate = [](ScriptedBrowser& peer, const QJsonObject&) {
            peer.hangUp(QStringLiteral("never loads"));  // a capture that got this far fails anyway
        };
        ASSERT_TRUE(run()) << c.method;
        EXPECT_FALSE(capture->outcome().ok) << c.method;
        EXPECT_EQ(capture->outcome().error.left(200).toStdString(),
                  QStringLiteral("%1: the browser sent a %2 of %3 characters, more than the 1024 an "
                                 "identifier may have")
                      .arg(from, key)
                      .arg(huge.size())
                      .toStdString())
            << c.method;
        for (const QJsonObject& call : std::as_const(sent)) {
            EXPECT_LT(QJsonDocument(call).toJson(QJsonDocument::Compact).size(), 4096)
                << c.method << " echoed in " << method(call).toStdString();
        }
    }
}

TEST_F(PageCaptureScripted, TheBrowsersTextInAnErrorIsCutShort) {
    const QString huge = QStringLiteral("net::ERR_") + QString(1024 * 1024, QLatin1Char('y'));
    onNavigate = [&](ScriptedBrowser& peer, const QJsonObject& call) { peer.error(call, huge); };
    ASSERT_TRUE(run());
    EXPECT_FALSE(capture->outcome().ok);
    const QString error = capture->outcome().error;
    EXPECT_TRUE(error.startsWith(QStringLiteral("Page.navigate: net::ERR_yyy")))
        << error.left(80).toStdString();
    EXPECT_TRUE(error.endsWith(QStringLiteral("... (%1 characters in all)").arg(huge.size())))
        << error.right(80).toStdString();
    EXPECT_LT(error.size(), 400);
}

TEST_F(PageCaptureScripted, ANavigationThePageSetsOffIsFollowedAndALateRefreshIsNot) {
    const QString next = QStringLiteral("L2");
    const auto frameEvent = [](const char* name, QJsonObject params) {
        params.insert(QStringLiteral("frameId"), kTarget);
        return std::make_pair(QString::fromLatin1(name), params);
    };
    // The page loads; as the snapshot begins, a refresh of 0 s takes it to another document, whose
    // answer is a 404. What was asked of the first document is dropped and the waits start over.
    int evaluations = 0;
    // The snapshot's measures, not the wait for the page's fonts before it.
    const auto measure = [](const QJsonObject& call) {
        return method(call) == QStringLiteral("Runtime.evaluate") &&
               !call.value(QStringLiteral("params"))
                    .toObject()
                    .value(QStringLiteral("expression"))
                    .toString()
                    .contains(QStringLiteral("document.fonts"));
    };
    onNavigate = [&](ScriptedBrowser& peer, const QJsonObject& call) { navigateAndLoad(peer, call); };
    onCall = [&](ScriptedBrowser& peer, const QJsonObject& call) {
        if (!measure(call) || ++evaluations > 1) {
            return false;
        }
        for (const auto& [name, event] :
             {frameEvent("Page.frameScheduledNavigation", {{QStringLiteral("delay"), 0}}),
              frameEvent("Page.frameStartedNavigating",
                         {{QStringLiteral("loaderId"), next},
                          {QStringLiteral("navigationType"), QStringLiteral("differentDocument")}}),
              frameEvent("Page.frameClearedScheduledNavigation", {})}) {
            peer.event(name, event, kSession);
        }
        peer.error(call, QStringLiteral("Inspected target navigated or closed"));
        peer.event(QStringLiteral("Network.responseReceived"),
                   {{QStringLiteral("type"), QStringLiteral("Document")},
                    {QStringLiteral("frameId"), kTarget},
                    {QStringLiteral("loaderId"), next},
                    {QStringLiteral("response"), QJsonObject{{QStringLiteral("status"), 404}}}},
                   kSession);
        peer.event(QStringLiteral("Page.frameNavigated"),
                   {{QStringLiteral("frame"),
                     QJsonObject{{QStringLiteral("id"), kTarget}, {QStringLiteral("loaderId"), next}}}},
                   kSession);
        peer.event(QStringLiteral("Page.lifecycleEvent"), lifecycle(kTarget, next), kSession);
        return true;
    };
    ASSERT_TRUE(run());
    // The first document's failed measure is no failure of the capture.
    ASSERT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(evaluations, 2);
    EXPECT_EQ(capture->outcome().httpStatus, 404);

    // A refresh due in five minutes is not waited for.
    evaluations = 0;
    onCall = [&](ScriptedBrowser& peer, const QJsonObject& call) {
        if (measure(call) && ++evaluations == 1) {
            const auto [name, event] =
                frameEvent("Page.frameScheduledNavigation", {{QStringLiteral("delay"), 300}});
            peer.event(name, event, kSession);
        }
        return false;
    };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_EQ(evaluations, 1);
}

TEST_F(PageCaptureScripted, GuardedRequestsAreAnsweredOnTheirOwnSessionAndThePagesRefusedDocumentEndsIt) {
    options.url = QStringLiteral("http://93.184.216.34/");
    options.page.addresses.guarded = true;
    const QString child = QStringLiteral("C");
    const auto paused = [](const QString& id, const char* url, const char* type, const QString& frame) {
        return QJsonObject{
            {QStringLiteral("requestId"), id},
            {QStringLiteral("request"), QJsonObject{{QStringLiteral("url"), QString::fromLatin1(url)}}},
            {QStringLiteral("resourceType"), QString::fromLatin1(type)},
            {QStringLiteral("frameId"), frame}};
    };
    onCall = [&](ScriptedBrowser& peer, const QJsonObject& call) {
        if (method(call) == QStringLiteral("Runtime.runIfWaitingForDebugger")) {
            // The frame runs, and asks for a picture of a private address and a public one.
            peer.reply(call);
            peer.event(QStringLiteral("Fetch.requestPaused"),
                       paused(QStringLiteral("c1"), "http://10.0.0.1/a.png", "Image", QStringLiteral("F")),
                       child);
            peer.event(
                QStringLiteral("Fetch.requestPaused"),
                paused(QStringLiteral("c2"), "http://93.184.216.34/b.png", "Image", QStringLiteral("F")),
                child);
            return true;
        }
        return false;
    };
    onNavigate = [&](ScriptedBrowser& peer, const QJsonObject& call) {
        peer.reply(call, {{QStringLiteral("frameId"), kTarget}, {QStringLiteral("loaderId"), kLoader}});
        peer.event(
            QStringLiteral("Target.attachedToTarget"),
            {{QStringLiteral("sessionId"), child},
             {QStringLiteral("targetInfo"), QJsonObject{{QStringLiteral("type"), QStringLiteral("iframe")}}}},
            kSession);
        // A frame's document of a private address is that frame's loss only; the page's own, redirected
        // to the metadata service, ends the capture.
        peer.event(QStringLiteral("Fetch.requestPaused"),
                   paused(QStringLiteral("p1"), "http://127.0.0.1/", "Document", QStringLiteral("F")),
                   kSession);
        QTimer::singleShot(200, &peer, [&peer, paused] {
            peer.event(QStringLiteral("Fetch.requestPaused"),
                       paused(QStringLiteral("p2"), "http://169.254.169.254/latest/", "Document", kTarget),
                       kSession);
        });
    };
    ASSERT_TRUE(run());
    const PageCaptureOutcome& outcome = capture->outcome();
    EXPECT_EQ(outcome.errorKind, ErrorKind::ForbiddenAddress);
    EXPECT_EQ(outcome.error, QStringLiteral("169.254.169.254 is a private address"));

    // The page's requests are held at the request stage, and so are the frame's before it runs.
    const QList<QJsonObject> enabled = peer().callsOf(QStringLiteral("Fetch.enable"));
    ASSERT_EQ(enabled.size(), 2);
    EXPECT_EQ(enabled[0].value(QStringLiteral("sessionId")).toString(), kSession);
    EXPECT_EQ(enabled[1].value(QStringLiteral("sessionId")).toString(), child);
    const QStringList sent = methodsSent();
    EXPECT_LT(sent.lastIndexOf(QStringLiteral("Fetch.enable")),
              sent.indexOf(QStringLiteral("Runtime.runIfWaitingForDebugger")));
    QHash<QString, QString> answers;  // request id: "method on session"
    for (const QJsonObject& call : peer().calls()) {
        if (method(call).startsWith(QStringLiteral("Fetch.")) &&
            method(call) != QStringLiteral("Fetch.enable")) {
            QString how =
                method(call) + QLatin1Char(' ') + call.value(QStringLiteral("sessionId")).toString();
            if (method(call) == QStringLiteral("Fetch.failRequest")) {
                how += QLatin1Char(' ') + params(call).value(QStringLiteral("errorReason")).toString();
            }
            answers.insert(params(call).value(QStringLiteral("requestId")).toString(), how);
        }
    }
    EXPECT_EQ(answers.value(QStringLiteral("c1")), QStringLiteral("Fetch.failRequest C AccessDenied"));
    EXPECT_EQ(answers.value(QStringLiteral("c2")), QStringLiteral("Fetch.continueRequest C"));
    EXPECT_EQ(answers.value(QStringLiteral("p1")), QStringLiteral("Fetch.failRequest S AccessDenied"));
    EXPECT_EQ(answers.value(QStringLiteral("p2")), QStringLiteral("Fetch.failRequest S AccessDenied"));
}

TEST_F(PageCaptureScripted, AGuardedAddressThatIsPrivateIsNeverLoaded) {
    options.url = QStringLiteral("http://0x7f.1:8080/");
    options.page.addresses.guarded = true;
    ASSERT_TRUE(run());
    EXPECT_EQ(capture->outcome().errorKind, ErrorKind::ForbiddenAddress);
    EXPECT_EQ(browser->connection(), nullptr);  // not even started
    // Unguarded, nothing is held and nothing is refused.
    options.page.addresses = AddressPolicy{};
    onNavigate = [this](ScriptedBrowser& peer, const QJsonObject& call) { navigateAndLoad(peer, call); };
    ASSERT_TRUE(run());
    EXPECT_TRUE(capture->outcome().ok) << capture->outcome().error.toStdString();
    EXPECT_TRUE(peer().callsOf(QStringLiteral("Fetch.enable")).isEmpty());
}
