#include "core/upgrade/network_state.h"
#include "core/upgrade/site_addresses.h"
#include "core/upgrade/upgrade_checker.h"
#include "upgrade/upgrade_check_fixture.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>

#include <ostream>
#include <vector>

namespace lumiclip {

void PrintTo(const UpgradeCheckResult& result, std::ostream* os) {
    static const char* const kKinds[] = {"Error", "Newer", "UpToDate"};
    *os << kKinds[static_cast<int>(result.kind)] << " \"" << result.text.toStdString() << '"';
}

namespace {

using test::HttpResponse;
using Results = std::vector<UpgradeCheckResult>;

const QString kFile = QStringLiteral("lumiclip_version.dat");

UpgradeCheckResult error(const char* text) {
    return {UpgradeCheckResult::Kind::Error, QString::fromUtf8(text)};
}

const UpgradeCheckResult kUpToDate{UpgradeCheckResult::Kind::UpToDate,
                                   QString::fromUtf8("你使用的已经是最新版本了。")};

class UpgradeCheck : public test::UpgradeCheckFixture {
protected:
    // One check of the version file served with this body; its results land in m_results.
    bool check(const QByteArray& body, const QString& installed = QStringLiteral("1.1.0"), int status = 200) {
        HttpResponse r;
        r.status = status;
        r.body = body;
        m_server.route(QStringLiteral("/download/lumiclip/") + kFile, r);
        CUpgradeChecker checker(options());
        const bool newer =
            checker.CheckVersion(QStringLiteral("Ombrix Lumiclip"),
                                 m_server.url(QStringLiteral("/download/lumiclip")), kFile, installed);
        m_results = checker.Results();
        return newer;
    }

