// Whole pages and several images of one: a full page scrolled through for its lazy content, a page
// taller than one screenshot in bands, and several sizes from one load.
#include "real_pages_fixture.h"

#include <QDir>
#include <QFile>

using namespace lumiclip;
using namespace lumiclip::test;

TEST_F(CliRealPages, AFullPageIsScrolledThroughSoThatLazyContentIsThere) {
    // The lower block turns green only once it has been in view; a lazy image below it too.
    server->routeHtml(QStringLiteral("/lazy"),
                      "<html><body style='margin:0'>"
                      "<div style='height:2000px;background:rgb(255,255,255)'></div>"
                      "<div id='low' style='height:600px;background:rgb(200,0,0)'></div>"
                      "<img loading='lazy' src='/green.svg' style='display:block;width:200px;height:300px'>"
                      "<script>new IntersectionObserver(function (entries) {"
                      "  if (entries[0].isIntersecting) entries[0].target.style.background = 'rgb(0,160,0)';"
                      "}).observe(document.getElementById('low'));</script></body></html>");
    HttpResponse green;
    green.body =
        "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'>"
        "<rect width='10' height='10' fill='rgb(0,160,0)'/></svg>";
    green.contentType = "image/svg+xml";
    green.delayMs = 300;
    server->route(QStringLiteral("/green.svg"), green);
    const QStringList fullPage{QStringLiteral("--full-page"), QStringLiteral("--view"),
                               QStringLiteral("200x150"), QStringLiteral("--size"), QStringLiteral("200x0")};
    Shot shot = shoot(QStringLiteral("/lazy"), fullPage, false);
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    ASSERT_EQ(shot.image.height(), 2900);
    EXPECT_EQ(shot.at(100, 2300), kGreen);
    EXPECT_EQ(shot.at(100, 2750), kGreen);
    shot = shoot(QStringLiteral("/lazy"), fullPage + QStringList{QStringLiteral("--no-lazy-load")}, false);
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.at(100, 2300), kRed);
}

TEST_F(CliRealPages, SeveralSizesComeFromOneLoad) {
    server->routeHtml(QStringLiteral("/sizes"),
                      "<html><body style='margin:0;background:rgb(0,160,0)'></body></html>");
    const QString folder = dir.filePath(QStringLiteral("sizes"));
    const int before = server->hits(QStringLiteral("/sizes"));
    QByteArray out;
    QByteArray err;
    // One address and several sizes: -o is a folder, and each image is named with its size.
    ASSERT_EQ(run({QStringLiteral("-f"), QStringLiteral("PNG"), QStringLiteral("--size"),
                   QStringLiteral("180x138"), QStringLiteral("--size"), QStringLiteral("360x276"),
                   QStringLiteral("--size"), QStringLiteral("90x0"), QStringLiteral("--json"),
                   QStringLiteral("-o"), folder, server->url(QStringLiteral("/sizes"))},
                  &out, &err),
              0)
        << err.toStdString();
    EXPECT_EQ(server->hits(QStringLiteral("/sizes")), before + 1);
    const QList<QJsonObject> lines = jsonLines(out);
    ASSERT_EQ(lines.size(), 3) << out.toStdString();
    const QList<QSize> expected{QSize(180, 138), QSize(360, 276), QSize(90, 67)};
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString output = lines[i].value(QStringLiteral("output")).toString();
        const QImage image(output);
        EXPECT_EQ(image.size(), expected[i]) << output.toStdString();
        EXPECT_EQ(QSize(lines[i].value(QStringLiteral("width")).toInt(),
                        lines[i].value(QStringLiteral("height")).toInt()),
                  expected[i]);
        EXPECT_TRUE(output.startsWith(folder + QLatin1Char('/'))) << output.toStdString();
        EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2), kGreen);
    }
    EXPECT_TRUE(lines[0].value(QStringLiteral("output")).toString().endsWith(QStringLiteral("-180x138.png")));
    EXPECT_TRUE(lines[2].value(QStringLiteral("output")).toString().endsWith(QStringLiteral("-90x0.png")));

    // {size} in a template; a size a format cannot hold is a usage error before any load.
    ASSERT_EQ(
        run({QStringLiteral("--size"), QStringLiteral("180x138"), QStringLiteral("--size"),
             QStringLiteral("360x276"), QStringLiteral("--name"), QStringLiteral("thumb-{size}"),
             QStringLiteral("-o"), folder + QStringLiteral("/named/"), server->url(QStringLiteral("/sizes"))},
            nullptr, &err),
        0)
        << err.toStdString();
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/named/thumb-180x138.jpg")));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/named/thumb-360x276.jpg")));
    const int hits = server->hits(QStringLiteral("/sizes"));
    EXPECT_EQ(run({QStringLiteral("-f"), QStringLiteral("WEBP"), QStringLiteral("--size"),
                   QStringLiteral("180x138"), QStringLiteral("--size"), QStringLiteral("16384x100"),
                   QStringLiteral("-o"), folder, server->url(QStringLiteral("/sizes"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("16384x100 is too large for WEBP")) << err.toStdString();
    EXPECT_EQ(server->hits(QStringLiteral("/sizes")), hits);
}

TEST_F(CliRealPages, ATallPageIsCapturedInBandsJoinedWithoutASeam) {
    // 30000 px: taller than one screenshot. A fixed header at the top, a blue stripe across the place
    // where the first band ends, and a green last band.
    server->routeHtml(
        QStringLiteral("/tall"),
        "<html><body style='margin:0'>"
        "<div "
        "style='position:fixed;z-index:1;top:0;left:0;right:0;height:40px;background:rgb(200,0,0)'></div>"
        "<div style='position:relative;height:30000px;background:rgb(255,255,255)'>"
        "<div style='position:absolute;top:16374px;height:20px;width:100%;background:rgb(0,0,200)'></div>"
        "<div style='position:absolute;top:29000px;height:1000px;width:100%;background:rgb(0,160,0)'></div>"
        "</div></body></html>");
    const QStringList fullPage{QStringLiteral("--full-page"), QStringLiteral("--view"),
                               QStringLiteral("200x150"), QStringLiteral("--size"), QStringLiteral("200x0")};
    Shot shot = shoot(QStringLiteral("/tall"),
                      fullPage + QStringList{QStringLiteral("--max-height"), QStringLiteral("65500")}, false);
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    ASSERT_EQ(shot.image.size(), QSize(200, 30000));
    EXPECT_EQ(shot.at(100, 20), kRed);
    const QColor blue(0, 0, 200);
    for (int y : {16374, 16383, 16384, 16393}) {
        EXPECT_EQ(shot.at(100, y), blue) << "row " << y;
    }
    // The fixed header is drawn once, at the top; not again where the second band begins.
    EXPECT_EQ(shot.at(100, 16384 + 20), QColor(Qt::white));
    EXPECT_EQ(shot.at(100, 29500), kGreen);
    EXPECT_EQ(shot.at(100, 29999), kGreen);

    // By default, at most 16384 pixels, as one screenshot holds.
    shot = shoot(QStringLiteral("/tall"), fullPage, false);
    ASSERT_EQ(shot.status, 0) << shot.err.toStdString();
    EXPECT_EQ(shot.image.size(), QSize(200, 16384));

    // WebP holds at most 16383 pixels a side: known before any page loads.
    QByteArray err;
    EXPECT_EQ(run(fullPage + QStringList{QStringLiteral("--max-height"), QStringLiteral("30000"),
                                         QStringLiteral("-f"), QStringLiteral("webp"),
                                         server->url(QStringLiteral("/tall"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("WEBP holds at most 16383")) << err.toStdString();
}
