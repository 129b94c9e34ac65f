// lumiclip-cli on browsers elsewhere: headless shells serving DevTools on 127.0.0.1, as they would on
// other machines; endpoints that fail; shards of a list.
#include "cli_fixture.h"
#include "support/remote_shell.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHostInfo>
#include <QImage>
#include <QJsonArray>
#include <QSet>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// Accepts connections and closes each at once, in the middle of the WebSocket handshake.
class ClosingServer {
public:
    ClosingServer() {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_fd, 16);
        socklen_t length = sizeof address;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] {
            while (!m_stop) {
                const int client = ::accept(m_fd, nullptr, nullptr);
                if (client >= 0) {
                    char request[512];
                    (void)::recv(client, request, sizeof request, 0);
                    ::close(client);
                }
            }
        });
    }
    ~ClosingServer() {
        m_stop = true;
        ::shutdown(m_fd, SHUT_RDWR);
        m_thread.join();
        ::close(m_fd);
    }
    ClosingServer(const ClosingServer&) = delete;
    ClosingServer& operator=(const ClosingServer&) = delete;
    int port() const { return m_port; }

private:
    int m_fd = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class CliRemote : public CliBrowser {
protected:
    // The tool, with no local browser to start: a page that tried to start one would fail.
    void startTool(QProcess* process, const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LUMICLIP_BROWSER"), dir.filePath(QStringLiteral("no-such-browser")));
        env.insert(QStringLiteral("HOME"), dir.path());
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(dir.path());
        process->start(QStringLiteral(LUMICLIP_CLI_PATH),
                       QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--json")} + args);
        ASSERT_TRUE(process->waitForStarted());
    }
    int runTool(const QStringList& args, QList<QJsonObject>* lines, QByteArray* err, int timeoutMs = 60000) {
        QProcess process;
        startTool(&process, args);
        EXPECT_TRUE(process.waitForFinished(timeoutMs));
        *lines = jsonLines(process.readAllStandardOutput());
        *err = process.readAllStandardError();
        return process.exitCode();
    }
};

}  // namespace

TEST_F(CliRemote, ABatchOverTwoBrowsersElsewhereUsesBothAndLeavesNoContextBehind) {
    RemoteShell first;
    RemoteShell second;
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(second.start());
    const QStringList urls = slowPages(QStringLiteral("/two-browsers"), 8, 200);
    QList<QJsonObject> lines;
    QByteArray err;
    // One by its socket, one by its HTTP address.
    const int status =
        runTool(QStringList{QStringLiteral("--browser"), first.socketUrl(), QStringLiteral("--browser"),
                            second.httpUrl(), QStringLiteral("-o"), dir.filePath(QStringLiteral("out"))} +
                    urls,
                &lines, &err);
    EXPECT_EQ(status, 0) << err.toStdString();
    EXPECT_FALSE(err.contains("warning")) << "loopback endpoints are not warned about";
    ASSERT_EQ(lines.size(), urls.size());
    QSet<QString> used;
    for (const QJsonObject& line : lines) {
        EXPECT_TRUE(line.value(QStringLiteral("ok")).toBool())
            << line.value(QStringLiteral("error")).toString().toStdString();
        used.insert(line.value(QStringLiteral("endpoint")).toString());
        EXPECT_EQ(imageFileSize(line.value(QStringLiteral("output")).toString()), QSize(180, 138));
    }
    EXPECT_EQ(used, (QSet<QString>{first.socketUrl(), second.httpUrl()}));

    // Each page had its own context and target, and none is left: the shells show only their first tab.
    for (const RemoteShell* shell : {&first, &second}) {
        QProcess list;
        list.start(QStringLiteral("python3"),
                   {QStringLiteral("-c"),
                    QStringLiteral("import urllib.request,sys;"
                                   "sys.stdout.write(urllib.request.urlopen(sys.argv[1]).read().decode())"),
                    shell->httpUrl() + QStringLiteral("/json/list")});
        ASSERT_TRUE(list.waitForFinished(10000));
        const QJsonArray targets = QJsonDocument::fromJson(list.readAllStandardOutput()).array();
        for (const QJsonValue& target : targets) {
            EXPECT_FALSE(target.toObject()
                             .value(QStringLiteral("url"))
                             .toString()
                             .contains(QStringLiteral("two-browsers")))
                << "a page's target was left open";
        }
    }
}

