// lumiclip-cli loads its image library from a module beside it: how it fares when that module is not
// there or is not one, that the module does what the library linked in does, and how the library ends.
#include "cli_fixture.h"
#include "core/capture/capture_request.h"
#include "core/image/encoder_table.h"
#include "core/image/image_library.h"
#include "core/image/image_module.h"
#include "core/image/vips_image_library.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <dlfcn.h>
#include <cstdio>
#include <cstdlib>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// Where lumiclip-cli looks for the module, relative to its own folder.
QString moduleFromProgram() {
    return QFileInfo(QStringLiteral(LUMICLIP_CLI_PATH))
        .dir()
        .relativeFilePath(QStringLiteral(LUMICLIP_IMAGE_MODULE_PATH));
}

// The file of the shared object that holds the code at address.
QString sharedObjectOf(void* address) {
    Dl_info info{};
    return ::dladdr(address, &info) != 0 ? QFile::decodeName(info.dli_fname) : QString();
}

QByteArray pngOf(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// The image library's worker threads alive in this process, by the name the library gives them.
int imageLibraryWorkers() {
    int workers = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile name(tasks.filePath(task + QStringLiteral("/comm")));
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == "libvips worker") {
            ++workers;
        }
    }
    return workers;
}

// A small view through the process's image library; empty with the reason on failure.
QByteArray encodeAView(QString* error) {
    const ImageLibrary* library = StartedImageLibrary(error);
    if (!library) {
        return {};
    }
    QImage page(200, 150, QImage::Format_RGB32);
    page.fill(Qt::darkGreen);
    ImageStepRequest view;
    view.rendering = pngOf(page);
    view.raster = QSize(810, 600);
    view.imageSizeFor = [](QSize) { return QSize(180, 138); };
    view.saver = "jpegsave_buffer";
    view.quality = 75;
    return library->encode(view, nullptr, error);
}

}  // namespace

// The library cannot start again once ended, so each case runs in a process of its own, which reports
// what it saw on its way out.
TEST(ImageLibraryDeathTest, EndingTheLibraryEndsItsWorkersAndEndingOneNeverAskedForLeavesItAlone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // After images were made its workers wait for more; ending the library joins them, so that none
    // is left running into the process's exit.
    EXPECT_EXIT(
        {
            QString error;
            const bool encoded = !encodeAView(&error).isEmpty();
            const int before = imageLibraryWorkers();
            ShutDownImageLibrary();
            std::fprintf(stderr, "encoded %d, workers %d then %d\n", encoded ? 1 : 0, before,
                         imageLibraryWorkers());
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "encoded 1, workers [1-9][0-9]* then 0");
    // A program that ends before anything asked for the library (every page skipped) neither loads
    // nor ends it: it is still there to start afterwards.
    EXPECT_EXIT(
        {
            ShutDownImageLibrary();
            QString error;
            const QByteArray image = encodeAView(&error);
            std::fprintf(stderr, "after the end: %s\n", image.isEmpty() ? qUtf8Printable(error) : "an image");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "after the end: an image");
}

TEST_F(CliBrowser, AMissingOrForeignImageModuleIsNamedAndEveryPageStillFails) {
    // A copy of the program in a folder of its own, with what stands where its module should be.
    const struct {
        const char* label;
        QByteArray module;  // empty: none
        const char* named;
    } cases[] = {
        {"none", {}, "cannot open shared object file"},
        {"not a shared object", "this is no module", "lumiclip-image.so"},
        {"another shared object", readFile(sharedObjectOf(reinterpret_cast<void*>(&qVersion))),
         "not Lumiclip's image module"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QTemporaryDir place;
        const QString program = place.filePath(QStringLiteral("bin/lumiclip-cli"));
        ASSERT_TRUE(QDir().mkpath(place.filePath(QStringLiteral("bin"))));
        ASSERT_TRUE(QFile::copy(QStringLiteral(LUMICLIP_CLI_PATH), program));
        const QString module = QDir(place.filePath(QStringLiteral("bin"))).filePath(moduleFromProgram());
        if (!c.module.isEmpty()) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(module).path()));
            ASSERT_TRUE(writeFile(module, c.module));
        }
        const QString out = dir.filePath(QStringLiteral("shots"));
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(program, {QStringLiteral("--settings"), settings, QStringLiteral("-o"), out,
                                server->url(QStringLiteral("/one")), server->url(QStringLiteral("/two"))});
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 1);
        const QString err = QString::fromUtf8(process.readAllStandardError());
        // Each page names the cause, not a missing encoder.
        EXPECT_EQ(err.count(QStringLiteral("the image library did not start")), 2) << err.toStdString();
        EXPECT_TRUE(err.contains(QLatin1String(c.named))) << err.toStdString();
        EXPECT_FALSE(err.contains(QStringLiteral("no image encoder"))) << err.toStdString();
        EXPECT_TRUE(QDir(out).entryList(QDir::Files).isEmpty());
        EXPECT_EQ(browserOf(process.processId()), 0);
    }
}

