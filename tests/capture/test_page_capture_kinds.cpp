// The page capture's kinds against a scripted browser: the scale factor, the full page, an element.
#include "page_capture_fixture.h"

using namespace lumiclip;
using namespace lumiclip::test;

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
    options.page.scaleFactor = 1.5;
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
        options.shot.kind = c.kind;
        options.page.scaleFactor = c.scale;
        options.shot.selector = QStringLiteral("a[title=\"it's\"]");
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
        // The measuring is the last evaluation (the first lets the page settle after its load).
        EXPECT_LT(sent.indexOf(QStringLiteral("Runtime.terminateExecution")),
                  sent.lastIndexOf(QStringLiteral("Runtime.evaluate")));
        EXPECT_LT(sent.lastIndexOf(QStringLiteral("Runtime.evaluate")),
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
    options.shot.kind = CaptureKind::Element;
    options.shot.selector = QStringLiteral("#gone");
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
