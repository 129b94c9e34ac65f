// The shared browser's own pages: it keeps none while idle, and a capture leaves none behind. Its
// profile lies in a private folder of the user, and the sweep of stale profiles empties nothing that
// is not exactly one of ours.
#include "core/browser/browser.h"
#include "core/browser/browser_process.h"
#include "core/capture/page_capture.h"
#include "core/cdp/cdp_connection.h"

#include "support/test_http_server.h"
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumiclip;
using namespace lumiclip::test;

namespace {

// The browser's page targets, or -1 when it did not answer.
int pageTargets(Browser& browser) {
    CdpConnection* connection = browser.connection();
    if (!connection) {
        return -1;
    }
    bool answered = false;
    int pages = -1;
    QObject context;
    connection->call(QStringLiteral("Target.getTargets"), {}, {}, 10000, &context,
                     [&answered, &pages](const CdpReply& reply) {
                         answered = true;
                         if (!reply.ok) {
                             return;
                         }
                         pages = 0;
                         const QJsonArray infos = reply.result.value(QStringLiteral("targetInfos")).toArray();
                         for (const QJsonValue& info : infos) {
                             pages += info.toObject().value(QStringLiteral("type")).toString() ==
                                      QStringLiteral("page");
                         }
                     });
    waitUntil([&answered] { return answered; }, 15000);
    return pages;
}

// The --user-data-dir the process was started with, or empty.
QString userDataDir(pid_t pid) {
    const QList<QByteArray> args = readFile(QStringLiteral("/proc/%1/cmdline").arg(pid)).split('\0');
    for (const QByteArray& arg : args) {
        if (arg.startsWith("--user-data-dir=")) {
            return QFile::decodeName(arg.mid(16));
        }
    }
    return {};
}

struct stat lstatOf(const QString& path) {
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        info.st_mode = 0;
    }
    return info;
}

// A pid that ran a moment ago and runs no more.
pid_t deadPid() {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
    return pid;
}

// Sets an environment variable for one test, or unsets it given a null value; the old value returns.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
        set(value);
    }
    ~ScopedEnv() {
        if (m_wasSet) {
            qputenv(m_name, m_old);
        } else {
            qunsetenv(m_name);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;
    void set(const QByteArray& value) {
        if (value.isNull()) {
            qunsetenv(m_name);
        } else {
            qputenv(m_name, value);
        }
    }

private:
    const char* m_name;
    bool m_wasSet;
    QByteArray m_old;
};

// Plants entries in the real profile folder, as a stale run or another user would leave them, and
// removes whatever is left of them afterwards without following a link.
class ProfileSweep : public ::testing::Test {
protected:
    void SetUp() override {
        QString error;
        m_parent = BrowserProcess::ProfileParent(&error);
        ASSERT_FALSE(m_parent.isEmpty()) << error.toStdString();
        m_dead = deadPid();
    }
    void TearDown() override {
        for (const QString& path : m_planted) {
            if (QFileInfo(path).isSymLink() || !QFileInfo(path).isDir()) {
                QFile::remove(path);
            } else {
                QDir(path).removeRecursively();
            }
        }
    }
    // <prefix><dead pid><suffix> in the profile folder.
    QString plant(const char* suffix) {
        const QString path = QDir(m_parent).filePath(BrowserProcess::ProfilePrefix() +
                                                     QString::number(m_dead) + QString::fromLatin1(suffix));
        m_planted.push_back(path);
        return path;
    }
    QString plantFolder(const char* suffix) {
        const QString path = plant(suffix);
        EXPECT_TRUE(QDir().mkdir(path)) << path.toStdString();
        return path;
    }

    QString m_parent;
    pid_t m_dead = -1;
    QStringList m_planted;
};

class SharedBrowser : public ::testing::Test {
protected:
    static void SetUpTestSuite() { browser = new Browser; }
    static void TearDownTestSuite() {
        delete browser;
        browser = nullptr;
    }
    void SetUp() override {
        QString error;
        ASSERT_TRUE(browser->ensureStarted(&error)) << error.toStdString();
    }

    static Browser* browser;
};

Browser* SharedBrowser::browser = nullptr;

}  // namespace

TEST_F(SharedBrowser, AnIdleHeadlessShellHoldsNoPage) {
    if (!browser->isHeadlessShell()) {
        GTEST_SKIP() << "the full browser keeps a start page";
    }
    // A start page would be a renderer kept alive for the browser's whole life.
    EXPECT_EQ(pageTargets(*browser), 0);
}

TEST_F(SharedBrowser, ACaptureLeavesNoPageBehind) {
    TestHttpServer server;
    server.routeHtml(QStringLiteral("/"), "<html><body>page</body></html>");
    const int before = pageTargets(*browser);
    ASSERT_GE(before, 0);
    for (int i = 0; i < 3; ++i) {
        CaptureRequest options;
        options.url = server.url(QStringLiteral("/"));
        PageCapture capture(*browser, options);
        capture.start();
        ASSERT_TRUE(waitUntil([&capture] { return capture.isFinished(); }, 30000));
        ASSERT_TRUE(capture.outcome().ok) << capture.outcome().error.toStdString();
    }
    // The contexts are disposed without waiting for the answer: give the browser a moment.
    EXPECT_TRUE(waitUntil([before] { return pageTargets(*browser) == before; }, 5000))
        << pageTargets(*browser);
}