TEST(ImageModule, GivesTheSameImagesAsTheLibraryLinkedIn) {
    void* handle = ::dlopen(LUMICLIP_IMAGE_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << ::dlerror();
    const auto entry =
        reinterpret_cast<LumiclipImageModuleEntry>(::dlsym(handle, LUMICLIP_IMAGE_MODULE_ENTRY));
    ASSERT_NE(entry, nullptr);
    const ImageLibrary* loaded = entry();
    const ImageLibrary& linked = VipsImageLibrary();
    ASSERT_NE(loaded, &linked);
    QString error;
    ASSERT_TRUE(EnsureImageLibrary(&error)) << error.toStdString();
    ASSERT_TRUE(loaded->start(&error)) << error.toStdString();
    EXPECT_TRUE(loaded->hasSaver("pngsave_buffer"));
    EXPECT_FALSE(loaded->hasSaver("nosuchsave_buffer"));

    // Half red, half blue, drawn into a larger view; then a full page at its own size, kept in proportion.
    QImage page(400, 300, QImage::Format_RGB32);
    page.fill(Qt::red);
    for (int y = 0; y < 300; ++y) {
        for (int x = 200; x < 400; ++x) {
            page.setPixel(x, y, qRgb(0, 0, 255));
        }
    }
    ImageStepRequest view;
    view.rendering = pngOf(page);
    view.raster = QSize(810, 600);
    view.imageSizeFor = [](QSize) { return QSize(180, 138); };
    view.saver = "jpegsave_buffer";
    view.quality = 75;
    ImageStepRequest full = view;
    full.raster = {};
    full.imageSizeFor = [](QSize raster) { return ImageSizeFor(100, 0, raster); };
    full.saver = "pngsave_buffer";
    full.quality = 0;
    for (const ImageStepRequest* request : {&view, &full}) {
        QSize fromModule;
        QSize fromLinked;
        const QByteArray a = loaded->encode(*request, &fromModule, &error);
        const QByteArray b = linked.encode(*request, &fromLinked, &error);
        ASSERT_FALSE(a.isEmpty()) << error.toStdString();
        EXPECT_EQ(a, b);
        EXPECT_EQ(fromModule, fromLinked);
        EXPECT_EQ(QImage::fromData(a).size(), fromModule);
    }
    EXPECT_EQ(QImage::fromData(loaded->encode(full, nullptr, &error)).size(), QSize(100, 75));

    // A rendering that is no image fails with the library's reason, in the module as linked in.
    ImageStepRequest broken = view;
    broken.rendering = "not a PNG";
    EXPECT_TRUE(loaded->encode(broken, nullptr, &error).isEmpty());
    EXPECT_TRUE(error.startsWith(QStringLiteral("image step failed: "))) << error.toStdString();
}
