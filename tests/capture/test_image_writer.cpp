#include "core/browser/browser.h"
#include "core/capture/create_html_image.h"
#include "core/capture/page_capture.h"
#include "core/capture/view_image.h"
#include "core/image/encoder_table.h"
#include "core/image/image_format.h"
#include "core/image/image_writer.h"

#include "image_writer_helpers.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

using namespace lumiclip;
using namespace lumiclip::test;

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

    Browser browser;
    CCreateHTMLImage host(browser);
    EXPECT_TRUE(host.m_clsidEncoder.isNull());
    EXPECT_TRUE(host.SelectEncoder(2));
    EXPECT_EQ(host.m_clsidEncoder.mimeType, QStringLiteral("image/gif"));
    EXPECT_FALSE(host.SelectEncoder(0));  // no BMP encoder: the previous choice stays
    EXPECT_EQ(host.m_clsidEncoder.mimeType, QStringLiteral("image/gif"));
}

TEST(FormatTable, WebpIsWrittenByTheToolButNotOfferedByTheDesktopProgram) {
    const ImageFormat* webp = FindImageFormat(u"webp", Qt::CaseInsensitive);
    ASSERT_NE(webp, nullptr);
    EXPECT_STREQ(webp->extension, "webp");
    EncoderId encoder;
    ASSERT_TRUE(EncoderForFormat(QStringLiteral("WEBP"), &encoder));
    EXPECT_EQ(encoder.saver, QStringLiteral("webpsave_buffer"));
    EXPECT_EQ(encoder.mimeType, QStringLiteral("image/webp"));
    EXPECT_TRUE(ImageFormatNames().contains(QStringLiteral("WEBP")));
    EXPECT_EQ(ImageFormatNames(true),
              (QStringList{QStringLiteral("JPG"), QStringLiteral("GIF"), QStringLiteral("PNG")}));
    EXPECT_FALSE(
        SaveAsFilters().join(QLatin1Char(';')).contains(QStringLiteral("webp"), Qt::CaseInsensitive));

    CaptureRequest options;
    QString error;
    const QByteArray bytes = EncodeViewImage(solidRendering(810, 600, Qt::blue), options, encoder, &error);
    EXPECT_EQ(sniffImageFormat(bytes), QStringLiteral("WEBP")) << error.toStdString();
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
        const PageSnapshot snapshot = snapshotOf(rendering, true);
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
    ASSERT_TRUE(RenderSnapshotToFile(snapshotOf(pngOf(page), true), path, 810, 600, 810, 600,
                                     encoderFor(QStringLiteral("PNG")), &error));
    const QImage out(path);
    EXPECT_EQ(out.pixelColor(10, 10), QColor(Qt::black));
    EXPECT_EQ(out.pixelColor(300, 100), QColor(Qt::white));  // transparent part of the page
    EXPECT_EQ(out.pixelColor(700, 500), QColor(Qt::white));  // beyond the page's rendering
}

namespace {

// Left half one colour, right half the other.
QByteArray halvesRendering(int w, int h, QColor left, QColor right) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(right);
    QPainter(&image).fillRect(0, 0, w / 2, h, left);
    return pngOf(image);
}

QImage decoded(const QByteArray& bytes) {
    return QImage::fromData(bytes);
}

}  // namespace

TEST(ImageWriter, AFlatColourComesOutExactlyThatColourAtEveryShrink) {
    // The scaling's kernel must not tint a plain page: a white one stays 255 everywhere, at the default
    // shrink and beyond the point where the scaling changes its way.
    for (const QColor colour : {QColor(Qt::white), QColor(128, 64, 200)}) {
        for (const QSize size : {QSize(180, 138), QSize(405, 300), QSize(100, 100), QSize(20, 15)}) {
            CaptureRequest options;
            options.image.width = size.width();
            options.image.height = size.height();
            QString error;
            const QImage image = decoded(EncodeViewImage(solidRendering(810, 600, colour), options,
                                                         encoderFor(QStringLiteral("PNG")), &error));
            ASSERT_EQ(image.size(), size) << error.toStdString();
            int off = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    off += image.pixelColor(x, y) != colour;
                }
            }
            EXPECT_EQ(off, 0) << colour.name().toStdString() << " at " << size.width() << "x"
                              << size.height();
        }
    }
}

