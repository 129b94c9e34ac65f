// lumiclip-cli's capture kinds, formats and sizes: WebP, quality, the full page, an element, a side of 0
// that keeps the proportions, the scale factor.
#include "cli/cli_options.h"
#include "cli_fixture.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QUrl>

#include <cstdlib>

using namespace lumiclip;
using namespace lumiclip::test;
namespace {

// Pages whose parts show where they end up: colours in known places, an element below the fold of a
// scrolled page, fine detail.
class CliCaptureKinds : public CliBrowser {
protected:
    static void SetUpTestSuite() {
        CliBrowser::SetUpTestSuite();
        server->routeHtml(QStringLiteral("/tall"),
                          "<html><body style='margin:0'>"
                          "<div style='height:1500px;background:rgb(255,0,0)'></div>"
                          "<div style='height:1500px;background:rgb(0,0,255)'></div></body></html>");
        server->routeHtml(QStringLiteral("/element"),
                          "<html><body style='margin:0'><div style='height:1000px'></div>"
                          "<div id='box' style='margin-left:50px;width:200px;height:100px;"
                          "background:rgb(0,128,0)'></div><div id='empty'></div>"
                          "<div style='height:3000px'></div><script>scrollTo(0, 300)</script></body></html>");
        server->routeHtml(
            QStringLiteral("/halves"),
            "<html><body style='margin:0'>"
            "<div style='position:fixed;left:0;top:0;width:50%;height:100%;background:rgb(255,0,0)'>"
            "</div><div style='position:fixed;left:50%;top:0;width:50%;height:100%;"
            "background:rgb(0,0,255)'></div></body></html>");
        server->routeHtml(QStringLiteral("/detail"),
                          "<html><body style='margin:0;font:11px sans-serif'>"
                          "<div style='height:0.5px;background:#000;margin:10px 0'></div>"
                          "<div style='width:300px;height:300px;border-radius:50%;border:1px solid #000;"
                          "background:repeating-linear-gradient(45deg,#000 0 1px,#fff 1px 3px)'></div>"
                          "<p>The quick brown fox jumps over the lazy dog 0123456789</p></body></html>");
    }

