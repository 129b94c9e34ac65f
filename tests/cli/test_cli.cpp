#include "cli/cli_options.h"

#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <csignal>

using namespace lumiclip;
using namespace lumiclip::test;

TEST(CliArguments, AcceptsGoodOptionsAndNamesTheBadOne) {
    CliOptions o;
    QString error;
    ASSERT_EQ(ParseCliArguments(
                  {QStringLiteral("--view"), QStringLiteral("1024x768"), QStringLiteral("--size=200x50"),
                   QStringLiteral("-f"), QStringLiteral("png"), QStringLiteral("-j"), QStringLiteral("4"),
                   QStringLiteral("--json"), QStringLiteral("http://a/"), QStringLiteral("http://b/")},
                  &o, &error),
              ParseStatus::Ok);
    EXPECT_EQ(o.capture.viewWidth, 1024);
    EXPECT_EQ(o.capture.viewHeight, 768);
    EXPECT_EQ(o.capture.imageWidth, 200);
    EXPECT_EQ(o.capture.imageHeight, 50);
    EXPECT_EQ(o.capture.format, QStringLiteral("PNG"));
    EXPECT_EQ(o.jobs, 4);
    EXPECT_TRUE(o.json);
    EXPECT_EQ(o.urls.size(), 2);

    const struct {
        QStringList args;
        const char* mentions;
    } bad[] = {
        {{QStringLiteral("--size"), QStringLiteral("0x10"), QStringLiteral("u")}, "0x10"},
        {{QStringLiteral("--size"), QStringLiteral("10x"), QStringLiteral("u")}, "10x"},
        {{QStringLiteral("--view"), QStringLiteral("20000x10"), QStringLiteral("u")}, "20000x10"},
        {{QStringLiteral("-f"), QStringLiteral("BMP"), QStringLiteral("u")}, "BMP"},
        {{QStringLiteral("--jobs"), QStringLiteral("0"), QStringLiteral("u")}, "--jobs"},
        {{QStringLiteral("--bogus"), QStringLiteral("u")}, "--bogus"},
        {{QStringLiteral("-o")}, "-o"},
        {{}, "no address"},
    };
    for (const auto& c : bad) {
        CliOptions options;
        EXPECT_EQ(ParseCliArguments(c.args, &options, &error), ParseStatus::UsageError) << c.mentions;
        EXPECT_TRUE(error.contains(QString::fromLatin1(c.mentions))) << error.toStdString();
    }
}

TEST(CliArguments, FileNamesFromAddressesAreSafe) {
    EXPECT_EQ(FileNameForUrl(QStringLiteral("http://127.0.0.1:8080/a/b.html?x=1"), QStringLiteral("PNG")),
              QStringLiteral("127.0.0.1_8080_a_b.html_x_1.png"));
    EXPECT_EQ(FileNameForUrl(QStringLiteral("https://example.org/"), QStringLiteral("JPG")),
              QStringLiteral("example.org.jpg"));
    EXPECT_EQ(FileNameForUrl(QStringLiteral("../../etc/passwd"), QStringLiteral("JPG")),
              QStringLiteral("etc_passwd.jpg"));
    EXPECT_FALSE(FileNameForUrl(QString(500, QLatin1Char('a')), QStringLiteral("GIF")).size() > 124);
}

TEST(CliArguments, WhetherTheOutputIsAFolderFollowsTheOptionsNotTheListsLength) {
    QTemporaryDir dir;
    const auto folder = [](const QStringList& args) {
        CliOptions options;
        QString error;
        EXPECT_EQ(ParseCliArguments(args, &options, &error), ParseStatus::Ok) << error.toStdString();
        return OutputIsFolder(options);
    };
    EXPECT_FALSE(folder({QStringLiteral("-o"), QStringLiteral("out/dir"), QStringLiteral("http://a/")}));
    EXPECT_TRUE(folder({QStringLiteral("-o"), QStringLiteral("out/dir/"), QStringLiteral("http://a/")}));
    EXPECT_TRUE(folder({QStringLiteral("-o"), dir.path(), QStringLiteral("http://a/")}));
    EXPECT_TRUE(folder({QStringLiteral("-o"), QStringLiteral("out/dir"), QStringLiteral("http://a/"),
                        QStringLiteral("http://b/")}));
    // A list means a folder whatever it holds, a single line included.
    EXPECT_TRUE(folder(
        {QStringLiteral("-o"), QStringLiteral("out/dir"), QStringLiteral("-i"), QStringLiteral("list.txt")}));
    EXPECT_TRUE(folder({QStringLiteral("-o"), QStringLiteral("out/dir"), QStringLiteral("-")}));
}

