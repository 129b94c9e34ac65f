#include "cli/cli_options.h"

#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

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
    EXPECT_EQ(o.viewWidth, 1024);
    EXPECT_EQ(o.viewHeight, 768);
    EXPECT_EQ(o.imageWidth, 200);
    EXPECT_EQ(o.imageHeight, 50);
    EXPECT_EQ(o.format, QStringLiteral("PNG"));
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