TEST_F(CliRemote, ABrowserKilledMidBatchLosesNoPage) {
    RemoteShell doomed;
    RemoteShell survivor;
    ASSERT_TRUE(doomed.start());
    ASSERT_TRUE(survivor.start());
    const QStringList urls = slowPages(QStringLiteral("/failover"), 16, 400);
    QProcess process;
    startTool(&process,
              QStringList{QStringLiteral("--browser"), doomed.socketUrl(), QStringLiteral("--browser"),
                          survivor.socketUrl(), QStringLiteral("-o"), dir.filePath(QStringLiteral("fo"))} +
                  urls);
    ASSERT_TRUE(waitUntil([&] { return server->hits(QStringLiteral("/failover")) >= 5; }, 30000));
    doomed.kill();
    ASSERT_TRUE(process.waitForFinished(90000));
    const QByteArray err = process.readAllStandardError();
    EXPECT_EQ(process.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains("lost browser")) << err.toStdString();
    const QList<QJsonObject> lines = jsonLines(process.readAllStandardOutput());
    ASSERT_EQ(lines.size(), urls.size());
    QSet<QString> reported;
    int onSurvivor = 0;
    for (const QJsonObject& line : lines) {
        EXPECT_TRUE(line.value(QStringLiteral("ok")).toBool())
            << line.value(QStringLiteral("error")).toString().toStdString();
        EXPECT_TRUE(QFileInfo(line.value(QStringLiteral("output")).toString()).isFile());
        reported.insert(line.value(QStringLiteral("url")).toString());
        onSurvivor += line.value(QStringLiteral("endpoint")).toString() == survivor.socketUrl() ? 1 : 0;
    }
    EXPECT_EQ(reported.size(), urls.size());
    EXPECT_GT(onSurvivor, urls.size() / 2);
}

