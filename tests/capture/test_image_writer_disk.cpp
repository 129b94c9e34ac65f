// The image step on a disk of its own: full, or read-only, for real.
#include "image_writer_helpers.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <cerrno>
#include <cstring>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// A rendering that no encoder can make small: every pixel its own colour.
QByteArray noiseRendering(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            image.setPixel(x, y, random.generate() | 0xFF000000u);
        }
    }
    return pngOf(image);
}

// A file system of 64 KiB of its own, mounted for one test: a full or read-only disk for real.
class SmallFileSystem : public ::testing::Test {
protected:
    static constexpr const char* kOptions = "size=64k,mode=0700";

    void SetUp() override {
        ASSERT_TRUE(m_dir.isValid());
        if (::mount("tmpfs", mountPoint().constData(), "tmpfs", MS_NOSUID | MS_NODEV, kOptions) != 0) {
            GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno)
                         << "): the test needs root";
        }
        m_mounted = true;
    }
    void TearDown() override {
        if (m_mounted) {
            ::umount2(mountPoint().constData(), MNT_DETACH);
        }
    }
    QByteArray mountPoint() const { return QFile::encodeName(m_dir.path()); }
    QString filePath(const char* name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    QStringList entries() const {
        return QDir(m_dir.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    bool remountReadOnly() const {
        return ::mount("tmpfs", mountPoint().constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, kOptions) == 0;
    }

    QTemporaryDir m_dir;
    bool m_mounted = false;
};

}  // namespace

TEST_F(SmallFileSystem, AFullDiskIsNamedAndLeavesNoPartOfTheImage) {
    const QString earlier = filePath("earlier.png");
    const QByteArray earlierBytes = noiseRendering(16, 16);
    QString error;
    ASSERT_TRUE(WriteFileAtomically(earlier, earlierBytes, &error)) << error.toStdString();
    const QByteArray rendering = noiseRendering(300, 300);
    ASSERT_GT(rendering.size(), 128 * 1024);

    for (const QString& path : {earlier, filePath("new.png")}) {
        error.clear();
        EXPECT_FALSE(RenderSnapshotToFile(snapshotOf(rendering, true), path, 300, 300, 300, 300,
                                          encoderFor(QStringLiteral("PNG")), &error));
        EXPECT_TRUE(error.contains(QStringLiteral("cannot write ") + path)) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("No space left on device"))) << error.toStdString();
        EXPECT_EQ(entries(), QStringList{QStringLiteral("earlier.png")});
        EXPECT_EQ(readFile(earlier), earlierBytes);
    }
}

TEST_F(SmallFileSystem, AReadOnlyFileSystemIsNamed) {
    const QString earlier = filePath("earlier.png");
    QString error;
    ASSERT_TRUE(WriteFileAtomically(earlier, "earlier image", &error)) << error.toStdString();
    ASSERT_TRUE(remountReadOnly()) << std::strerror(errno);

    for (const QString& path : {earlier, filePath("new.png")}) {
        error.clear();
        EXPECT_FALSE(WriteFileAtomically(path, "new image", &error));
        EXPECT_TRUE(error.contains(QStringLiteral("cannot write ") + path)) << error.toStdString();
        EXPECT_TRUE(error.contains(QStringLiteral("Read-only file system"))) << error.toStdString();
        EXPECT_EQ(entries(), QStringList{QStringLiteral("earlier.png")});
        EXPECT_EQ(readFile(earlier), QByteArray("earlier image"));
    }
}
