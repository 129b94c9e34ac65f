// The ready watcher as a table: each case feeds it the events of one page, in order, and reads back what
// it asked for and how it answered. No browser and no timers but the watcher's own (kept out of reach
// by long limits, except where a case waits for one).
#include "core/capture/ready_watcher.h"

#include "support/test_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

const QString kMain = QStringLiteral("main");

using Step = std::function<void(ReadyWatcher&)>;

Step navigate(const char* loader = "L1") {
    return [loader](ReadyWatcher& w) {
        w.navigationStarted();
        w.navigated(QString::fromLatin1(loader), {});
    };
}
Step event(const char* name, const char* loader = "L1", const QString& frame = kMain) {
    return [=](ReadyWatcher& w) {
        w.lifecycleEvent(frame, QString::fromLatin1(loader), QString::fromLatin1(name));
    };
}
Step started(const char* loader, const char* type = "differentDocument") {
    return [=](ReadyWatcher& w) {
        w.frameStartedNavigating(kMain, QString::fromLatin1(loader), QString::fromLatin1(type));
    };
}
Step committed(const char* loader) {
    return [=](ReadyWatcher& w) { w.frameNavigated(kMain, QString::fromLatin1(loader)); };
}
Step scheduled(double seconds) {
    return [=](ReadyWatcher& w) { w.navigationScheduled(kMain, seconds); };
}
Step probed(ReadyWatcher::ElementState state) {
    return [=](ReadyWatcher& w) { w.elementProbed(state, {}); };
}
Step limit() {
    return [](ReadyWatcher& w) { w.timeLimitReached(); };
}

struct Case {
    const char* name;
    std::function<void(CaptureRequest&)> options;
    std::vector<Step> steps;
    QStringList expected;
};

QString endName(WaitEnd how) {
    switch (how) {
        case WaitEnd::Loaded:
            return QStringLiteral("loaded");
        case WaitEnd::Stopped:
            return QStringLiteral("stopped");
        case WaitEnd::TimedOut:
            return QStringLiteral("timed out");
        case WaitEnd::FinishedEarly:
            return QStringLiteral("finished early");
        case WaitEnd::None:
            break;
    }
    return QStringLiteral("none");
}

}  // namespace