TEST_F(CliRemote, ABadEndpointIsAClearErrorAndStatusOne) {
    ClosingServer closing;
    HttpResponse notABrowser;
    notABrowser.contentType = "application/json";
    notABrowser.body = R"({"Browser": "Something/1.0"})";
    server->route(QStringLiteral("/elsewhere/json/version"), notABrowser);
    struct Case {
        QString endpoint;
        QByteArray says;
    };
    const QList<Case> cases{
        {refusedUrl(), "Connection refused"},
        {QString(refusedUrl()).replace(QStringLiteral("http:"), QStringLiteral("ws:")) +
             QStringLiteral("/devtools/browser/x"),
         "Connection refused"},
        {server->url(QString()), "not a DevTools endpoint: /json/version answered HTTP 404"},
        {server->url(QStringLiteral("/elsewhere")),
         "not a DevTools endpoint: its /json/version names no browser"},
        {server->url(QStringLiteral("/one")).replace(QStringLiteral("http:"), QStringLiteral("ws:")),
         "did not open a DevTools connection within 5 s"},
        {QStringLiteral("ws://127.0.0.1:%1/devtools/browser/x").arg(closing.port()), "handshake failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.endpoint.toStdString());
        QList<QJsonObject> lines;
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        const int status = runTool({QStringLiteral("--browser"), c.endpoint, QStringLiteral("-o"),
                                    dir.filePath(QStringLiteral("bad")), server->url(QStringLiteral("/one")),
                                    server->url(QStringLiteral("/two"))},
                                   &lines, &err);
        EXPECT_EQ(status, 1);
        EXPECT_LT(clock.elapsed(), 9000) << "no waiting for a browser that is not there";
        EXPECT_TRUE(err.contains(c.says)) << err.toStdString();
        ASSERT_EQ(lines.size(), 2);
        for (const QJsonObject& line : lines) {
            EXPECT_FALSE(line.value(QStringLiteral("ok")).toBool());
            EXPECT_TRUE(line.value(QStringLiteral("error")).toString().contains(QString::fromUtf8(c.says)));
        }
        EXPECT_FALSE(
            QFileInfo::exists(dir.filePath(QStringLiteral("bad/127.0.0.1_%1_one.jpg").arg(server->port()))));
    }
}

TEST_F(CliRemote, AnEndpointOffThisMachineIsWarnedAboutAndOneThatNeverAnswersFailsTheRun) {
    RemoteShell shell;
    ASSERT_TRUE(shell.start());
    QList<QJsonObject> lines;
    QByteArray err;
    // A documentation address: nothing answers there. The pages go to the browser that does.
    const int status =
        runTool({QStringLiteral("--browser"), QStringLiteral("ws://192.0.2.1:9222/devtools/browser/x"),
                 QStringLiteral("--browser"), shell.socketUrl(), QStringLiteral("-o"),
                 dir.filePath(QStringLiteral("w")), server->url(QStringLiteral("/one"))},
                &lines, &err);
    EXPECT_TRUE(
        err.contains("warning: ws://192.0.2.1:9222/devtools/browser/x is neither on this machine nor wss://"))
        << err.toStdString();
    EXPECT_FALSE(err.contains(shell.socketUrl().toUtf8() + " is neither"));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(lines[0].value(QStringLiteral("endpoint")).toString(), shell.socketUrl());
    EXPECT_EQ(status, 1) << "an endpoint that never answered is a wrong address";
}

TEST_F(CliRemote, ABrowserNamedByItsHostNameIsAskedByItsAddress) {
    // The browser refuses DevTools requests whose Host is a name; the tool looks the name up instead.
    const QString name = QHostInfo::localHostName();
    const QList<QHostAddress> addresses = QHostInfo::fromName(name).addresses();
    if (!addresses.contains(QHostAddress(QHostAddress::LocalHost))) {
        GTEST_SKIP() << "this machine's name is not 127.0.0.1";
    }
    RemoteShell shell;
    ASSERT_TRUE(shell.start());
    QList<QJsonObject> lines;
    QByteArray err;
    QString byName = shell.httpUrl();
    byName.replace(QStringLiteral("127.0.0.1"), name);
    EXPECT_EQ(runTool({QStringLiteral("--browser"), byName, QStringLiteral("-o"),
                       dir.filePath(QStringLiteral("n.jpg")), server->url(QStringLiteral("/one"))},
                      &lines, &err),
              0)
        << err.toStdString();
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].value(QStringLiteral("ok")).toBool());
    EXPECT_EQ(lines[0].value(QStringLiteral("endpoint")).toString(), byName);
}

TEST_F(CliRemote, TheViewHasItsSizeOnABrowserElsewhere) {
    RemoteShell shell;
    ASSERT_TRUE(shell.start());
    // Red where the view is 400 CSS pixels wide and 300 high, blue beyond.
    server->routeHtml(QStringLiteral("/sized"),
                      "<html><body style='margin:0;background:#00f'>"
                      "<div style='width:400px;height:300px;background:#f00'></div></body></html>");
    QList<QJsonObject> lines;
    QByteArray err;
    const QString output = dir.filePath(QStringLiteral("sized.png"));
    ASSERT_EQ(runTool({QStringLiteral("--browser"), shell.socketUrl(), QStringLiteral("--view"),
                       QStringLiteral("400x300"), QStringLiteral("-f"), QStringLiteral("PNG"),
                       QStringLiteral("-o"), output, server->url(QStringLiteral("/sized"))},
                      &lines, &err),
              0)
        << err.toStdString();
    const QImage image(output);
    ASSERT_EQ(image.size(), QSize(180, 138));
    for (const QPoint at : {QPoint(2, 2), QPoint(177, 2), QPoint(2, 135), QPoint(177, 135)}) {
        EXPECT_GT(qRed(image.pixel(at)), 200) << at.x() << "," << at.y();
        EXPECT_LT(qBlue(image.pixel(at)), 60) << at.x() << "," << at.y();
    }
}

