#pragma once

// The command-line tool run as a process against a local server, with settings of its own.
#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

namespace lumiclip::test {

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

    // count addresses of one page (path?0, path?1, …) that the server answers after delayMs.
    static QStringList slowPages(const QString& path, int count, int delayMs) {
        HttpResponse slow;
        slow.body = "<html><body style='background:#00f'>slow</body></html>";
        slow.delayMs = delayMs;
        server->route(path, slow);
        QStringList urls;
        for (int i = 0; i < count; ++i) {
            urls.append(server->url(path + QStringLiteral("?%1").arg(i)));
        }
        return urls;
    }

    static inline TestHttpServer* server = nullptr;
    QTemporaryDir dir;
    QString settings;
};

// The pid of the browser that the tool started (its child with the debugging pipe), or 0.
inline pid_t browserOf(qint64 tool) {
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

inline QList<QJsonObject> jsonLines(const QByteArray& out) {
    QList<QJsonObject> lines;
    for (const QByteArray& line : out.trimmed().split('\n')) {
        if (!line.isEmpty()) {
            lines.append(QJsonDocument::fromJson(line).object());
        }
    }
    return lines;
}

}  // namespace lumiclip::test