TEST_F(SharedBrowser, ItsProfileIsAPrivateFolderInTheUsersOwnFolder) {
    // The process shows the browser's command line once it has started the program.
    QString profile;
    ASSERT_TRUE(waitUntil([&profile] { return !(profile = userDataDir(browser->pid())).isEmpty(); }, 10000));
    const QString parent = BrowserProcess::ProfileParent();
    EXPECT_EQ(QFileInfo(profile).absolutePath(), parent);
    EXPECT_NE(QDir::cleanPath(parent), QDir::cleanPath(QDir::tempPath()));
    const struct stat folder = lstatOf(profile);
    EXPECT_TRUE(S_ISDIR(folder.st_mode));
    EXPECT_EQ(folder.st_mode & 07777, 0700u);
    EXPECT_EQ(folder.st_uid, ::geteuid());
    const struct stat above = lstatOf(parent);
    EXPECT_EQ(above.st_uid, ::geteuid());
    EXPECT_EQ(above.st_mode & (S_IWGRP | S_IWOTH), 0u);
}

TEST(ProfileParent, IsThePrivateRuntimeFolderElseAPrivateFolderInTheCache) {
    QTemporaryDir base;
    const QString runtime = base.filePath(QStringLiteral("run"));
    const QString cache = base.filePath(QStringLiteral("cache"));
    ASSERT_TRUE(QDir().mkdir(runtime));
    ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    ScopedEnv cacheEnv("XDG_CACHE_HOME", QFile::encodeName(cache));
    EXPECT_EQ(BrowserProcess::ProfileParent(), runtime);

    const QString fallback = cache + QStringLiteral("/lumiclip");
    // A runtime folder that others may write in, a relative one or none: the cache folder, made private.
    ASSERT_EQ(::chmod(QFile::encodeName(runtime).constData(), 0777), 0);
    EXPECT_EQ(BrowserProcess::ProfileParent(), fallback);
    EXPECT_EQ(lstatOf(fallback).st_mode & 07777, 0700u);
    runtimeEnv.set("run");
    EXPECT_EQ(BrowserProcess::ProfileParent(), fallback);
    runtimeEnv.set(QByteArray());
    ASSERT_EQ(::chmod(QFile::encodeName(fallback).constData(), 0755), 0);
    EXPECT_EQ(BrowserProcess::ProfileParent(), fallback);
    EXPECT_EQ(lstatOf(fallback).st_mode & 07777, 0700u);

    // A link in the place of the cache folder's is not followed.
    ASSERT_TRUE(QDir(fallback).removeRecursively());
    ASSERT_TRUE(QFile::link(runtime, fallback));
    QString error;
    EXPECT_EQ(BrowserProcess::ProfileParent(&error), QString());
    EXPECT_TRUE(error.contains(fallback)) << error.toStdString();
}

TEST_F(ProfileSweep, RemovesOurStaleFolderAndFollowsNoLink) {
    QTemporaryDir target;
    ASSERT_TRUE(writeFile(target.filePath(QStringLiteral("keep")), "keep"));
    QTemporaryDir innerTarget;
    ASSERT_TRUE(writeFile(innerTarget.filePath(QStringLiteral("keep")), "keep"));

    // A link with the name of a dead run's profile, to a folder that holds a file.
    const QString link = plant("-Abc123");
    ASSERT_TRUE(QFile::link(target.path(), link));
    // A real stale profile of ours, with a link inside it to another folder.
    const QString stale = plantFolder("-Xy9Zq0");
    ASSERT_TRUE(writeFile(stale + QStringLiteral("/Cookies"), "cookies"));
    ASSERT_TRUE(QFile::link(innerTarget.path(), stale + QStringLiteral("/inner")));

    BrowserProcess::RemoveStaleProfiles();
    EXPECT_EQ(readFile(target.filePath(QStringLiteral("keep"))), QByteArray("keep"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_FALSE(QFileInfo::exists(stale));
    EXPECT_EQ(readFile(innerTarget.filePath(QStringLiteral("keep"))), QByteArray("keep"));
}

TEST_F(ProfileSweep, LeavesNamesThatAreNotExactlyAProfilesName) {
    QStringList left;
    for (const char* suffix : {"", "-", "-Abc12", "-Abc1234", "-Ab.c12", "-Ab-c12", "x-Abc123", "-Abc123-"}) {
        const QString folder = plantFolder(suffix);
        ASSERT_TRUE(writeFile(folder + QStringLiteral("/file"), "file"));
        left.push_back(folder);
    }
    BrowserProcess::RemoveStaleProfiles();
    for (const QString& folder : left) {
        EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/file"))) << folder.toStdString();
    }
}

TEST_F(ProfileSweep, LeavesAFolderOfAnotherUser) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "a folder of another user can only be made as root";
    }
    const QString folder = plantFolder("-Other1");
    ASSERT_TRUE(writeFile(folder + QStringLiteral("/file"), "file"));
    const QByteArray path = QFile::encodeName(folder);
    ASSERT_EQ(::chown((path + "/file").constData(), 65534, 65534), 0);
    ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
    BrowserProcess::RemoveStaleProfiles();
    EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/file")));
}
