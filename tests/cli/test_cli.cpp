// lumiclip-cli as a user runs it: addresses, settings, lists, output names and results.
#include "cli/cli_options.h"
#include "cli_fixture.h"

#include <QColor>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>

using namespace lumiclip;
using namespace lumiclip::test;

TEST_F(CliBrowser, UsageErrorsExitWithTwo) {
    QByteArray err;
    EXPECT_EQ(run({QStringLiteral("--size"), QStringLiteral("0x0"), server->url(QStringLiteral("/one"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("0x0"));
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(run({QStringLiteral("-f"), QStringLiteral("TIFF"), server->url(QStringLiteral("/one"))}), 2);
}

TEST_F(CliBrowser, OneAddressGoesToTheOutputFileAtTheRequestedSize) {
    const QString output = dir.filePath(QStringLiteral("shot.gif"));
    QByteArray out;
    ASSERT_EQ(run({QStringLiteral("-o"), output, QStringLiteral("--size"), QStringLiteral("200x50"),
                   QStringLiteral("-f"), QStringLiteral("GIF"), server->url(QStringLiteral("/one"))},
                  &out),
              0);
    EXPECT_EQ(sniffImageFormat(readFile(output)), QStringLiteral("GIF"));
    EXPECT_EQ(imageFileSize(output), QSize(200, 50));
    EXPECT_TRUE(out.contains("200x50 GIF"));
}

TEST_F(CliBrowser, SettingsGiveTheDefaultsAndTheOutputPath) {
    writeFile(settings, "[capture]\nimg_width=90\nimg_height=40\nimg_format=PNG\n");
    ASSERT_EQ(run({server->url(QStringLiteral("/one"))}), 0);
    const QString expected = dir.filePath(QStringLiteral("website.png"));  // home folder + /website
    EXPECT_EQ(sniffImageFormat(readFile(expected)), QStringLiteral("PNG"));
    EXPECT_EQ(imageFileSize(expected), QSize(90, 40));
}

TEST_F(CliBrowser, SeveralAddressesWithOneFailingReportEachAsJsonAndExitWithOne) {
    const QString folder = dir.filePath(QStringLiteral("shots"));
    QByteArray out;
    QByteArray err;
    const int code = run(
        {QStringLiteral("--json"), QStringLiteral("-o"), folder, QStringLiteral("--timeout"),
         QStringLiteral("3"), server->url(QStringLiteral("/one")), server->url(QStringLiteral("/missing")),
         QStringLiteral("not a url"), server->url(QStringLiteral("/two"))},
        &out, &err);
    EXPECT_EQ(code, 1);
    QHash<QString, QJsonObject> byUrl;
    for (const QByteArray& line : out.trimmed().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        byUrl.insert(object.value(QStringLiteral("url")).toString(), object);
    }
    ASSERT_EQ(byUrl.size(), 4) << out.toStdString();
    for (const char* path : {"/one", "/two"}) {
        const QJsonObject ok = byUrl.value(server->url(QString::fromLatin1(path)));
        EXPECT_TRUE(ok.value(QStringLiteral("ok")).toBool()) << path;
        EXPECT_EQ(ok.value(QStringLiteral("width")).toInt(), 180);
        EXPECT_GT(ok.value(QStringLiteral("bytes")).toInt(), 0);
        EXPECT_TRUE(QFile::exists(ok.value(QStringLiteral("output")).toString()));
    }
    const QJsonObject missing = byUrl.value(server->url(QStringLiteral("/missing")));
    EXPECT_FALSE(missing.value(QStringLiteral("ok")).toBool());
    EXPECT_TRUE(missing.value(QStringLiteral("error")).toString().contains(QStringLiteral("404")));
    EXPECT_FALSE(QFile::exists(missing.value(QStringLiteral("output")).toString()));
    EXPECT_FALSE(byUrl.value(QStringLiteral("not a url")).value(QStringLiteral("ok")).toBool());
    EXPECT_TRUE(err.contains("404"));
}

TEST_F(CliBrowser, ARefusedConnectionIsNamedAsTheReason) {
    QByteArray err;
    EXPECT_EQ(run({QStringLiteral("-o"), dir.filePath(QStringLiteral("r.jpg")), refusedUrl()}, nullptr, &err),
              1);
    EXPECT_TRUE(err.contains("the page did not load: net::ERR_CONNECTION_REFUSED")) << err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("r.jpg"))));
}

TEST_F(CliBrowser, APageThatNeverLoadsFailsAtTheTimeLimit) {
    QByteArray err;
    EXPECT_EQ(run({QStringLiteral("--timeout"), QStringLiteral("2"), QStringLiteral("-o"),
                   dir.filePath(QStringLiteral("s.jpg")), server->url(QStringLiteral("/stall"))},
                  nullptr, &err),
              1);
    EXPECT_TRUE(err.contains("within 2 s")) << err.toStdString();
}

TEST_F(CliBrowser, AnAddressWithoutSchemeIsCompletedAndReportedAsGiven) {
    const QString typed = QStringLiteral("127.0.0.1:%1/one").arg(server->port());
    const QString output = dir.filePath(QStringLiteral("typed.jpg"));
    QByteArray out;
    ASSERT_EQ(run({QStringLiteral("--json"), QStringLiteral("-o"), output, typed}, &out), 0);
    EXPECT_EQ(sniffImageFormat(readFile(output)), QStringLiteral("JPEG"));
    EXPECT_EQ(QJsonDocument::fromJson(out.trimmed()).object().value(QStringLiteral("url")).toString(), typed);
}

TEST_F(CliBrowser, TheSettingsFormatMustBeOneTheToolWrites) {
    const struct {
        const char* stored;
        int code;
        const char* written;
    } cases[] = {{"BMP", 2, nullptr},
                 {"../x", 2, nullptr},
                 {"JPEG", 2, nullptr},
                 {"png", 0, "PNG"},
                 {"GIF", 0, "GIF"}};
    for (const auto& c : cases) {
        writeFile(settings, QByteArray("[capture]\nimg_format=") + c.stored + "\n");
        const QString folder =
            dir.filePath(QStringLiteral("fmt-%1").arg(QString::fromLatin1(c.written ? c.written : "none")));
        QByteArray out;
        QByteArray err;
        EXPECT_EQ(run({QStringLiteral("--json"), QStringLiteral("-o"), folder + QLatin1Char('/'),
                       server->url(QStringLiteral("/one"))},
                      &out, &err),
                  c.code)
            << c.stored;
        if (c.written == nullptr) {
            EXPECT_TRUE(err.contains(settings.toUtf8())) << err.toStdString();
            EXPECT_TRUE(err.contains("img_format")) << err.toStdString();
            EXPECT_FALSE(QFileInfo::exists(folder));
            continue;
        }
        const QJsonObject line = QJsonDocument::fromJson(out.trimmed()).object();
        EXPECT_EQ(line.value(QStringLiteral("format")).toString(), QString::fromLatin1(c.written));
        const QString file = line.value(QStringLiteral("output")).toString();
        EXPECT_TRUE(file.endsWith(QLatin1Char('.') + QString::fromLatin1(c.written).toLower()))
            << file.toStdString();
        EXPECT_EQ(sniffImageFormat(readFile(file)), QString::fromLatin1(c.written));
    }
    // A flag overrides a bad stored value.
    writeFile(settings, "[capture]\nimg_format=BMP\n");
    EXPECT_EQ(run({QStringLiteral("-f"), QStringLiteral("png"), QStringLiteral("-o"),
                   dir.filePath(QStringLiteral("f.png")), server->url(QStringLiteral("/one"))}),
              0);
}

TEST_F(CliBrowser, AOneLineListWritesIntoTheOutputFolderLikeALongerOne) {
    const QString list = dir.filePath(QStringLiteral("list.txt"));
    const QString folder = dir.filePath(QStringLiteral("out/dir"));
    writeFile(list, server->url(QStringLiteral("/one")).toUtf8() + "\n");
    ASSERT_EQ(run({QStringLiteral("-i"), list, QStringLiteral("-o"), folder}), 0);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    writeFile(list,
              (server->url(QStringLiteral("/one")) + QLatin1Char('\n') + server->url(QStringLiteral("/two")))
                  .toUtf8());
    ASSERT_EQ(run({QStringLiteral("-i"), list, QStringLiteral("-o"), folder}), 0);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);
}

