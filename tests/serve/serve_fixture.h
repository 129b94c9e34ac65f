#pragma once

// lumiclip-serve run as a user runs it, on 127.0.0.1, asked by real HTTP clients, and ended by its own
// signal handling.
#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>

#include <csignal>
#include <memory>

namespace lumiclip::test {

struct Answer {
    int status = 0;
    QByteArray body;
    QHash<QByteArray, QByteArray> headers;  // lower-case names
    QByteArray header(const char* name) const { return headers.value(QByteArray(name)); }
};

class ServeProcess {
public:
    explicit ServeProcess(const QString& home) : m_home(home) {}
    ~ServeProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    // Starts the server with these arguments (and --listen 127.0.0.1:0, a settings file of its own and a
    // cache in the test's folder unless given); false when it does not say where it listens.
    bool start(const QStringList& args) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home + QStringLiteral("/cache"));
        env.remove(QStringLiteral("CACHE_DIRECTORY"));
        // The browser's profile lies in the runtime folder: a process left behind would name it.
        QDir().mkpath(runtimeDir());
        QFile::setPermissions(runtimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir());
        m_process.setProcessEnvironment(env);
        QStringList all{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")};
        if (!args.contains(QStringLiteral("--settings"))) {
            all += {QStringLiteral("--settings"), m_home + QStringLiteral("/Lumiclip.ini")};
        }
        m_process.setReadChannel(QProcess::StandardError);
        m_process.start(QStringLiteral(LUMICLIP_SERVE_PATH), all + args);
        QElapsedTimer clock;
        clock.start();
        static const QRegularExpression listening(QStringLiteral("listening on http://127.0.0.1:(\\d+)/"));
        while (clock.elapsed() < 30000 && m_process.state() != QProcess::NotRunning) {
            m_process.waitForReadyRead(200);
            m_err += m_process.readAllStandardError();
            const QRegularExpressionMatch match = listening.match(QString::fromUtf8(m_err));
            if (match.hasMatch()) {
                m_port = static_cast<quint16>(match.captured(1).toUInt());
                return true;
            }
        }
        return false;
    }
    QString url(const QString& pathAndQuery) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(pathAndQuery);
    }
    QString capture(const QString& address, const QList<QPair<QString, QString>>& more = {}) const {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("url"), QString::fromLatin1(QUrl::toPercentEncoding(address)));
        for (const auto& [name, value] : more) {
            query.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
        }
        return url(QStringLiteral("/capture?") + query.toString(QUrl::FullyEncoded));
    }
    // Sends the signal and waits for the end; the exit status, or -1 when it did not end in time.
    int stop(int signal = SIGTERM, int withinMs = 30000) {
        ::kill(static_cast<pid_t>(m_process.processId()), signal);
        if (!m_process.waitForFinished(withinMs)) {
            return -1;
        }
        m_err += m_process.readAllStandardError();
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    qint64 pid() const { return m_process.processId(); }
    QString runtimeDir() const { return m_home + QStringLiteral("/run"); }
    quint16 port() const { return m_port; }
    QByteArray err() {
        m_err += m_process.readAllStandardError();
        return m_err;
    }

private:
    QString m_home;
    QProcess m_process;
    QByteArray m_err;
    quint16 m_port = 0;
};

// HTTP requests from the test's thread, several at once if asked.
class Client {
public:
    Answer get(const QString& url, const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        return wait(send(QByteArrayLiteral("GET"), url, headers)).first();
    }
    Answer post(const QString& url, const QByteArray& body,
                const QList<QPair<QByteArray, QByteArray>>& headers = {}) {
        return wait(send(QByteArrayLiteral("POST"), url, headers, body)).first();
    }
    QNetworkReply* send(const QByteArray& method, const QString& url,
                        const QList<QPair<QByteArray, QByteArray>>& headers = {},
                        const QByteArray& body = {}) {
        QNetworkRequest request{QUrl(url)};
        request.setTransferTimeout(90000);
        for (const auto& [name, value] : headers) {
            request.setRawHeader(name, value);
        }
        if (method == "POST") {
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        }
        return m_manager.sendCustomRequest(request, method, body);
    }
    QList<Answer> wait(const QList<QNetworkReply*>& replies) {
        QList<Answer> answers;
        for (QNetworkReply* reply : replies) {
            if (!reply->isFinished()) {
                QEventLoop loop;
                QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
                loop.exec();
            }
            Answer answer;
            answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            answer.body = reply->readAll();
            for (const auto& [name, value] : reply->rawHeaderPairs()) {
                answer.headers.insert(name.toLower(), value);
            }
            answers.append(answer);
            reply->deleteLater();
        }
        return answers;
    }
    QList<Answer> wait(QNetworkReply* reply) { return wait(QList<QNetworkReply*>{reply}); }

private:
    QNetworkAccessManager m_manager;
};

// lumiclip-serve started by each test, the pages it captures served on 127.0.0.1 for the suite.
inline const QColor kGreen(0, 160, 0);

class Serve : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        pages = new TestHttpServer;
        pages->routeHtml(QStringLiteral("/green"),
                         "<html><body style='margin:0;background:rgb(0,160,0)'></body></html>");
        HttpResponse slow;
        slow.body = "<html><body style='margin:0;background:rgb(0,160,0)'>slow</body></html>";
        slow.delayMs = 1500;
        pages->route(QStringLiteral("/slow"), slow);
        HttpResponse missing;
        missing.status = 404;
        missing.body = "<html><body>gone</body></html>";
        pages->route(QStringLiteral("/missing"), missing);
        HttpResponse stall;
        stall.stall = true;
        pages->route(QStringLiteral("/stall"), stall);
    }
    static void TearDownTestSuite() {
        delete pages;
        pages = nullptr;
    }
    // The test pages' host is the one private address the server may reach.
    QStringList allowPages() const {
        return {QStringLiteral("--allow"), QStringLiteral("127.0.0.1:%1").arg(pages->port()),
                QStringLiteral("--cache"), dir.filePath(QStringLiteral("cache"))};
    }
    static QString error(const Answer& answer) {
        return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("error")).toString();
    }
    static QString kind(const Answer& answer) {
        return QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("error_kind")).toString();
    }

    static inline TestHttpServer* pages = nullptr;
    QTemporaryDir dir;
    ServeProcess serve{dir.path()};
    Client client;
};

}  // namespace lumiclip::test
