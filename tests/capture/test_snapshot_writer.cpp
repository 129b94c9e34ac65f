// The image step on worker threads: results come back on the asking thread as values, never to a context
// that is gone, and the writer's end neither loses a file that was begun nor calls anyone back.
#include "core/capture/snapshot_writer.h"
#include "core/image/encoder_table.h"

#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

PageSnapshot viewSnapshot(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    PageSnapshot snapshot;
    QBuffer buffer(&snapshot.png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    snapshot.hasBody = true;
    return snapshot;
}

CaptureRequest imageOptions(const QString& path) {
    CaptureRequest options;
    options.output.path = path;
    options.page.viewWidth = 400;
    options.page.viewHeight = 300;
    options.image.width = 120;
    options.image.height = 70;
    return options;
}

EncoderId jpeg() {
    EncoderId id;
    FindEncoderByMime(QStringLiteral("image/jpeg"), &id);
    return id;
}

}  // namespace

TEST(SnapshotWriter, WritesEachImageAndReportsItOnTheAskingThread) {
    QTemporaryDir dir;
    SnapshotWriter writer(2);
    QObject context;
    constexpr int kImages = 6;
    int reported = 0;
    bool allOnThisThread = true;
    for (int i = 0; i < kImages; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.jpg").arg(i));
        writer.write(viewSnapshot(400, 300), imageOptions(path), jpeg(), &context,
                     [&, path](const SnapshotWriteResult& result) {
                         allOnThisThread = allOnThisThread && QThread::currentThread() == context.thread();
                         EXPECT_TRUE(result.ok) << result.error.toStdString();
                         EXPECT_EQ(result.size, QSize(120, 70));
                         EXPECT_EQ(imageFileSize(path), QSize(120, 70));
                         ++reported;
                     });
    }
    EXPECT_EQ(writer.pending(), kImages);
    ASSERT_TRUE(waitUntil([&reported] { return reported == kImages; }, 20000));
    EXPECT_TRUE(allOnThisThread);
    EXPECT_EQ(writer.pending(), 0);
}

TEST(SnapshotWriter, AFailedStepIsAResultAndWritesNothing) {
    QTemporaryDir dir;
    SnapshotWriter writer(1);
    QObject context;
    const struct {
        const char* name = "";
        PageSnapshot snapshot;
        const char* error = "";
    } cases[] = {
        {"no body", PageSnapshot{viewSnapshot(400, 300).png, false, {}, {}, {}},
         "the document has no body to draw"},
        {"not an image", PageSnapshot{QByteArray("not a png"), true, {}, {}, {}}, "image step failed"},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name) + QStringLiteral(".jpg"));
        std::unique_ptr<SnapshotWriteResult> got;
        writer.write(c.snapshot, imageOptions(path), jpeg(), &context,
                     [&got](const SnapshotWriteResult& result) {
                         got = std::make_unique<SnapshotWriteResult>(result);
                     });
        ASSERT_TRUE(waitUntil([&got] { return got != nullptr; }, 10000)) << c.name;
        EXPECT_FALSE(got->ok) << c.name;
        EXPECT_TRUE(got->error.startsWith(QString::fromLatin1(c.error)))
            << c.name << ": " << got->error.toStdString();
        EXPECT_FALSE(QFileInfo::exists(path)) << c.name;
    }
}

TEST(SnapshotWriter, NobodyIsCalledBackOnceTheirContextOrTheWriterIsGone) {
    QTemporaryDir dir;
    int called = 0;
    QObject alive;
    {
        SnapshotWriter writer(1);
        auto context = std::make_unique<QObject>();
        writer.write(viewSnapshot(400, 300), imageOptions(dir.filePath(QStringLiteral("a.jpg"))), jpeg(),
                     context.get(), [&called](const SnapshotWriteResult&) { ++called; });
        context.reset();
        ASSERT_TRUE(waitUntil([&writer] { return writer.pending() == 0; }, 10000));
        // The file itself is written: only the report has nobody to go to.
        EXPECT_EQ(imageFileSize(dir.filePath(QStringLiteral("a.jpg"))), QSize(120, 70));

        // The writer goes with steps asked for: it waits for the one under way, drops the rest and
        // calls nobody, from its end or later.
        for (int i = 0; i < 4; ++i) {
            writer.write(viewSnapshot(1600, 1200),
                         imageOptions(dir.filePath(QStringLiteral("b%1.jpg").arg(i))), jpeg(), &alive,
                         [&called](const SnapshotWriteResult&) { ++called; });
        }
    }
    waitUntil([] { return false; }, 100);
    EXPECT_EQ(called, 0);
    // Whatever was written is whole: no temporary file is left beside the images.
    for (const QFileInfo& file : QDir(dir.path()).entryInfoList(QDir::Files)) {
        EXPECT_EQ(file.suffix(), QStringLiteral("jpg")) << file.fileName().toStdString();
    }
}

TEST(SnapshotWriter, SettlingHandsOverEveryImageThatWasWrittenAtOnce) {
    // As an interrupted batch does: what was written is reported as written, before the program ends,
    // without going back to the event loop.
    QTemporaryDir dir;
    SnapshotWriter writer(1);
    QObject context;
    QStringList written;
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.jpg").arg(i));
        writer.write(viewSnapshot(400, 300), imageOptions(path), jpeg(), &context,
                     [&written, path](const SnapshotWriteResult& result) {
                         if (result.ok) {
                             written.append(path);
                         }
                     });
    }
    // The first has begun by now; the others may still wait.
    waitUntil([&] { return QFile::exists(dir.filePath(QStringLiteral("0.jpg"))); }, 10000);
    writer.settle();
    EXPECT_EQ(writer.pending(), 3 - written.size());
    ASSERT_FALSE(written.isEmpty());
    // Every file there was reported, and nothing reported is missing.
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QStringLiteral("%1.jpg").arg(i));
        EXPECT_EQ(QFile::exists(path), written.contains(path)) << i;
    }
}