TEST_F(CliBrowser, TheShardsOfAListCoverItExactlyOnce) {
    QStringList urls;
    for (int i = 0; i < 9; ++i) {
        urls.append(server->url(QStringLiteral("/one?shard-%1").arg(i)));
    }
    const QString list = dir.filePath(QStringLiteral("list.txt"));
    writeFile(list, urls.join(QLatin1Char('\n')).toUtf8());
    QStringList seen;
    for (int k = 1; k <= 3; ++k) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        QStringList shard{QStringLiteral("--shard"), QStringLiteral("%1/3").arg(k)};
        if (k == 3) {
            // As a Kubernetes Indexed Job runs it: the index from 0.
            env.insert(QStringLiteral("JOB_COMPLETION_INDEX"), QStringLiteral("2"));
            shard = {QStringLiteral("--shard-count"), QStringLiteral("3"),
                     QStringLiteral("--shard-index-from-env")};
        }
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(LUMICLIP_CLI_PATH),
                      QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--json"),
                                  QStringLiteral("-i"), list, QStringLiteral("-o"),
                                  dir.filePath(QStringLiteral("shards"))} +
                          shard);
        ASSERT_TRUE(process.waitForFinished(60000));
        const QByteArray err = process.readAllStandardError();
        EXPECT_EQ(process.exitCode(), 0) << err.toStdString();
        EXPECT_TRUE(err.contains(QStringLiteral("shard %1/3").arg(k).toUtf8())) << err.toStdString();
        for (const QJsonObject& line : jsonLines(process.readAllStandardOutput())) {
            EXPECT_TRUE(line.value(QStringLiteral("ok")).toBool());
            seen.append(line.value(QStringLiteral("url")).toString());
        }
    }
    std::sort(seen.begin(), seen.end());
    QStringList expected = urls;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("shards"))).entryList(QDir::Files).size(), urls.size());

    // An index the environment does not give, or gives out of range, is a usage error.
    for (const QString& index : {QString(), QStringLiteral("3"), QStringLiteral("x")}) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("JOB_COMPLETION_INDEX"));
        if (!index.isEmpty()) {
            env.insert(QStringLiteral("JOB_COMPLETION_INDEX"), index);
        }
        process.setProcessEnvironment(env);
        process.start(
            QStringLiteral(LUMICLIP_CLI_PATH),
            {QStringLiteral("--settings"), settings, QStringLiteral("--shard-count"), QStringLiteral("3"),
             QStringLiteral("--shard-index-from-env"), QStringLiteral("-i"), list});
        ASSERT_TRUE(process.waitForFinished(20000));
        EXPECT_EQ(process.exitCode(), 2);
        EXPECT_TRUE(process.readAllStandardError().contains("JOB_COMPLETION_INDEX"));
    }
}

TEST_F(CliBrowser, TheKubernetesJobsArgumentsAreTheToolsOwn) {
    // The manifest in the documentation runs the tool with these: each must be a flag it takes, with a
    // value it accepts (--help then ends the run before anything is captured).
    const QByteArray manifest =
        readFile(QStringLiteral(LUMICLIP_SOURCE_DIR "/docs/k8s/lumiclip-shards.yaml"));
    ASSERT_FALSE(manifest.isEmpty());
    const QStringList args = manifestArguments(manifest);
    ASSERT_GE(args.size(), 5);
    EXPECT_TRUE(args.contains(QStringLiteral("--shard-index-from-env")));
    QByteArray out;
    QByteArray err;
    EXPECT_EQ(run(args + QStringList{QStringLiteral("--help")}, &out, &err), 0) << err.toStdString();
    EXPECT_TRUE(out.startsWith("Usage:"));
}