TEST_F(CliBrowser, AddressesFromAListCannotDriveTheTerminalOrSplitLines) {
    const QString list = dir.filePath(QStringLiteral("hostile.txt"));
    writeFile(list,
              "http://127.0.0.1:1/\x1b]0;owned\x07\x1b[2J\x08\x08"
              "fake line\n");
    QByteArray out;
    QByteArray err;
    EXPECT_EQ(run({QStringLiteral("-i"), list, QStringLiteral("-o"), dir.filePath(QStringLiteral("h"))}, &out,
                  &err),
              1);
    EXPECT_FALSE(err.contains('\x1b')) << err.toStdString();
    EXPECT_FALSE(err.contains('\x08'));
    EXPECT_FALSE(out.contains('\x1b'));
    EXPECT_TRUE(err.contains("\\x1b]0;owned\\x07\\x1b[2J\\x08\\x08fake line")) << err.toStdString();
    EXPECT_EQ(err.count('\n'), 1) << err.toStdString();
}

TEST_F(CliBrowser, WebOnlyRefusesEveryAddressButHttpAndHttps) {
    const QString secret = dir.filePath(QStringLiteral("secret.html"));
    writeFile(secret, "<html><body>secret</body></html>");
    QByteArray out;
    QByteArray err;
    const QStringList refused{QUrl::fromLocalFile(secret).toString(), secret,
                              QStringLiteral("data:text/html,x"), QStringLiteral("chrome://version")};
    EXPECT_EQ(run(QStringList{QStringLiteral("--web-only"), QStringLiteral("--json"), QStringLiteral("-o"),
                              dir.filePath(QStringLiteral("w")), server->url(QStringLiteral("/one"))} +
                      refused,
                  &out, &err),
              1);
    QHash<QString, QJsonObject> byUrl;
    for (const QByteArray& line : out.trimmed().split('\n')) {
        const QJsonObject object = QJsonDocument::fromJson(line).object();
        byUrl.insert(object.value(QStringLiteral("url")).toString(), object);
    }
    ASSERT_EQ(byUrl.size(), 5) << out.toStdString();
    EXPECT_TRUE(byUrl.value(server->url(QStringLiteral("/one"))).value(QStringLiteral("ok")).toBool());
    for (const QString& url : refused) {
        const QJsonObject line = byUrl.value(url);
        EXPECT_FALSE(line.value(QStringLiteral("ok")).toBool()) << url.toStdString();
        EXPECT_TRUE(line.value(QStringLiteral("error")).toString().contains(QStringLiteral("--web-only")));
        EXPECT_FALSE(QFile::exists(line.value(QStringLiteral("output")).toString()));
    }
    // Without the flag a local file is captured: it is a real use.
    EXPECT_EQ(run({QStringLiteral("-o"), dir.filePath(QStringLiteral("local.jpg")), secret}), 0);
}

