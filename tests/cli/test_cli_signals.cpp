// lumiclip-cli's end: signals, a browser that dies under a batch, and no process or profile left.
#include "cli_fixture.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <csignal>

using namespace lumiclip;
using namespace lumiclip::test;

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

TEST_F(CliBrowser, ABrowserKilledUnderManyPagesLosesOnlyThePagesInFlight) {
    const QStringList urls = slowPages(QStringLiteral("/slow"), 24, 400);
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(
        QStringLiteral(LUMICLIP_CLI_PATH),
        QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--json"),
                    QStringLiteral("--retries"), QStringLiteral("0"), QStringLiteral("-j"),
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

TEST_F(CliBrowser, ThePagesInFlightWhenTheBrowserDiesAreTriedAgainOnANewOne) {
    const QStringList urls = slowPages(QStringLiteral("/again"), 8, 400);
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(
        QStringLiteral(LUMICLIP_CLI_PATH),
        QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--json"), QStringLiteral("-j"),
                    QStringLiteral("4"), QStringLiteral("-o"), dir.filePath(QStringLiteral("again"))} +
            urls);
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(waitUntil([&] { return server->hits(QStringLiteral("/again")) >= 3; }, 20000));
    ::kill(browserOf(process.processId()), SIGKILL);
    ASSERT_TRUE(process.waitForFinished(90000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    const QList<QJsonObject> lines = jsonLines(process.readAllStandardOutput());
    ASSERT_EQ(lines.size(), urls.size());
    for (const QJsonObject& line : lines) {
        EXPECT_TRUE(line.value(QStringLiteral("ok")).toBool())
            << line.value(QStringLiteral("error")).toString().toStdString();
        EXPECT_TRUE(line.value(QStringLiteral("endpoint")).isNull());
    }
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

TEST_F(CliBrowser, AnInterruptedBatchStillWritesItsGalleryWithWhatWasCaptured) {
    const QString gallery = dir.filePath(QStringLiteral("gallery.html"));
    const QString folder = dir.filePath(QStringLiteral("cut"));
    QProcess process;
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(LUMICLIP_CLI_PATH),
                  {QStringLiteral("--settings"), settings, QStringLiteral("--json"),
                   QStringLiteral("--gallery"), gallery, QStringLiteral("-o"), folder,
                   server->url(QStringLiteral("/one")), server->url(QStringLiteral("/stall"))});
    ASSERT_TRUE(process.waitForStarted());
    QByteArray out;
    ASSERT_TRUE(waitUntil(
        [&] {
            out += process.readAllStandardOutput();
            return out.contains('\n');
        },
        20000));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitCode(), 128 + SIGINT);
    const QByteArray html = readFile(gallery);
    const QString image = QDir(folder).entryList(QDir::Files).value(0);
    ASSERT_FALSE(image.isEmpty());
    EXPECT_TRUE(html.contains("src=\"cut/" + image.toUtf8() + '"')) << html.toStdString();
    EXPECT_EQ(html.count("<img"), 1);
    EXPECT_TRUE(html.contains("interrupted"));
    EXPECT_TRUE(html.contains(server->url(QStringLiteral("/stall")).toUtf8()));
}