TEST(ImageSize, ASideOfZeroKeepsTheProportionsOfWhatWasCaptured) {
    const struct {
        int w;
        int h;
        QSize captured;
        QSize expected;
    } cases[] = {
        {180, 138, QSize(810, 600), QSize(180, 138)},  // both given: exact, whatever was captured
        {270, 0, QSize(810, 600), QSize(270, 200)},
        {0, 200, QSize(810, 600), QSize(270, 200)},
        {100, 0, QSize(810, 3000), QSize(100, 370)},  // 370.37 rounds down
        {0, 100, QSize(810, 3000), QSize(27, 100)},
        {200, 0, QSize(3, 2), QSize(200, 133)},              // 133.33
        {100, 0, QSize(8, 7), QSize(100, 88)},               // 87.5 rounds up
        {1, 0, QSize(16384, 10), QSize(1, 1)},               // at least 1
        {16384, 0, QSize(100, 16384), QSize(16384, 65500)},  // a height at most a full page's
        {0, 16384, QSize(16384, 100), QSize(16384, 16384)},  // a width at most a view's
        {0, 5, QSize(1, 1), QSize(5, 5)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ImageSizeFor(c.w, c.h, c.captured), c.expected)
            << c.w << "x" << c.h << " of " << c.captured.width() << "x" << c.captured.height();
    }
}

