#include "core/capture/create_html_image.h"
#include "core/image/encoder_table.h"
#include "core/image/image_writer.h"
#include "core/capture/page_capture.h"

#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A rendering of the whole view in one colour.
QByteArray solidRendering(int w, int h, QColor colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return pngOf(image);
}

EncoderId encoderFor(const QString& format) {
    EncoderId id;
    FindEncoderByMime(QString::fromLatin1(kImageMimeTypes[static_cast<size_t>(MimeIndexForFormat(format))]),
                      &id);
    return id;
}

}  // namespace

TEST(FormatTable, NamesAreComparedExactlyAndEverythingElseIsJpeg) {
    const struct {
        const char* format;
        const char* mime;
    } cases[] = {{"JPG", "image/jpeg"}, {"GIF", "image/gif"},  {"PNG", "image/png"},
                 {"png", "image/jpeg"}, {"Jpg", "image/jpeg"}, {"BMP", "image/jpeg"},
                 {"TIF", "image/jpeg"}, {"", "image/jpeg"},    {" PNG", "image/jpeg"}};
    for (const auto& c : cases) {
        EXPECT_STREQ(kImageMimeTypes[static_cast<size_t>(MimeIndexForFormat(QString::fromLatin1(c.format)))],
                     c.mime)
            << c.format;
    }
}

TEST(FormatTable, FindsInstalledEncodersAndLeavesTheIdAloneWhenThereIsNone) {
    EncoderId id;
    EXPECT_GE(FindEncoderByMime(QStringLiteral("image/png"), &id), 0);
    EXPECT_EQ(id.mimeType, QStringLiteral("image/png"));
    const EncoderId before = id;
    EXPECT_EQ(FindEncoderByMime(QStringLiteral("image/bmp"), &id), -1);
    EXPECT_EQ(FindEncoderByMime(QStringLiteral("IMAGE/PNG"), &id), -1);
    EXPECT_EQ(id, before);

    CCreateHTMLImage host;
    EXPECT_TRUE(host.m_clsidEncoder.isNull());
    EXPECT_TRUE(host.SelectEncoder(2));
    EXPECT_EQ(host.m_clsidEncoder.mimeType, QStringLiteral("image/gif"));
    EXPECT_FALSE(host.SelectEncoder(0));  // no BMP encoder: the previous choice stays
    EXPECT_EQ(host.m_clsidEncoder.mimeType, QStringLiteral("image/gif"));
}

TEST(ImageWriter, WritesEachFormatAtExactlyTheImageSizeWhateverTheExtension) {
    QTemporaryDir dir;
    const QByteArray rendering = solidRendering(810, 600, Qt::blue);
    const struct {
        const char* format;
        const char* sniffed;
        int w;
        int h;
    } cases[] = {{"PNG", "PNG", 180, 138}, {"GIF", "GIF", 180, 138}, {"JPG", "JPEG", 180, 138},
                 {"png", "JPEG", 200, 50}, {"", "JPEG", 1, 1},       {"PNG", "PNG", 1024, 1024}};
    int n = 0;
    for (const auto& c : cases) {
        // The extension deliberately names another format: the content follows the format name.
        const QString path = dir.filePath(QStringLiteral("shot%1.bmp").arg(n++));
        PageSnapshot snapshot{rendering, true};
        QString error;
        ASSERT_TRUE(RenderSnapshotToFile(snapshot, path, 810, 600, c.w, c.h,
                                         encoderFor(QString::fromLatin1(c.format)), &error))
            << error.toStdString();
        EXPECT_EQ(sniffImageFormat(readFile(path)), QString::fromLatin1(c.sniffed)) << c.format;
        EXPECT_EQ(imageFileSize(path), QSize(c.w, c.h)) << c.format;
    }
}

TEST(ImageWriter, WhatThePageDoesNotPaintStaysWhite) {
    // A rendering smaller than the view and transparent in part: the rest of the raster is white.
    QImage page(405, 300, QImage::Format_ARGB32);
    page.fill(Qt::transparent);
    QPainter(&page).fillRect(0, 0, 200, 150, Qt::black);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corner.png"));
    QString error;
    ASSERT_TRUE(RenderSnapshotToFile(PageSnapshot{pngOf(page), true}, path, 810, 600, 810, 600,
                                     encoderFor(QStringLiteral("PNG")), &error));
    const QImage out(path);
    EXPECT_EQ(out.pixelColor(10, 10), QColor(Qt::black));
    EXPECT_EQ(out.pixelColor(300, 100), QColor(Qt::white));  // transparent part of the page
    EXPECT_EQ(out.pixelColor(700, 500), QColor(Qt::white));  // beyond the page's rendering
}

TEST(ImageWriter, FailsWithoutWritingWhenItCannot) {
    QTemporaryDir dir;
    const QByteArray rendering = solidRendering(100, 100, Qt::red);
    QString error;
    const QString missingFolder = dir.filePath(QStringLiteral("no/such/folder/x.jpg"));
    EXPECT_FALSE(RenderSnapshotToFile(PageSnapshot{rendering, true}, missingFolder, 100, 100, 10, 10,
                                      encoderFor(QStringLiteral("JPG")), &error));
    EXPECT_FALSE(QFile::exists(missingFolder));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot write")));

    const QString noBody = dir.filePath(QStringLiteral("svg.jpg"));
    EXPECT_FALSE(RenderSnapshotToFile(PageSnapshot{rendering, false}, noBody, 100, 100, 10, 10,
                                      encoderFor(QStringLiteral("JPG")), &error));
    EXPECT_FALSE(QFile::exists(noBody));

    const QString noEncoder = dir.filePath(QStringLiteral("none.jpg"));
    EXPECT_FALSE(RenderSnapshotToFile(PageSnapshot{rendering, true}, noEncoder, 100, 100, 10, 10, EncoderId{},
                                      &error));
    EXPECT_FALSE(QFile::exists(noEncoder));

    for (const QSize bad : {QSize(0, 10), QSize(10, -1), QSize(16385, 10)}) {
        const QString path = dir.filePath(QStringLiteral("bad.jpg"));
        EXPECT_FALSE(RenderSnapshotToFile(PageSnapshot{rendering, true}, path, 100, 100, bad.width(),
                                          bad.height(), encoderFor(QStringLiteral("JPG")), &error));
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_TRUE(error.contains(QStringLiteral("image")));
    }
}

TEST(ImageWriter, AFailedWriteLeavesTheEarlierFileWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("keep.jpg"));
    ASSERT_TRUE(writeFile(path, "earlier image"));
    QString error;
    EXPECT_FALSE(RenderSnapshotToFile(PageSnapshot{QByteArray("not a png"), true}, path, 100, 100, 10, 10,
                                      encoderFor(QStringLiteral("JPG")), &error));
    EXPECT_EQ(readFile(path), QByteArray("earlier image"));
}
