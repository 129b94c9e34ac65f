#include "preview/picture.h"
#include "widgets/message_box.h"

#include "support/test_util.h"

#include <gtest/gtest.h>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <cerrno>
#include <cstring>
#include <vector>

namespace lumiclip {
namespace {

class PictureTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previous = SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            m_boxes.push_back(r);
            return MessageAnswer::Ok;
        });
        ASSERT_TRUE(m_dir.isValid());
    }
    void TearDown() override { SetMessageBoxHandler(m_previous); }

    QString writeImage(const QString& name, int w, int h, const char* format) {
        QImage image(w, h, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, format);
        const QString path = m_dir.filePath(name);
        test::writeFile(path, bytes);
        return path;
    }

    QTemporaryDir m_dir;
    std::vector<MessageBoxRequest> m_boxes;
    MessageBoxHandler m_previous;
};

TEST_F(PictureTest, LoadsAtNinetySixDpiAndRescalesForTheDevice) {
    CPicture picture;
    const QString path = writeImage(QStringLiteral("a.png"), 1024, 768, "PNG");
    ASSERT_TRUE(picture.LoadFromFile(path));
    EXPECT_EQ(picture.m_nWidth, 1024);
    EXPECT_EQ(picture.m_nHeight, 768);
    EXPECT_EQ(picture.m_nSize, test::readFile(path).size());

    QImage device(10, 10, QImage::Format_RGB32);
    device.setDotsPerMeterX(qRound(120 / 0.0254));
    device.setDotsPerMeterY(qRound(120 / 0.0254));
    ASSERT_TRUE(picture.UpdateSizeForDevice(&device));
    EXPECT_EQ(picture.m_nWidth, 1280);
    EXPECT_EQ(picture.m_nHeight, 960);

    QPdfWriter pdf(m_dir.filePath(QStringLiteral("x.pdf")));
    ASSERT_TRUE(picture.UpdateSizeForDevice(&pdf));
    EXPECT_EQ(picture.m_nWidth, 1024);
    EXPECT_EQ(picture.m_nHeight, 768);
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PictureTest, MissingFileShowsTheErrorAndClearsAnEarlierPicture) {
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(writeImage(QStringLiteral("a.jpg"), 64, 32, "JPG")));
    EXPECT_FALSE(picture.LoadFromFile(m_dir.filePath(QStringLiteral("missing.jpg"))));
    EXPECT_FALSE(picture.HasPicture());
    EXPECT_EQ(picture.m_nWidth, 0);
    EXPECT_EQ(picture.m_nHeight, 0);
    EXPECT_EQ(picture.m_nSize, 0);
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0].caption, QStringLiteral("CPicture Error"));
    EXPECT_EQ(m_boxes[0].icon, MessageIcon::Stop);
    EXPECT_EQ(m_boxes[0].buttons, MessageButtons::Ok);
    EXPECT_TRUE(m_boxes[0].text.contains(QStringLiteral("missing.jpg")));
    EXPECT_LE(m_boxes[0].text.size(), 255);
}

TEST_F(PictureTest, EmptyAndUndecodableFilesFailSilently) {
    CPicture picture;
    const QString empty = m_dir.filePath(QStringLiteral("empty.png"));
    test::writeFile(empty, {});
    EXPECT_FALSE(picture.LoadFromFile(empty));
    EXPECT_EQ(picture.m_nSize, 0);

    const QString junk = m_dir.filePath(QStringLiteral("junk.png"));
    test::writeFile(junk, QByteArray(333, 'x'));
    EXPECT_FALSE(picture.LoadFromFile(junk));
    EXPECT_EQ(picture.m_nSize, 333);
    EXPECT_EQ(picture.m_nWidth, 0);
    EXPECT_EQ(picture.m_nHeight, 0);
    EXPECT_TRUE(m_boxes.empty());

    // Undecodable bytes leave no picture but the buffer call itself succeeds.
    EXPECT_TRUE(picture.LoadFromBuffer("abc", 3));
    EXPECT_FALSE(picture.HasPicture());
    EXPECT_FALSE(picture.LoadFromBuffer(nullptr, -1));
    EXPECT_EQ(m_boxes.size(), 1U);
}