TEST_F(CliBrowser, JsonLinesNameTheFinalAddressStatusTitleAndWait) {
    server->routeHtml(QStringLiteral("/titled"),
                      "<html><head><title>A &amp; B</title></head><body>titled</body></html>");
    HttpResponse moved;
    moved.status = 302;
    moved.headers.append(qMakePair(QByteArray("Location"), QByteArray("/titled")));
    server->route(QStringLiteral("/moved"), moved);
    QByteArray out;
    EXPECT_EQ(
        run({QStringLiteral("--json"), QStringLiteral("--timeout"), QStringLiteral("2"), QStringLiteral("-o"),
             dir.filePath(QStringLiteral("r")), server->url(QStringLiteral("/moved")),
             server->url(QStringLiteral("/missing")), server->url(QStringLiteral("/stall"))},
            &out),
        1);
    QHash<QString, QJsonObject> byUrl;
    for (const QJsonObject& line : jsonLines(out)) {
        byUrl.insert(line.value(QStringLiteral("url")).toString(), line);
    }
    ASSERT_EQ(byUrl.size(), 3) << out.toStdString();
    const QJsonObject moved302 = byUrl.value(server->url(QStringLiteral("/moved")));
    EXPECT_TRUE(moved302.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(moved302.value(QStringLiteral("final_url")).toString(), server->url(QStringLiteral("/titled")));
    EXPECT_EQ(moved302.value(QStringLiteral("status")).toInt(), 200);
    EXPECT_EQ(moved302.value(QStringLiteral("title")).toString(), QStringLiteral("A & B"));
    EXPECT_EQ(moved302.value(QStringLiteral("wait")).toString(), QStringLiteral("load"));

    const QJsonObject missing = byUrl.value(server->url(QStringLiteral("/missing")));
    EXPECT_EQ(missing.value(QStringLiteral("status")).toInt(), 404);
    EXPECT_EQ(missing.value(QStringLiteral("final_url")).toString(), server->url(QStringLiteral("/missing")));

    const QJsonObject stalled = byUrl.value(server->url(QStringLiteral("/stall")));
    EXPECT_FALSE(stalled.value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(stalled.value(QStringLiteral("wait")).toString(), QStringLiteral("timeout"));
    EXPECT_EQ(stalled.value(QStringLiteral("status")).toInt(), 0);
    EXPECT_TRUE(stalled.contains(QStringLiteral("title")));
}

TEST_F(CliBrowser, SkipExistingLoadsOnlyTheAddressesWhoseImagesAreMissing) {
    const QStringList paths{QStringLiteral("/skip-a"), QStringLiteral("/skip-b"), QStringLiteral("/skip-c")};
    QStringList urls;
    for (const QString& path : paths) {
        server->routeHtml(path, "<html><body>page</body></html>");
        urls.append(server->url(path));
    }
    const QString folder = dir.filePath(QStringLiteral("batch"));
    QDir().mkpath(folder);
    // What an interrupted first run left: the first image written, the others not.
    const QString done = QDir(folder).filePath(FileNameForUrl(urls[0], QStringLiteral("JPG")));
    writeFile(done, "an image written earlier");
    QByteArray out;
    ASSERT_EQ(run(QStringList{QStringLiteral("--skip-existing"), QStringLiteral("--json"),
                              QStringLiteral("-o"), folder} +
                      urls,
                  &out),
              0)
        << out.toStdString();
    EXPECT_EQ(server->hits(paths[0]), 0);
    EXPECT_EQ(server->hits(paths[1]), 1);
    EXPECT_EQ(server->hits(paths[2]), 1);
    QHash<QString, QJsonObject> byUrl;
    for (const QJsonObject& line : jsonLines(out)) {
        byUrl.insert(line.value(QStringLiteral("url")).toString(), line);
    }
    ASSERT_EQ(byUrl.size(), 3) << out.toStdString();
    const QJsonObject skipped = byUrl.value(urls[0]);
    EXPECT_TRUE(skipped.value(QStringLiteral("ok")).toBool());
    EXPECT_TRUE(skipped.value(QStringLiteral("skipped")).toBool());
    EXPECT_EQ(skipped.value(QStringLiteral("output")).toString(), done);
    EXPECT_EQ(skipped.value(QStringLiteral("bytes")).toInt(), 24);
    EXPECT_EQ(readFile(done), QByteArray("an image written earlier"));
    EXPECT_FALSE(byUrl.value(urls[1]).value(QStringLiteral("skipped")).toBool());

    // Once everything is there, a rerun loads nothing and says so in its human lines.
    out.clear();
    ASSERT_EQ(run(QStringList{QStringLiteral("--skip-existing"), QStringLiteral("-o"), folder} + urls, &out),
              0);
    EXPECT_EQ(server->hits(paths[1]) + server->hits(paths[2]), 2);
    EXPECT_EQ(out.count("skipped"), 3) << out.toStdString();
}

TEST_F(CliBrowser, ANameTemplateNamesTheImagesInTheFolderAndRepeatsGetNumbers) {
    const QString folder = dir.filePath(QStringLiteral("named"));
    QByteArray out;
    ASSERT_EQ(run({QStringLiteral("--name"), QStringLiteral("{host}"), QStringLiteral("-f"),
                   QStringLiteral("PNG"), QStringLiteral("-o"), folder, server->url(QStringLiteral("/one")),
                   server->url(QStringLiteral("/two")), server->url(QStringLiteral("/one"))},
                  &out),
              0)
        << out.toStdString();
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.sort();
    EXPECT_EQ(names, (QStringList{QStringLiteral("127.0.0.1-2.png"), QStringLiteral("127.0.0.1-3.png"),
                                  QStringLiteral("127.0.0.1.png")}));
    for (const QString& name : names) {
        EXPECT_EQ(sniffImageFormat(readFile(QDir(folder).filePath(name))), QStringLiteral("PNG"));
    }
    ASSERT_EQ(run({QStringLiteral("--name={index}-{path}"), QStringLiteral("-o"), folder,
                   server->url(QStringLiteral("/one")), server->url(QStringLiteral("/two"))}),
              0);
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("1-one.jpg"))));
    EXPECT_TRUE(QFile::exists(QDir(folder).filePath(QStringLiteral("2-two.jpg"))));

    QByteArray err;
    EXPECT_EQ(run({QStringLiteral("--name"), QStringLiteral("{index}-{site}"), QStringLiteral("-o"), folder,
                   server->url(QStringLiteral("/one"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("{site}")) << err.toStdString();
}

TEST_F(CliBrowser, TheGalleryShowsEveryImageAndEscapesTheAddresses) {
    server->routeHtml(QStringLiteral("/green"),
                      "<html><body style=\"margin:0;background:#00ff00\"></body></html>");
    // Characters that are URL syntax in a folder name, and a percent sign that is no placeholder.
    const QString folder = dir.filePath(QStringLiteral("shots #1 ?%3A"));
    const QString gallery = dir.filePath(QStringLiteral("pages/gallery.html"));
    const QString hostile = server->url(QStringLiteral("/green?<script>alert(1)</script>\"x"));
    EXPECT_EQ(
        run({QStringLiteral("-f"), QStringLiteral("PNG"), QStringLiteral("--size"), QStringLiteral("120x90"),
             QStringLiteral("--gallery"), gallery, QStringLiteral("-o"), folder,
             server->url(QStringLiteral("/green")), hostile, server->url(QStringLiteral("/missing"))}),
        1);
    const QByteArray html = readFile(gallery);
    ASSERT_FALSE(html.isEmpty());
    EXPECT_FALSE(html.contains("<script")) << html.toStdString();
    EXPECT_TRUE(html.contains("?&lt;script&gt;alert(1)&lt;/script&gt;&quot;x")) << html.toStdString();
    EXPECT_TRUE(html.contains("404"));
    EXPECT_FALSE(html.contains("src=\"http"));

    // The gallery as a browser shows it: both green images are there, at their size.
    const QString shot = dir.filePath(QStringLiteral("gallery.png"));
    ASSERT_EQ(
        run({QStringLiteral("-f"), QStringLiteral("PNG"), QStringLiteral("--view"), QStringLiteral("800x600"),
             QStringLiteral("--size"), QStringLiteral("800x600"), QStringLiteral("-o"), shot, gallery}),
        0);
    const QImage image(shot);
    ASSERT_FALSE(image.isNull());
    int green = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.green() > 240 && c.red() < 16 && c.blue() < 16) {
                ++green;
            }
        }
    }
    EXPECT_GE(green, 2 * 120 * 90 * 95 / 100);
    EXPECT_LE(green, 2 * 120 * 90);
}