    Results m_results;
};

TEST_F(UpgradeCheck, NewerVersionIsAnnouncedAndTheTempFileGoes) {
    EXPECT_TRUE(check("Version: \"1.2.0\"\r\nFilename: \"lumiclip.zip\"\r\n"));
    const UpgradeCheckResult newer{UpgradeCheckResult::Kind::Newer,
                                   QString::fromUtf8("检查到新版本为1.2.0，请登陆网站") +
                                       QString::fromLatin1(kProductSite) +
                                       QString::fromUtf8("，下载新版本。")};
    EXPECT_EQ(m_results, Results{newer});
    EXPECT_EQ(m_server.lastHeaders(QStringLiteral("/download/lumiclip/") + kFile).value("user-agent"),
              QByteArray("Ombrix Lumiclip"));
    EXPECT_TRUE(cuaFiles().isEmpty());
}

TEST_F(UpgradeCheck, SameOrOlderVersionIsUpToDate) {
    for (const QByteArray& v : {QByteArray("1.1.0"), QByteArray("1.0.9"), QByteArray("1.1.0")}) {
        EXPECT_FALSE(check("Filename: \"x\" Version: \"" + v + "\""));
        EXPECT_EQ(m_results, Results{kUpToDate}) << v.constData();
    }
    EXPECT_TRUE(cuaFiles().isEmpty());
}

TEST_F(UpgradeCheck, PercentInVersionIsShownAsItStands) {
    EXPECT_TRUE(check("Version: \"1.2%s%d%1\""));
    ASSERT_EQ(m_results.size(), 1u);
    EXPECT_EQ(m_results[0].kind, UpgradeCheckResult::Kind::Newer);
    EXPECT_TRUE(m_results[0].text.contains(QStringLiteral("1.2%s%d%1，")));
}

TEST_F(UpgradeCheck, NoVersionInBodyOrErrorPage) {
    EXPECT_FALSE(check(""));
    EXPECT_EQ(m_results, Results{error("The version file holds no version!")});
    EXPECT_FALSE(check("Version: 1.2.0"));
    EXPECT_EQ(m_results, Results{error("The version file holds no version!")});
    EXPECT_FALSE(check("<html>not found</html>", QStringLiteral("1.1.0"), 404));
    EXPECT_EQ(m_results, Results{error("The version file holds no version!")});
    EXPECT_TRUE(cuaFiles().isEmpty());
}

TEST_F(UpgradeCheck, UrlIsBaseSlashNameUnescaped) {
    HttpResponse r;
    r.body = "Version: \"9\"";
    m_server.route(QStringLiteral("/dl//A b.dat"), r);
    CUpgradeChecker checker(options());
    EXPECT_TRUE(checker.CheckVersion(QStringLiteral("a"), m_server.url(QStringLiteral("/dl/")),
                                     QStringLiteral("%41%20b.dat"), QStringLiteral("1")));
    EXPECT_EQ(m_server.hits(QStringLiteral("/dl//A b.dat")), 1);
}

TEST_F(UpgradeCheck, MissingLibraryGivesTwoMessagesOnly) {
    for (const char* name : {"libno-such-library.so.9", "libm.so.6"}) {
        UpgradeCheckerOptions o = options();
        o.libraryName = name;
        CUpgradeChecker checker(o);
        EXPECT_TRUE(checker.IsUnavailable());
        // The library's error comes from making the checker, before any check.
        const UpgradeCheckResult noLibrary = error(
            "Cannot load WinInet dynamic link library!  Please ensure that IE 4.0 or greater is installed!");
        EXPECT_EQ(checker.Results(), Results{noLibrary}) << name;
        EXPECT_FALSE(checker.CheckVersion(QStringLiteral("a"), m_server.url(QStringLiteral("/x")), kFile,
                                          QStringLiteral("1")));
        EXPECT_EQ(checker.Results(),
                  (Results{noLibrary, error("IE 4.0 or greater has to be installed to use auto-upgrading!")}))
            << name;
    }
    EXPECT_EQ(m_server.totalHits(), 0);
}

TEST_F(UpgradeCheck, NotConnected) {
    UpgradeCheckerOptions o = options();
    o.connectionTest = [] { return false; };
    CUpgradeChecker checker(o);
    EXPECT_FALSE(checker.CheckVersion(QStringLiteral("a"), m_server.url(QStringLiteral("/x")), kFile,
                                      QStringLiteral("1")));
    EXPECT_EQ(checker.Results(),
              Results{error("This application must connect to the Internet to be upgraded!")});
    EXPECT_EQ(m_server.totalHits(), 0);
}

TEST_F(UpgradeCheck, BehindAProxyTheCheckGoesOnWithoutARoute) {
    UpgradeCheckerOptions o = options();
    o.connectionTest = [] { return false; };
    HttpResponse r;
    r.body = "Version: \"1.2.0\"";
    m_server.route(QStringLiteral("/download/lumiclip/") + kFile, r);
    const auto checkWith = [&](const char* name, const QByteArray& value) {
        qputenv(name, value);
        CUpgradeChecker checker(o);
        const bool newer =
            checker.CheckVersion(QStringLiteral("a"), m_server.url(QStringLiteral("/download/lumiclip")),
                                 kFile, QStringLiteral("1.1.0"));
        qunsetenv(name);
        m_results = checker.Results();
        return newer;
    };
    // no_proxy lets the download reach the local server directly; what counts is that it is tried.
    EXPECT_TRUE(checkWith("https_proxy", "http://127.0.0.1:9"));
    EXPECT_EQ(m_server.hits(QStringLiteral("/download/lumiclip/") + kFile), 1);
    // A variable that is set but empty names no proxy.
    EXPECT_FALSE(checkWith("http_proxy", ""));
    EXPECT_EQ(m_results, Results{error("This application must connect to the Internet to be upgraded!")});
    EXPECT_EQ(m_server.hits(QStringLiteral("/download/lumiclip/") + kFile), 1);
}

TEST_F(UpgradeCheck, ServerThatNeverAnswersHitsTheTimeLimit) {
    HttpResponse stall;
    stall.stall = true;
    m_server.route(QStringLiteral("/s/") + kFile, stall);
    HttpResponse half;
    half.body = "Version: \"1.2.0\"";
    half.stallAfterBytes = 12;
    m_server.route(QStringLiteral("/h/") + kFile, half);
    for (const char* base : {"/s", "/h"}) {
        QElapsedTimer timer;
        timer.start();
        CUpgradeChecker checker(options());
        EXPECT_FALSE(checker.CheckVersion(QStringLiteral("a"), m_server.url(QString::fromLatin1(base)), kFile,
                                          QStringLiteral("1.1.0")));
        EXPECT_LT(timer.elapsed(), 5000);
        EXPECT_EQ(checker.Results(), Results{error("Cannot connect to upgrade URL!")}) << base;
    }
    EXPECT_TRUE(cuaFiles().isEmpty());
}

TEST_F(UpgradeCheck, GoneFolderCannotMakeTheTempFile) {
    // Even root cannot create a file in a current folder that has been removed.
    const QString gone = m_dir.filePath(QStringLiteral("gone"));
    ASSERT_TRUE(QDir().mkdir(gone));
    QDir::setCurrent(gone);
    ASSERT_TRUE(QDir().rmdir(gone));
    EXPECT_FALSE(check("Version: \"1.2.0\""));
    EXPECT_EQ(m_results, Results{error("Cannot create a temporary file!")});
}

TEST(RouteTable, DefaultRouteNeedsUpNonLoopbackInterface) {
    const QByteArray header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\n";
    const QByteArray v4 = header + "eth0\t00000000\t0102A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n";
    const QByteArray v4NoDefault = header + "eth0\t0002A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";
    const QByteArray v6Reject = QByteArray(32, '0') + " 00 " + QByteArray(32, '0') + " 00 " +
                                QByteArray(32, '0') + " ffffffff 00000001 00000001 00200200       lo\n";
    auto up = [](QByteArrayView) { return true; };
    EXPECT_TRUE(HasDefaultRoute(v4, "", up));
    EXPECT_FALSE(HasDefaultRoute(v4, "", [](QByteArrayView) { return false; }));
    EXPECT_FALSE(HasDefaultRoute(v4NoDefault, v6Reject, up));
    const QByteArray v6 = QByteArray(32, '0') + " 00 " + QByteArray(32, '0') +
                          " 00 fe800000000000000000000000000001"
                          " 00000400 00000001 00000000 00000003 wlan0\n";
    EXPECT_TRUE(HasDefaultRoute(header, v6, up));
}

TEST(ProxyEnvironment, AnyProxyVariableInEitherCaseCountsWhenNotEmpty) {
    const struct {
        std::vector<std::pair<const char*, const char*>> variables;
        bool proxy;
    } rows[] = {
        {{}, false},
        {{{"http_proxy", "http://proxy:3128"}}, true},
        {{{"HTTP_PROXY", "http://proxy:3128"}}, true},
        {{{"https_proxy", "http://proxy:3128"}}, true},
        {{{"HTTPS_PROXY", "http://proxy:3128"}}, true},
        {{{"all_proxy", "socks5://proxy:1080"}}, true},
        {{{"ALL_PROXY", "socks5://proxy:1080"}}, true},
        {{{"http_proxy", ""}}, false},
        {{{"http_proxy", ""}, {"HTTPS_PROXY", ""}, {"all_proxy", ""}}, false},
        {{{"http_proxy", ""}, {"HTTPS_PROXY", "http://proxy:3128"}}, true},
        {{{"Http_Proxy", "http://proxy:3128"}}, false},
        {{{"ftp_proxy", "http://proxy:3128"}, {"no_proxy", "*"}}, false},
    };
    for (const auto& row : rows) {
        QProcessEnvironment environment;
        QString shown;
        for (const auto& [name, value] : row.variables) {
            environment.insert(QString::fromLatin1(name), QString::fromLatin1(value));
            shown += QStringLiteral("%1=%2 ").arg(QString::fromLatin1(name), QString::fromLatin1(value));
        }
        EXPECT_EQ(ProxyConfigured(environment), row.proxy) << shown.toStdString();
    }
}

}  // namespace
}  // namespace lumiclip