TEST(CliArguments, ControlCharactersArePrintedAsEscapes) {
    EXPECT_EQ(PrintableText(QStringLiteral("http://a/\x1b[31mred\r\nnext\tx\x7f\u0085")),
              QStringLiteral("http://a/\\x1b[31mred\\r\\nnext\\tx\\x7f\\x85"));
    EXPECT_EQ(PrintableText(QString::fromUtf8("http://例子.测试/ü")),
              QString::fromUtf8("http://例子.测试/ü"));
}

namespace {

class CliBrowser : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server = new TestHttpServer;
        server->routeHtml(QStringLiteral("/one"), "<html><body>one</body></html>");
        server->routeHtml(QStringLiteral("/two"), "<html><body>two</body></html>");
        HttpResponse stall;
        stall.stall = true;
        server->route(QStringLiteral("/stall"), stall);
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    // Runs the tool with an empty settings folder so that no user settings leak in.
    int run(const QStringList& args, QByteArray* out = nullptr, QByteArray* err = nullptr) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(LUMICLIP_CLI_PATH),
                      QStringList{QStringLiteral("--settings"), settings} + args);
        EXPECT_TRUE(process.waitForFinished(60000));
        if (out) {
            *out = process.readAllStandardOutput();
        }
        if (err) {
            *err = process.readAllStandardError();
        }
        return process.exitCode();
    }
    void SetUp() override {
        settings = dir.filePath(QStringLiteral("Lumiclip.ini"));
        writeFile(settings, "[capture]\nweb_width=810\n");
    }

    static TestHttpServer* server;
    QTemporaryDir dir;
    QString settings;
};

TestHttpServer* CliBrowser::server = nullptr;

}  // namespace

TEST_F(CliBrowser, UsageErrorsExitWithTwo) {
    QByteArray err;
    EXPECT_EQ(run({QStringLiteral("--size"), QStringLiteral("0x10"), server->url(QStringLiteral("/one"))},
                  nullptr, &err),
              2);
    EXPECT_TRUE(err.contains("0x10"));
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

TEST_F(CliBrowser, CtrlCEndsTheRunInOrderAndLeavesNoProfile) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString runtime = dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(LUMICLIP_CLI_PATH),
                  {QStringLiteral("--settings"), settings, QStringLiteral("-o"),
                   dir.filePath(QStringLiteral("i.jpg")), server->url(QStringLiteral("/stall"))});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return countProcessesMatching(runtime) > 0; }, 15000));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(15000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 128 + SIGINT);
    EXPECT_TRUE(process.readAllStandardError().contains("interrupted"));
    EXPECT_TRUE(waitUntil([&] { return countProcessesMatching(runtime) == 0; }, 5000));
    EXPECT_TRUE(QDir(runtime).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(CliBrowser, NoBrowserProcessOutlivesTheToolEvenWhenItIsKilled) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString runtime = dir.filePath(QStringLiteral("run"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    env.insert(QStringLiteral("HOME"), dir.path());
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(LUMICLIP_CLI_PATH),
                  {QStringLiteral("--settings"), settings, QStringLiteral("-o"),
                   dir.filePath(QStringLiteral("k.jpg")), server->url(QStringLiteral("/stall"))});
    ASSERT_TRUE(process.waitForStarted());
    // The browser's command line names its profile folder, which lies in our runtime folder.
    ASSERT_TRUE(waitUntil([&] { return countProcessesMatching(runtime) > 0; }, 15000));
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished();
    EXPECT_TRUE(waitUntil([&] { return countProcessesMatching(runtime) == 0; }, 5000))
        << countProcessesMatching(runtime);

    // A normal end leaves nothing behind either, and the stale profile of the killed run is removed.
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(LUMICLIP_CLI_PATH),
                 {QStringLiteral("--settings"), settings, QStringLiteral("-o"),
                  dir.filePath(QStringLiteral("n.jpg")), server->url(QStringLiteral("/one"))});
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitUntil([&] { return countProcessesMatching(runtime) == 0; }, 5000));
    EXPECT_TRUE(QDir(runtime).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
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

namespace {

// The pid of the browser that the tool started (its child with the debugging pipe), or 0.
pid_t browserOf(qint64 tool) {
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        if (!isPid) {
            continue;
        }
        const QByteArray stat = readFile(QStringLiteral("/proc/%1/stat").arg(pid));
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == tool &&
            readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).contains("--remote-debugging-pipe")) {
            return pid;
        }
    }
    return 0;
}