TEST_F(CliBrowser, ALinkPlantedInTheOutputFolderIsReplacedNotFollowed) {
    const QString victim = dir.filePath(QStringLiteral("authorized_keys"));
    ASSERT_TRUE(writeFile(victim, "ssh-ed25519 AAAA"));
    const QString folder = dir.filePath(QStringLiteral("shared"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString url = server->url(QStringLiteral("/one"));
    const QString planted = QDir(folder).filePath(FileNameForUrl(url, QStringLiteral("JPG")));
    ASSERT_TRUE(QFile::link(victim, planted));

    // --skip-existing does not take the link for an image of ours either.
    const QString list = dir.filePath(QStringLiteral("list.txt"));
    ASSERT_TRUE(writeFile(list, url.toUtf8()));
    QByteArray err;
    ASSERT_EQ(
        run({QStringLiteral("--skip-existing"), QStringLiteral("-i"), list, QStringLiteral("-o"), folder},
            nullptr, &err),
        0)
        << err.toStdString();
    EXPECT_EQ(readFile(victim), QByteArray("ssh-ed25519 AAAA"));
    EXPECT_FALSE(QFileInfo(planted).isSymLink());
    EXPECT_EQ(sniffImageFormat(readFile(planted)), QStringLiteral("JPEG"));
}

TEST_F(CliBrowser, ADeviceOrFifoGivenAsTheOutputIsWrittenIntoNotReplaced) {
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // Drained meanwhile: the image may be larger than the pipe holds.
    QByteArray received;
    QTimer drain;
    QObject::connect(&drain, &QTimer::timeout, &drain, [&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(reader, chunk, sizeof chunk)) > 0;) {
            received.append(chunk, n);
        }
    });
    drain.start(5);
    QProcess process;
    process.start(QStringLiteral(LUMICLIP_CLI_PATH),
                  {QStringLiteral("--settings"), settings, QStringLiteral("-o"), fifo,
                   server->url(QStringLiteral("/one"))});
    ASSERT_TRUE(waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    waitUntil([] { return false; }, 50);
    ::close(reader);
    EXPECT_EQ(sniffImageFormat(received), QStringLiteral("JPEG"));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(CliBrowser, FoldersThatCannotTakeTheImagesOrTheGalleryAreUsageErrorsBeforeAnyLoad) {
    const QString file = dir.filePath(QStringLiteral("a-file"));
    ASSERT_TRUE(writeFile(file, "x"));
    const int before = server->hits(QStringLiteral("/one"));
    const QString url = server->url(QStringLiteral("/one"));
    const struct {
        QStringList args;
        const char* says;
    } cases[] = {
        {{QStringLiteral("-o"), file + QStringLiteral("/shots/"), url}, "cannot create the output folder"},
        {{QStringLiteral("-o"), dir.filePath(QStringLiteral("no/such/folder/x.jpg")), url}, "does not exist"},
        {{QStringLiteral("--gallery"), file + QStringLiteral("/g.html"), QStringLiteral("-o"),
          dir.filePath(QStringLiteral("g/")), url},
         "--gallery: the gallery's folder"},
        {{QStringLiteral("--gallery"), dir.path(), QStringLiteral("-o"), dir.filePath(QStringLiteral("g/")),
          url},
         "is a folder"},
    };
    for (const auto& c : cases) {
        QByteArray err;
        EXPECT_EQ(run(c.args, nullptr, &err), 2) << c.says;
        EXPECT_TRUE(err.contains(c.says)) << err.toStdString();
    }
    EXPECT_EQ(server->hits(QStringLiteral("/one")), before);
}

TEST_F(CliBrowser, APasswordInTheAddressIsUsedButNeverPrinted) {
    HttpResponse challenge;
    challenge.status = 401;
    challenge.headers = {{"WWW-Authenticate", "Basic realm=\"test\""}};
    challenge.body = "<html><body>who?</body></html>";
    server->route(QStringLiteral("/private"), challenge);
    QString url = server->url(QStringLiteral("/private"));
    url.replace(QStringLiteral("http://"), QStringLiteral("http://reader:s3cret-word@"));
    const QString gallery = dir.filePath(QStringLiteral("gallery.html"));
    QByteArray out;
    QByteArray err;
    run({QStringLiteral("--json"), QStringLiteral("--gallery"), gallery, QStringLiteral("-o"),
         dir.filePath(QStringLiteral("private/")), url},
        &out, &err);
    // The browser answered the challenge with it.
    EXPECT_EQ(server->lastHeaders(QStringLiteral("/private")).value("authorization"),
              QByteArray("Basic ") + QByteArray("reader:s3cret-word").toBase64());
    EXPECT_FALSE(out.contains("s3cret")) << out.toStdString();
    EXPECT_FALSE(err.contains("s3cret")) << err.toStdString();
    EXPECT_FALSE(readFile(gallery).contains("s3cret"));
    EXPECT_TRUE(out.contains("reader@127.0.0.1")) << out.toStdString();
}

TEST_F(CliBrowser, AnOutputFolderThatAnotherUserCannotWriteIsAUsageErrorForThem) {
    if (::geteuid() != 0 || QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty()) {
        GTEST_SKIP() << "running as another user needs root and setpriv";
    }
    // A folder of root's that nobody else may write, and the run as nobody.
    QTemporaryDir shared(QStringLiteral("/tmp/lumiclip-shared-XXXXXX"));
    ASSERT_TRUE(shared.isValid());
    ASSERT_EQ(::chmod(QFile::encodeName(shared.path()).constData(), 0755), 0);
    const QString ini = shared.filePath(QStringLiteral("Lumiclip.ini"));
    ASSERT_TRUE(writeFile(ini, "[capture]\nweb_width=810\n"));
    const QString locked = shared.filePath(QStringLiteral("locked"));
    ASSERT_TRUE(QDir().mkpath(locked));
    QProcess process;
    QProcessEnvironment env;
    env.insert(QStringLiteral("HOME"), shared.path());
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(shared.path());
    process.start(
        QStringLiteral("setpriv"),
        {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
         QStringLiteral(LUMICLIP_CLI_PATH), QStringLiteral("--settings"), ini, QStringLiteral("-o"),
         locked + QStringLiteral("/"), server->url(QStringLiteral("/one"))});
    ASSERT_TRUE(process.waitForFinished(60000));
    const QByteArray err = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 2) << err.toStdString();
    EXPECT_TRUE(err.contains("the output folder " + QFile::encodeName(locked) +
                             "/ cannot be written: Permission denied"))
        << err.toStdString();
}

TEST_F(CliBrowser, JsonLinesNameTheKindOfEachFailure) {
    const QString list = dir.filePath(QStringLiteral("kinds.txt"));
    const QStringList urls{server->url(QStringLiteral("/one")), server->url(QStringLiteral("/missing")),
                           QStringLiteral("http://127.0.0.1:1/"), QStringLiteral("file:///etc/hostname"),
                           server->url(QStringLiteral("/stall"))};
    ASSERT_TRUE(writeFile(list, urls.join(QLatin1Char('\n')).toUtf8()));
    QByteArray out;
    // A limit that a browser starting on a busy machine still meets for the pages that do load.
    EXPECT_EQ(run({QStringLiteral("--json"), QStringLiteral("--web-only"), QStringLiteral("--timeout"),
                   QStringLiteral("5"), QStringLiteral("-i"), list, QStringLiteral("-o"),
                   dir.filePath(QStringLiteral("kinds/"))},
                  &out),
              1);
    QHash<QString, QJsonValue> kinds;
    for (const QByteArray& line : out.trimmed().split('\n')) {
        const QJsonObject result = QJsonDocument::fromJson(line).object();
        kinds.insert(result.value(QStringLiteral("url")).toString(),
                     result.value(QStringLiteral("error_kind")));
    }
    ASSERT_EQ(kinds.size(), urls.size()) << out.toStdString();
    EXPECT_TRUE(kinds.value(urls[0]).isNull());
    EXPECT_EQ(kinds.value(urls[1]).toString(), QStringLiteral("http_status"));
    EXPECT_EQ(kinds.value(urls[2]).toString(), QStringLiteral("network"));
    EXPECT_EQ(kinds.value(urls[3]).toString(), QStringLiteral("forbidden_address"));
    EXPECT_EQ(kinds.value(urls[4]).toString(), QStringLiteral("timeout"));
}