TEST(ReadyWatcher, EachPageOfTheTableEndsAsItShould) {
    using State = ReadyWatcher::ElementState;
    const auto none = [](CaptureRequest&) {};
    const Case cases[] = {
        {"a plain load is ready", none, {navigate(), event("load")}, {QStringLiteral("ready: loaded")}},
        {"the blank page's replayed load is not ours", none, {navigate(), event("load", "blank")}, {}},
        {"a load before the navigation's answer counts",
         none,
         {[](ReadyWatcher& w) { w.navigationStarted(); }, event("load"),
          [](ReadyWatcher& w) { w.navigated(QStringLiteral("L1"), {}); }},
         {QStringLiteral("ready: loaded")}},
        {"the parsed document when asked for",
         [](CaptureRequest& o) { o.wait.condition = WaitCondition::DomContentLoaded; },
         {navigate(), event("DOMContentLoaded")},
         {QStringLiteral("ready: loaded")}},
        {"a frame's load is counted, not taken for the page's",
         none,
         {navigate(), event("load", "F1", QStringLiteral("frame")), event("load")},
         {QStringLiteral("frame"), QStringLiteral("ready: loaded")}},
        {"a refresh scheduled as the page loaded is followed to the next document",
         none,
         {navigate(), event("load"), scheduled(0),
          [](ReadyWatcher& w) {
              EXPECT_TRUE(w.isNavigatingAgain());
              w.waitAgain();
          },
          started("L2"), committed("L2"), event("load", "L2")},
         {QStringLiteral("ready: loaded"), QStringLiteral("ready: loaded")}},
        {"a page that sets location while loading: its first load is not the end",
         none,
         {navigate(), started("L2"), event("load"), committed("L2"), event("load", "L2")},
         {QStringLiteral("ready: loaded")}},
        {"a refresh due in five minutes is not waited for",
         none,
         {navigate(), event("load"), scheduled(300),
          [](ReadyWatcher& w) { EXPECT_FALSE(w.isNavigatingAgain()); }},
         {QStringLiteral("ready: loaded")}},
        {"a same-document navigation loads nothing",
         none,
         {navigate(), started("L1b", "sameDocument"), event("load")},
         {QStringLiteral("ready: loaded")}},
        {"a scheduled navigation that is cancelled lets the page be ready",
         none,
         {navigate(), scheduled(0), event("load"),
          [](ReadyWatcher& w) { w.scheduledNavigationCleared(kMain); }},
         {QStringLiteral("ready: loaded")}},
        {"the element is looked for until it is visible",
         [](CaptureRequest& o) { o.wait.selector = QStringLiteral("#late"); },
         {navigate(), event("load"), probed(State::Missing), probed(State::Visible)},
         {QStringLiteral("probe"), QStringLiteral("ready: loaded")}},
        {"an element that is there but hidden is named as such at the limit",
         [](CaptureRequest& o) { o.wait.selector = QStringLiteral("#box"); },
         {navigate(), event("load"), probed(State::NotVisible), limit()},
         {QStringLiteral("probe"),
          QStringLiteral("failed: timeout: #box is on the page but was not visible")}},
        {"an element that never comes fails at the limit",
         [](CaptureRequest& o) { o.wait.selector = QStringLiteral("#never"); },
         {navigate(), event("load"), probed(State::Missing), limit()},
         {QStringLiteral("probe"), QStringLiteral("failed: timeout: #never did not appear")}},
        {"the limit while loading stops the page and ends in the grace",
         none,
         {navigate(), limit(), [](ReadyWatcher& w) { w.frameStoppedLoading(kMain); }},
         {QStringLiteral("stop"), QStringLiteral("ready: timed out")}},
        {"a stop while the next document loads stops it",
         none,
         {navigate(), started("L2"), event("load"), [](ReadyWatcher& w) { w.stop(); },
          [](ReadyWatcher& w) { w.frameStoppedLoading(kMain); }},
         {QStringLiteral("stop"), QStringLiteral("ready: stopped")}},
    };
    for (const Case& c : cases) {
        CaptureRequest options;
        options.limits.pageMs = 60000;
        options.limits.stopGraceMs = 60000;
        c.options(options);
        ReadyWatcher watcher(options);
        watcher.setMainFrame(kMain);
        QStringList log;
        QObject::connect(&watcher, &ReadyWatcher::probeWanted, &watcher,
                         [&log] { log.append(QStringLiteral("probe")); });
        QObject::connect(&watcher, &ReadyWatcher::stopWanted, &watcher,
                         [&log] { log.append(QStringLiteral("stop")); });
        QObject::connect(&watcher, &ReadyWatcher::frameDocumentComplete, &watcher,
                         [&log] { log.append(QStringLiteral("frame")); });
        QObject::connect(&watcher, &ReadyWatcher::ready, &watcher,
                         [&log](WaitEnd how) { log.append(QStringLiteral("ready: ") + endName(how)); });
        QObject::connect(&watcher, &ReadyWatcher::failed, &watcher, [&log](const CaptureError& error) {
            log.append(QStringLiteral("failed: %1: %2").arg(ErrorKindName(error.kind), error.message));
        });
        for (const Step& step : c.steps) {
            step(watcher);
        }
        // A failure's message goes on past the part the table names.
        QStringList got = log;
        for (qsizetype i = 0; i < got.size() && i < c.expected.size(); ++i) {
            if (c.expected[i].startsWith(QStringLiteral("failed:")) && got[i].startsWith(c.expected[i])) {
                got[i] = c.expected[i];
            }
        }
        EXPECT_EQ(got, c.expected) << c.name << "\n  got: " << log.join(QStringLiteral(" | ")).toStdString();
    }
}