QList<QJsonObject> jsonLines(const QByteArray& out) {
    QList<QJsonObject> lines;
    for (const QByteArray& line : out.trimmed().split('\n')) {
        if (!line.isEmpty()) {
            lines.append(QJsonDocument::fromJson(line).object());
        }
    }
    return lines;
}

}  // namespace

TEST_F(CliBrowser, ABrowserKilledUnderManyPagesLosesOnlyThePagesInFlight) {
    HttpResponse slow;
    slow.body = "<html><body>slow</body></html>";
    slow.delayMs = 400;
    server->route(QStringLiteral("/slow"), slow);
    QStringList urls;
    for (int i = 0; i < 24; ++i) {
        urls.append(server->url(QStringLiteral("/slow?%1").arg(i)));
    }
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(
        QStringLiteral(LUMICLIP_CLI_PATH),
        QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--json"), QStringLiteral("-j"),
                    QStringLiteral("16"), QStringLiteral("-o"), dir.filePath(QStringLiteral("many"))} +
            urls);
    ASSERT_TRUE(process.waitForStarted());
    // SIGPIPE is ignored: a write to a browser that has just died fails instead of killing the tool.
    ASSERT_TRUE(waitUntil([&] { return browserOf(process.processId()) != 0; }, 15000));
    const QByteArray status = readFile(QStringLiteral("/proc/%1/status").arg(process.processId()));
    const qsizetype at = status.indexOf("SigIgn:");
    ASSERT_GE(at, 0);
    const quint64 ignored =
        status.mid(at + 7, status.indexOf('\n', at) - at - 7).trimmed().toULongLong(nullptr, 16);
    EXPECT_NE(ignored & (1ULL << (SIGPIPE - 1)), 0U);

    ASSERT_TRUE(waitUntil([&] { return server->hits(QStringLiteral("/slow")) >= 8; }, 20000));
    ::kill(browserOf(process.processId()), SIGKILL);
    ASSERT_TRUE(process.waitForFinished(90000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 1) << process.readAllStandardError().toStdString();
    const QList<QJsonObject> lines = jsonLines(process.readAllStandardOutput());
    EXPECT_EQ(lines.size(), urls.size());
    int captured = 0;
    for (const QJsonObject& line : lines) {
        captured += line.value(QStringLiteral("ok")).toBool() ? 1 : 0;
    }
    EXPECT_GT(captured, 0) << "the pages after the crash start a new browser";
    EXPECT_LT(captured, urls.size());
}

TEST_F(CliBrowser, ATerminationSignalEndsTheBatchAndReportsEveryAddressLeft) {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sig);
        HttpResponse stall;
        stall.stall = true;
        const QString path = QStringLiteral("/stall-%1").arg(sig);
        server->route(path, stall);
        QStringList urls;
        for (int i = 0; i < 5; ++i) {
            urls.append(server->url(path + QStringLiteral("?%1").arg(i)));
        }
        QProcess process;
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(LUMICLIP_CLI_PATH),
                      QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--json"),
                                  QStringLiteral("-j"), QStringLiteral("2"), QStringLiteral("-o"),
                                  dir.filePath(QStringLiteral("sig"))} +
                          urls);
        ASSERT_TRUE(process.waitForStarted());
        ASSERT_TRUE(waitUntil([&] { return server->hits(path) >= 2; }, 20000));
        const pid_t browser = browserOf(process.processId());
        ASSERT_NE(browser, 0);
        ::kill(static_cast<pid_t>(process.processId()), sig);
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 128 + sig);
        // No page started after the signal.
        waitUntil([] { return false; }, 300);
        EXPECT_EQ(server->hits(path), 2);
        const QList<QJsonObject> lines = jsonLines(process.readAllStandardOutput());
        ASSERT_EQ(lines.size(), urls.size());
        QSet<QString> reported;
        for (const QJsonObject& line : lines) {
            EXPECT_FALSE(line.value(QStringLiteral("ok")).toBool());
            EXPECT_EQ(line.value(QStringLiteral("error")).toString(), QStringLiteral("interrupted"));
            reported.insert(line.value(QStringLiteral("url")).toString());
        }
        EXPECT_EQ(reported.size(), urls.size());
        EXPECT_TRUE(
            waitUntil([&] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(browser)); }, 5000));
    }
}