    QJsonObject runJson(const QStringList& args, int* code = nullptr, QByteArray* err = nullptr) {
        QByteArray out;
        const int status = run(QStringList{QStringLiteral("--json")} + args, &out, err);
        if (code) {
            *code = status;
        }
        return QJsonDocument::fromJson(out.trimmed()).object();
    }
};

QColor colourAt(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

// Near enough after scaling and encoding.
bool near(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 &&
           std::abs(a.blue() - b.blue()) < 24;
}

}  // namespace

TEST_F(CliCaptureKinds, TheHelpNamesTheCaptureFlagsAndWebp) {
    QByteArray out;
    ASSERT_EQ(run({QStringLiteral("--help")}, &out), 0);
    for (const char* flag :
         {"--quality", "--full-page", "--selector", "--scale-factor", "WEBP", "one side 0"}) {
        EXPECT_TRUE(out.contains(flag)) << flag;
    }
}

TEST_F(CliCaptureKinds, WebpIsWrittenAtTheRequestedSize) {
    const QString output = dir.filePath(QStringLiteral("shot.webp"));
    QByteArray out;
    ASSERT_EQ(run({QStringLiteral("-o"), output, QStringLiteral("-f"), QStringLiteral("webp"),
                   QStringLiteral("--size"), QStringLiteral("200x50"), server->url(QStringLiteral("/one"))},
                  &out),
              0);
    EXPECT_EQ(sniffImageFormat(readFile(output)), QStringLiteral("WEBP"));
    EXPECT_EQ(imageFileSize(output), QSize(200, 50));
    EXPECT_TRUE(out.contains("200x50 WEBP")) << out.toStdString();
    // Named by its own extension in a folder.
    const QJsonObject line =
        runJson({QStringLiteral("-f"), QStringLiteral("WEBP"), QStringLiteral("-o"),
                 dir.filePath(QStringLiteral("w/")), server->url(QStringLiteral("/one"))});
    EXPECT_TRUE(line.value(QStringLiteral("output")).toString().endsWith(QStringLiteral(".webp")));
}

TEST_F(CliCaptureKinds, ALowerQualityGivesASmallerJpegOrWebpOfTheSamePage) {
    for (const char* format : {"JPG", "WEBP"}) {
        qint64 bytes[2] = {};
        const char* qualities[] = {"15", "95"};
        for (int i = 0; i < 2; ++i) {
            const QString output = dir.filePath(
                QStringLiteral("q%1.%2").arg(QString::fromLatin1(qualities[i]), QString::fromLatin1(format)));
            ASSERT_EQ(
                run({QStringLiteral("-o"), output, QStringLiteral("-f"), QString::fromLatin1(format),
                     QStringLiteral("--quality"), QString::fromLatin1(qualities[i]), QStringLiteral("--size"),
                     QStringLiteral("810x600"), server->url(QStringLiteral("/detail"))}),
                0)
                << format;
            bytes[i] = QFileInfo(output).size();
        }
        EXPECT_GT(bytes[0], 0) << format;
        EXPECT_LT(bytes[0] * 2, bytes[1]) << format << ": " << bytes[0] << " vs " << bytes[1];
    }
}

TEST_F(CliCaptureKinds, AQualityForAFormatWithoutOneIsAUsageError) {
    QByteArray err;
    const QString output = dir.filePath(QStringLiteral("q.png"));
    EXPECT_EQ(run({QStringLiteral("-o"), output, QStringLiteral("-f"), QStringLiteral("PNG"),
                   QStringLiteral("--quality"), QStringLiteral("50"), server->url(QStringLiteral("/one"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("--quality")) << err.toStdString();
    EXPECT_TRUE(err.contains("PNG")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(output));
    // The format may come from the settings.
    writeFile(settings, "[capture]\nimg_format=GIF\n");
    err.clear();
    EXPECT_EQ(run({QStringLiteral("-o"), output, QStringLiteral("--quality"), QStringLiteral("50"),
                   server->url(QStringLiteral("/one"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("--quality")) << err.toStdString();
    EXPECT_EQ(run({QStringLiteral("--full-page"), QStringLiteral("--selector"), QStringLiteral("p"),
                   server->url(QStringLiteral("/one"))}),
              2);
}

TEST_F(CliCaptureKinds, AFullPageIsTheWholeDocumentAndASideOfZeroKeepsItsProportions) {
    const QString output = dir.filePath(QStringLiteral("full.png"));
    const QJsonObject line =
        runJson({QStringLiteral("-o"), output, QStringLiteral("-f"), QStringLiteral("PNG"),
                 QStringLiteral("--full-page"), QStringLiteral("--size"), QStringLiteral("270x0"),
                 server->url(QStringLiteral("/tall"))});
    ASSERT_TRUE(line.value(QStringLiteral("ok")).toBool())
        << line.value(QStringLiteral("error")).toString().toStdString();
    // 810x3000 at a third.
    EXPECT_EQ(line.value(QStringLiteral("width")).toInt(), 270);
    EXPECT_EQ(line.value(QStringLiteral("height")).toInt(), 1000);
    const QImage image(output);
    ASSERT_EQ(image.size(), QSize(270, 1000));
    EXPECT_TRUE(near(colourAt(image, 135, 10), QColor(255, 0, 0)));
    EXPECT_TRUE(near(colourAt(image, 135, 490), QColor(255, 0, 0)));
    EXPECT_TRUE(near(colourAt(image, 135, 510), QColor(0, 0, 255)));
    EXPECT_TRUE(near(colourAt(image, 269, 999), QColor(0, 0, 255)));

    // The view keeps the view's proportions; the text result gives the size written too.
    QByteArray out;
    ASSERT_EQ(run({QStringLiteral("-o"), dir.filePath(QStringLiteral("view.png")), QStringLiteral("-f"),
                   QStringLiteral("PNG"), QStringLiteral("--size"), QStringLiteral("0x200"),
                   server->url(QStringLiteral("/tall"))},
                  &out),
              0);
    EXPECT_EQ(imageFileSize(dir.filePath(QStringLiteral("view.png"))), QSize(270, 200));
    EXPECT_TRUE(out.contains("270x200 PNG")) << out.toStdString();
}

TEST_F(CliCaptureKinds, ASelectorCapturesThatElementsBoxWhereverThePageIsScrolled) {
    const QString output = dir.filePath(QStringLiteral("box.png"));
    const QJsonObject line =
        runJson({QStringLiteral("-o"), output, QStringLiteral("-f"), QStringLiteral("PNG"),
                 QStringLiteral("--selector"), QStringLiteral("#box"), QStringLiteral("--size"),
                 QStringLiteral("0x50"), server->url(QStringLiteral("/element"))});
    ASSERT_TRUE(line.value(QStringLiteral("ok")).toBool())
        << line.value(QStringLiteral("error")).toString().toStdString();
    EXPECT_EQ(line.value(QStringLiteral("width")).toInt(), 100);
    EXPECT_EQ(line.value(QStringLiteral("height")).toInt(), 50);
    const QImage image(output);
    ASSERT_EQ(image.size(), QSize(100, 50));
    for (const QPoint p : {QPoint(0, 0), QPoint(50, 25), QPoint(99, 49), QPoint(0, 49), QPoint(99, 0)}) {
        EXPECT_TRUE(near(colourAt(image, p.x(), p.y()), QColor(0, 128, 0)))
            << p.x() << "," << p.y() << ": " << colourAt(image, p.x(), p.y()).name().toStdString();
    }
}

TEST_F(CliCaptureKinds, AnElementThatIsMissingOrEmptyFailsThePageAndWritesNothing) {
    const struct {
        const char* selector;
        const char* reason;
    } cases[] = {{"#nothing", "no element matches the selector \"#nothing\""},
                 {"#empty", "the element matching \"#empty\" has an empty box"},
                 {"#[", "the selector \"#[\" is not valid"}};
    for (const auto& c : cases) {
        const QString output = dir.filePath(QStringLiteral("none.png"));
        QByteArray err;
        int code = 0;
        const QJsonObject line =
            runJson({QStringLiteral("-o"), output, QStringLiteral("--selector"),
                     QString::fromLatin1(c.selector), server->url(QStringLiteral("/element"))},
                    &code, &err);
        EXPECT_EQ(code, 1) << c.selector;
        EXPECT_FALSE(line.value(QStringLiteral("ok")).toBool()) << c.selector;
        EXPECT_TRUE(line.value(QStringLiteral("error")).toString().contains(QString::fromLatin1(c.reason)))
            << line.value(QStringLiteral("error")).toString().toStdString();
        EXPECT_TRUE(err.contains(c.reason)) << err.toStdString();
        EXPECT_FALSE(QFile::exists(output)) << c.selector;
    }
}

TEST_F(CliCaptureKinds, AScaleFactorRendersMoreDetailInTheSameFrame) {
    const auto capture = [this](const char* page, const char* scale) {
        const QString output = dir.filePath(
            QStringLiteral("%1-%2.png").arg(QString::fromLatin1(page + 1), QString::fromLatin1(scale)));
        EXPECT_EQ(run({QStringLiteral("-o"), output, QStringLiteral("-f"), QStringLiteral("PNG"),
                       QStringLiteral("--view"), QStringLiteral("400x300"), QStringLiteral("--size"),
                       QStringLiteral("400x300"), QStringLiteral("--scale-factor"),
                       QString::fromLatin1(scale), server->url(QString::fromLatin1(page))}),
                  0)
            << page << " " << scale;
        return QImage(output).convertToFormat(QImage::Format_RGB32);
    };
    const QImage plain = capture("/detail", "1");
    const QImage sharp = capture("/detail", "2");
    ASSERT_EQ(plain.size(), QSize(400, 300));
    ASSERT_EQ(sharp.size(), QSize(400, 300));
    EXPECT_NE(plain, sharp);

    for (const char* scale : {"1", "1.5", "2"}) {
        const QImage halves = capture("/halves", scale);
        ASSERT_EQ(halves.size(), QSize(400, 300)) << scale;
        EXPECT_TRUE(near(colourAt(halves, 190, 150), QColor(255, 0, 0))) << scale;
        EXPECT_TRUE(near(colourAt(halves, 210, 150), QColor(0, 0, 255))) << scale;
        EXPECT_TRUE(near(colourAt(halves, 399, 299), QColor(0, 0, 255))) << scale;
    }
}