TEST_F(PictureTest, WithoutAPictureSizeUpdateAndDrawFailQuietly) {
    CPicture picture;
    const QString junk = m_dir.filePath(QStringLiteral("junk.gif"));
    test::writeFile(junk, QByteArray(10, 'x'));
    picture.LoadFromFile(junk);
    QImage device(10, 10, QImage::Format_RGB32);
    picture.m_nWidth = 5;
    EXPECT_FALSE(picture.UpdateSizeForDevice(&device));
    EXPECT_EQ(picture.m_nWidth, 0);
    EXPECT_EQ(picture.m_nSize, 10);
    QPainter painter(&device);
    EXPECT_FALSE(picture.Draw(&painter, {0, 0}, {5, 5}, 0, 0));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(PictureTest, DrawStretchesIntoExactlyTheRequestedRectangle) {
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(writeImage(QStringLiteral("a.png"), 40, 10, "PNG")));
    QImage target(100, 100, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        ASSERT_TRUE(picture.Draw(&painter, {5, 7}, {20, 30}, 0, 0));
    }
    EXPECT_EQ(target.pixelColor(5, 7), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(24, 36), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(25, 36), QColor(Qt::white));
    EXPECT_EQ(target.pixelColor(24, 37), QColor(Qt::white));
    EXPECT_EQ(target.pixelColor(4, 7), QColor(Qt::white));

    // Magnification 1 adds the natural size (40 x 10 at 96 dpi).
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        ASSERT_TRUE(picture.Draw(&painter, {0, 0}, {10, 10}, 1, 1));
    }
    EXPECT_EQ(target.pixelColor(49, 19), QColor(Qt::red));
    EXPECT_EQ(target.pixelColor(50, 19), QColor(Qt::white));
    EXPECT_EQ(target.pixelColor(49, 20), QColor(Qt::white));
}

TEST_F(PictureTest, SaveWritesTheLoadedBytesUnchanged) {
    CPicture picture;
    const QString path = writeImage(QStringLiteral("a.jpg"), 30, 20, "JPG");
    ASSERT_TRUE(picture.LoadFromFile(path));
    const QString copy = m_dir.filePath(QStringLiteral("copy.png"));
    ASSERT_TRUE(picture.SaveToFile(copy));
    EXPECT_EQ(test::readFile(copy), test::readFile(path));
    EXPECT_TRUE(m_boxes.empty());

    EXPECT_FALSE(picture.SaveToFile(m_dir.filePath(QStringLiteral("no/such/folder/x.jpg"))));
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0].caption, QStringLiteral("CPicture Error"));
    EXPECT_TRUE(picture.HasPicture());

    CPicture empty;
    EXPECT_FALSE(empty.SaveToFile(copy));
}

// Saving onto a file system of 64 KiB of its own, mounted for one test: a full disk for real.
class PictureOnSmallDisk : public PictureTest {
protected:
    void SetUp() override {
        PictureTest::SetUp();
        ASSERT_TRUE(m_disk.isValid());
        if (::mount("tmpfs", diskPath().constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") !=
            0) {
            GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno)
                         << "): the test needs root";
        }
        m_mounted = true;
    }
    void TearDown() override {
        if (m_mounted) {
            ::umount2(diskPath().constData(), MNT_DETACH);
        }
        PictureTest::TearDown();
    }
    QByteArray diskPath() const { return QFile::encodeName(m_disk.path()); }

    QTemporaryDir m_disk;
    bool m_mounted = false;
};

TEST_F(PictureOnSmallDisk, AFullDiskIsNamedAndAnEarlierFileStays) {
    // Noise does not compress: the picture's file is larger than the whole disk.
    QImage noise(300, 300, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < noise.height(); ++y) {
        for (int x = 0; x < noise.width(); ++x) {
            noise.setPixel(x, y, random.generate() | 0xFF000000u);
        }
    }
    const QString source = m_dir.filePath(QStringLiteral("noise.png"));
    ASSERT_TRUE(noise.save(source, "PNG"));
    ASSERT_GT(QFileInfo(source).size(), 128 * 1024);
    CPicture picture;
    ASSERT_TRUE(picture.LoadFromFile(source));

    const QString earlier = m_disk.filePath(QStringLiteral("earlier.png"));
    const QByteArray earlierBytes("an earlier picture");
    ASSERT_TRUE(test::writeFile(earlier, earlierBytes));
    for (const QString& path : {earlier, m_disk.filePath(QStringLiteral("new.png"))}) {
        m_boxes.clear();
        EXPECT_FALSE(picture.SaveToFile(path));
        ASSERT_EQ(m_boxes.size(), 1U);
        EXPECT_EQ(m_boxes[0].caption, QStringLiteral("CPicture Error"));
        EXPECT_EQ(m_boxes[0].icon, MessageIcon::Stop);
        EXPECT_EQ(m_boxes[0].buttons, MessageButtons::Ok);
        EXPECT_EQ(m_boxes[0].text,
                  QStringLiteral("No space left on device: ") + QDir::toNativeSeparators(path))
            << m_boxes[0].text.toStdString();
        EXPECT_EQ(QDir(m_disk.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{QStringLiteral("earlier.png")});
        EXPECT_EQ(test::readFile(earlier), earlierBytes);
    }
}

}  // namespace
}  // namespace lumiclip