TEST(ImageWriter, AFullPageOrAnElementIsDrawnAtItsOwnSizeAndASideOfZeroFollowsIt) {
    const struct {
        CaptureKind kind;
        QSize rendering;
        double scale;
        QSize asked;
        QSize written;
    } cases[] = {
        // The view's raster is the view's, whatever the rendering covers.
        {CaptureKind::View, QSize(810, 600), 1, QSize(270, 0), QSize(270, 200)},
        {CaptureKind::View, QSize(400, 100), 1, QSize(0, 300), QSize(405, 300)},
        {CaptureKind::View, QSize(1620, 1200), 2, QSize(0, 60), QSize(81, 60)},
        {CaptureKind::FullPage, QSize(810, 3000), 1, QSize(270, 0), QSize(270, 1000)},
        {CaptureKind::FullPage, QSize(1620, 6000), 2, QSize(270, 0), QSize(270, 1000)},
        {CaptureKind::FullPage, QSize(810, 3000), 1, QSize(100, 100), QSize(100, 100)},
        {CaptureKind::Element, QSize(300, 40), 1, QSize(0, 20), QSize(150, 20)},
    };
    for (const auto& c : cases) {
        CaptureRequest options;
        options.shot.kind = c.kind;
        options.page.scaleFactor = c.scale;
        options.image.width = c.asked.width();
        options.image.height = c.asked.height();
        QString error;
        QSize written;
        const QByteArray bytes =
            EncodeViewImage(solidRendering(c.rendering.width(), c.rendering.height(), Qt::blue), options,
                            encoderFor(QStringLiteral("PNG")), &error, &written);
        ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
        const QImage image = decoded(bytes);
        EXPECT_EQ(image.size(), c.written) << c.rendering.width() << "x" << c.rendering.height();
        EXPECT_EQ(written, c.written);
        if (c.kind != CaptureKind::View) {
            // No white frame of the view around what was captured.
            EXPECT_EQ(image.pixelColor(image.width() - 1, image.height() - 1), QColor(Qt::blue));
        }
    }

    CaptureRequest element;
    element.shot.kind = CaptureKind::Element;
    QString error;
    EXPECT_TRUE(EncodeViewImage({}, element, encoderFor(QStringLiteral("PNG")), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST(ImageWriter, TheBandsOfATallPageAreJoinedInOrderUnderTheFirst) {
    CaptureRequest options;
    options.shot.kind = CaptureKind::FullPage;
    options.image.width = 100;
    options.image.height = 0;
    QString error;
    QSize written;
    const QByteArray bytes =
        EncodeViewImage(solidRendering(100, 50, Qt::red), options, encoderFor(QStringLiteral("PNG")), &error,
                        &written, {solidRendering(100, 30, Qt::blue), solidRendering(100, 20, Qt::green)});
    ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
    const QImage image = decoded(bytes);
    EXPECT_EQ(image.size(), QSize(100, 100));
    EXPECT_EQ(image.pixelColor(50, 49), QColor(Qt::red));
    EXPECT_EQ(image.pixelColor(50, 50), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(50, 79), QColor(Qt::blue));
    EXPECT_EQ(image.pixelColor(50, 80), QColor(Qt::green));
    EXPECT_EQ(image.pixelColor(50, 99), QColor(Qt::green));
}

TEST(ImageWriter, TheViewAtAScaleFactorIsDrawnWholeNotItsTopLeftCorner) {
    CaptureRequest options;
    options.page.viewWidth = 400;
    options.page.viewHeight = 300;
    options.image.width = 400;
    options.image.height = 300;
    for (const double scale : {1.0, 1.5, 2.0}) {
        options.page.scaleFactor = scale;
        QString error;
        const QByteArray bytes =
            EncodeViewImage(halvesRendering(qRound(400 * scale), qRound(300 * scale), Qt::red, Qt::blue),
                            options, encoderFor(QStringLiteral("PNG")), &error);
        ASSERT_FALSE(bytes.isEmpty()) << error.toStdString();
        const QImage image = decoded(bytes);
        ASSERT_EQ(image.size(), QSize(400, 300));
        EXPECT_EQ(image.pixelColor(190, 150), QColor(Qt::red)) << scale;
        EXPECT_EQ(image.pixelColor(210, 150), QColor(Qt::blue)) << scale;
        EXPECT_EQ(image.pixelColor(399, 299), QColor(Qt::blue)) << scale;
    }
}

TEST(ImageWriter, ALowerQualityGivesASmallerJpegOrWebpAndOtherFormatsHaveNone) {
    QImage page(400, 300, QImage::Format_RGB32);
    for (int y = 0; y < 300; ++y) {
        for (int x = 0; x < 400; ++x) {
            page.setPixel(x, y, qRgb((x * 7) % 256, (y * 5) % 256, ((x + y) * 3) % 256));
        }
    }
    const QByteArray rendering = pngOf(page);
    CaptureRequest options;
    options.page.viewWidth = 400;
    options.page.viewHeight = 300;
    options.image.width = 400;
    options.image.height = 300;
    const auto encoded = [&](const char* format, int quality) {
        options.image.quality = quality;
        EncoderId encoder;
        EXPECT_TRUE(EncoderForFormat(QString::fromLatin1(format), &encoder)) << format;
        QString error;
        const QByteArray bytes = EncodeViewImage(rendering, options, encoder, &error);
        EXPECT_FALSE(bytes.isEmpty()) << format << " " << quality << ": " << error.toStdString();
        return bytes;
    };
    const struct {
        const char* format;
        const char* sniffed;
    } lossy[] = {{"JPG", "JPEG"}, {"WEBP", "WEBP"}};
    for (const auto& c : lossy) {
        const QByteArray low = encoded(c.format, 10);
        const QByteArray high = encoded(c.format, 95);
        EXPECT_EQ(sniffImageFormat(low), QString::fromLatin1(c.sniffed));
        EXPECT_LT(low.size() * 2, high.size()) << c.format << ": " << low.size() << " vs " << high.size();
        EXPECT_NE(encoded(c.format, 0).size(), low.size()) << c.format;  // 0: the library's default
    }
    // A quality given for a format without one is no failure of the image step, and changes nothing.
    EXPECT_EQ(sniffImageFormat(encoded("GIF", 10)), QStringLiteral("GIF"));
    EXPECT_EQ(encoded("PNG", 10), encoded("PNG", 0));
}

TEST(ImageWriter, FailsWithoutWritingWhenItCannot) {
    QTemporaryDir dir;
    const QByteArray rendering = solidRendering(100, 100, Qt::red);
    QString error;
    const QString missingFolder = dir.filePath(QStringLiteral("no/such/folder/x.jpg"));
    EXPECT_FALSE(RenderSnapshotToFile(snapshotOf(rendering, true), missingFolder, 100, 100, 10, 10,
                                      encoderFor(QStringLiteral("JPG")), &error));
    EXPECT_FALSE(QFile::exists(missingFolder));
    EXPECT_TRUE(error.contains(QStringLiteral("cannot write")));

    const QString noBody = dir.filePath(QStringLiteral("svg.jpg"));
    EXPECT_FALSE(RenderSnapshotToFile(snapshotOf(rendering, false), noBody, 100, 100, 10, 10,
                                      encoderFor(QStringLiteral("JPG")), &error));
    EXPECT_FALSE(QFile::exists(noBody));

    const QString noEncoder = dir.filePath(QStringLiteral("none.jpg"));
    EXPECT_FALSE(
        RenderSnapshotToFile(snapshotOf(rendering, true), noEncoder, 100, 100, 10, 10, EncoderId{}, &error));
    EXPECT_FALSE(QFile::exists(noEncoder));

    for (const QSize bad : {QSize(0, 0), QSize(10, -1), QSize(16385, 10), QSize(0, 16385)}) {
        const QString path = dir.filePath(QStringLiteral("bad.jpg"));
        EXPECT_FALSE(RenderSnapshotToFile(snapshotOf(rendering, true), path, 100, 100, bad.width(),
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
    EXPECT_FALSE(RenderSnapshotToFile(snapshotOf(QByteArray("not a png"), true), path, 100, 100, 10, 10,
                                      encoderFor(QStringLiteral("JPG")), &error));
    EXPECT_EQ(readFile(path), QByteArray("earlier image"));
}

namespace {

QByteArray encodedPath(const QString& path) {
    return QFile::encodeName(path);
}

}  // namespace

TEST(ImageWriterLinks, ANameOfOursReplacesALinkPlantedUnderItAndNeverItsTarget) {
    QTemporaryDir dir;
    const QString victim = dir.filePath(QStringLiteral("authorized_keys"));
    ASSERT_TRUE(writeFile(victim, "ssh-ed25519 AAAA"));
    const QString shared = dir.filePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkpath(shared));
    const QString planted = shared + QStringLiteral("/127.0.0.1_8080_page.jpg");
    ASSERT_EQ(::symlink(encodedPath(victim).constData(), encodedPath(planted).constData()), 0);
    // A link to nowhere cannot make a new file elsewhere either.
    const QString nowhere = dir.filePath(QStringLiteral("created-elsewhere"));
    const QString dangling = shared + QStringLiteral("/other.jpg");
    ASSERT_EQ(::symlink(encodedPath(nowhere).constData(), encodedPath(dangling).constData()), 0);

    QString error;
    ASSERT_TRUE(WriteFileAtomically(planted, "image", &error, LinkRule::Replace)) << error.toStdString();
    ASSERT_TRUE(WriteFileAtomically(dangling, "image", &error, LinkRule::Replace)) << error.toStdString();
    EXPECT_EQ(readFile(victim), QByteArray("ssh-ed25519 AAAA"));
    EXPECT_FALSE(QFile::exists(nowhere));
    for (const QString& path : {planted, dangling}) {
        EXPECT_FALSE(QFileInfo(path).isSymLink());
        EXPECT_EQ(readFile(path), QByteArray("image"));
    }

    // Through the capture's options: a name the program made replaces the link.
    QFile::remove(planted);
    ASSERT_EQ(::symlink(encodedPath(victim).constData(), encodedPath(planted).constData()), 0);
    CaptureRequest options;
    options.output.path = planted;
    options.output.nameMade = true;
    options.image.width = 10;
    options.image.height = 10;
    ASSERT_TRUE(
        WriteViewImage(solidRendering(810, 600, Qt::red), options, encoderFor(QStringLiteral("JPG")), &error))
        << error.toStdString();
    EXPECT_EQ(readFile(victim), QByteArray("ssh-ed25519 AAAA"));
    EXPECT_FALSE(QFileInfo(planted).isSymLink());
}

TEST(ImageWriterLinks, ALinkTheUserNamedIsFollowedUnlessAnotherUserPlantedItInASharedFolder) {
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("real.jpg"));
    ASSERT_TRUE(writeFile(target, "old"));
    const QString link = dir.filePath(QStringLiteral("latest.jpg"));
    ASSERT_EQ(::symlink(encodedPath(target).constData(), encodedPath(link).constData()), 0);
    QString error;
    ASSERT_TRUE(WriteFileAtomically(link, "new", &error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(readFile(target), QByteArray("new"));

    if (::geteuid() != 0) {
        GTEST_SKIP() << "planting a link as another user needs root";
    }
    // A folder everybody may write, with the sticky bit, as /tmp; a link in it of another user's.
    const QString sticky = dir.filePath(QStringLiteral("sticky"));
    ASSERT_TRUE(QDir().mkpath(sticky));
    ASSERT_EQ(::chmod(encodedPath(sticky).constData(), 01777), 0);
    const QString planted = sticky + QStringLiteral("/shot.jpg");
    ASSERT_EQ(::symlink(encodedPath(target).constData(), encodedPath(planted).constData()), 0);
    ASSERT_EQ(::lchown(encodedPath(planted).constData(), 65534, 65534), 0);
    EXPECT_EQ(WriteFileAtomicallyErrno(planted, "planted"), EACCES);
    EXPECT_EQ(readFile(target), QByteArray("new"));
    // The user's own link there is followed as before.
    ASSERT_EQ(::lchown(encodedPath(planted).constData(), 0, 0), 0);
    EXPECT_EQ(WriteFileAtomicallyErrno(planted, "mine"), 0);
    EXPECT_EQ(readFile(target), QByteArray("mine"));
}

TEST(ImageWriterLinks, ADeviceOrAFifoIsWrittenIntoAndNeverReplaced) {
    QTemporaryDir dir;
    // A FIFO with a reader gets the bytes and stays a FIFO.
    const QString fifo = dir.filePath(QStringLiteral("pipe.jpg"));
    ASSERT_EQ(::mkfifo(encodedPath(fifo).constData(), 0600), 0);
    const int reader = ::open(encodedPath(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    QString error;
    for (const LinkRule rule : {LinkRule::Follow, LinkRule::Replace}) {
        ASSERT_TRUE(WriteFileAtomically(fifo, "through", &error, rule)) << error.toStdString();
        char got[16] = {};
        EXPECT_EQ(::read(reader, got, sizeof got), 7);
        EXPECT_EQ(QByteArray(got, 7), QByteArray("through"));
        struct stat st {};
        ASSERT_EQ(::lstat(encodedPath(fifo).constData(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
    ::close(reader);
    // Without a reader it fails at once with the system's reason instead of waiting for one.
    EXPECT_EQ(WriteFileAtomicallyErrno(fifo, "nobody"), ENXIO);
    struct stat st {};
    ASSERT_EQ(::lstat(encodedPath(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System).size(), 1);

    // A character device (a null device of our own, as /dev/null).
    const QString device = dir.filePath(QStringLiteral("null"));
    if (::mknod(encodedPath(device).constData(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
        GTEST_SKIP() << "making a device node needs root";
    }
    ASSERT_TRUE(WriteFileAtomically(device, "discarded", &error)) << error.toStdString();
    ASSERT_EQ(::lstat(encodedPath(device).constData(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}
