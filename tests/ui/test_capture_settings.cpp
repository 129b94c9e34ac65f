#include "core/settings/capture_settings.h"
#include "core/settings/ini_file.h"
#include "core/settings/profile_format.h"

#include "support/test_util.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include <climits>
#include <string>

namespace lumiclip {
namespace {

TEST(ProfileFormat, ReadsWithCaseInsensitiveNamesAndTrimmedBlanks) {
    const std::string text =
        "\xEF\xBB\xBF; comment\r\nkey=outside\r\n[ Capture ]\r\n  Web_Width = 1024px \r\nempty=\r\n"
        "[other]\r\nweb_width=5\r\n[capture]\r\nlate=1\r\n";
    EXPECT_EQ(ReadProfileValue(text, "capture", "web_width"), "1024px");
    EXPECT_EQ(ReadProfileValue(text, "CAPTURE", "WEB_WIDTH"), "1024px");
    EXPECT_EQ(ReadProfileValue(text, "other", "web_width"), "5");
    EXPECT_EQ(ReadProfileValue(text, "capture", "empty"), "");
    EXPECT_EQ(ReadProfileValue(text, "capture", "key"), "");
    EXPECT_EQ(ReadProfileValue(text, "missing", "web_width"), "");
    EXPECT_EQ(ReadProfileValue("", "capture", "web_width"), "");
}

TEST(ProfileFormat, CutsLongValuesAtFourHundredNinetyNineBytes) {
    const std::string text = "[capture]\ndefault_url=" + std::string(600, 'a') + "\n";
    EXPECT_EQ(ReadProfileValue(text, "capture", "default_url"), std::string(499, 'a'));
    // A two-byte character across the limit is left out whole.
    const std::string utf8 = "[c]\nk=" + std::string(498, 'a') + "\xC3\xA9" + "zz\n";
    EXPECT_EQ(ReadProfileValue(utf8, "c", "k"), std::string(498, 'a'));
}

TEST(ProfileFormat, WriteReplacesInPlaceAndKeepsEveryOtherLine) {
    std::string text = "; mine\n[capture]\ndefault_file=/srv/Shots/Home\nweb_width = 5 ; x\n\n[other]\na=b";
    ASSERT_TRUE(WriteProfileValue(text, "capture", "WEB_WIDTH", "810"));
    ASSERT_TRUE(WriteProfileValue(text, "capture", "img_format", "PNG"));
    ASSERT_TRUE(WriteProfileValue(text, "other", "c", "d"));
    ASSERT_TRUE(WriteProfileValue(text, "new", "k", "v"));
    EXPECT_EQ(text,
              "; mine\n[capture]\ndefault_file=/srv/Shots/Home\nweb_width = 810\nimg_format=PNG\n\n"
              "[other]\na=b\nc=d\n[new]\nk=v\n");
    std::string crlf = "[s]\r\na=1\r\n";
    ASSERT_TRUE(WriteProfileValue(crlf, "s", "b", "2"));
    EXPECT_EQ(crlf, "[s]\r\na=1\r\nb=2\r\n");
}

TEST(ProfileFormat, ALastLineEndingInACarriageReturnKeepsItsMeaning) {
    // The '\r' of an unterminated last line reads as its line ending; a write completes that ending
    // instead of adding a whole one after it.
    std::string header = "[s]\r\na=1\r\n[t]\r";
    ASSERT_TRUE(WriteProfileValue(header, "t", "k", "v"));
    EXPECT_EQ(header, "[s]\r\na=1\r\n[t]\r\nk=v");
    EXPECT_EQ(ReadProfileValue(header, "t", "k"), "v");
    std::string value = "[s]\na=1\r";
    ASSERT_TRUE(WriteProfileValue(value, "new", "k", "v"));
    EXPECT_EQ(ReadProfileValue(value, "s", "a"), "1");
    EXPECT_EQ(ReadProfileValue(value, "new", "k"), "v");
    EXPECT_EQ(value, "[s]\na=1\r\n[new]\nk=v\n");
}

TEST(ProfileFormat, RefusesEntriesThatWouldBreakTheFile) {
    std::string text = "[s]\na=1\n";
    EXPECT_FALSE(WriteProfileValue(text, "s", "a", "1\n[evil]\nx=y"));
    EXPECT_FALSE(WriteProfileValue(text, "s", "a=b", "1"));
    EXPECT_FALSE(WriteProfileValue(text, "s]", "a", "1"));
    EXPECT_FALSE(WriteProfileValue(text, "s", " ", "1"));
    EXPECT_EQ(text, "[s]\na=1\n");
}

TEST(SettingToInt, ReadsLikeAtoiAndSaturates) {
    EXPECT_EQ(SettingToInt(QStringLiteral("1024px")), 1024);
    EXPECT_EQ(SettingToInt(QStringLiteral("abc")), 0);
    EXPECT_EQ(SettingToInt(QStringLiteral("0")), 0);
    EXPECT_EQ(SettingToInt(QStringLiteral(" -5")), -5);
    EXPECT_EQ(SettingToInt(QStringLiteral("\t+7x")), 7);
    EXPECT_EQ(SettingToInt(QStringLiteral("- 5")), 0);
    EXPECT_EQ(SettingToInt(QStringLiteral("99999999999999999999")), INT_MAX);
    EXPECT_EQ(SettingToInt(QStringLiteral("-2147483648")), INT_MIN);
    EXPECT_EQ(SettingToInt(QStringLiteral("-99999999999")), INT_MIN);
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path() const { return m_dir.filePath(QStringLiteral("Lumiclip.ini")); }
    QTemporaryDir m_dir;
};

TEST_F(SettingsFileTest, LoadAppliesDefaultsOnlyToMissingOrEmptyValues) {
    test::writeFile(path(),
                    "[capture]\nweb_width=0\nweb_height=abc\nimg_width=1024px\nimg_format=\n"
                    "default_url=http://127.0.0.1/\ndefault_file=/srv/Shots/Home\n");
    QString url;
    const CaptureSettings s = LoadCaptureSettings(path(), &url);
    EXPECT_EQ(s.web_width, 0);
    EXPECT_EQ(s.web_height, 0);
    EXPECT_EQ(s.img_width, 1024);
    EXPECT_EQ(s.img_height, 138);
    EXPECT_EQ(s.img_format, QStringLiteral("JPG"));
    EXPECT_EQ(url, QStringLiteral("http://127.0.0.1/"));
    EXPECT_EQ(OutputPathFor(s), QStringLiteral("/srv/Shots/Home.jpg"));

    const CaptureSettings d = LoadCaptureSettings(m_dir.filePath(QStringLiteral("none.ini")), &url);
    EXPECT_EQ(d.web_width, 810);
    EXPECT_EQ(d.web_height, 600);
    EXPECT_EQ(d.img_width, 180);
    EXPECT_EQ(d.img_height, 138);
    EXPECT_EQ(url, QString::fromLatin1(kDefaultUrl));
    EXPECT_EQ(d.default_file, QDir::homePath() + QStringLiteral("/website"));
}

TEST_F(SettingsFileTest, OutputPathLowerCasesOnlyTheExtension) {
    CaptureSettings s;
    s.default_file = QStringLiteral("/home/Alice/Shots/Home");
    s.img_format = QStringLiteral("PNG");
    EXPECT_EQ(OutputPathFor(s), QStringLiteral("/home/Alice/Shots/Home.png"));
    s.img_format = QString();
    EXPECT_EQ(OutputPathFor(s), QStringLiteral("/home/Alice/Shots/Home."));
}

TEST_F(SettingsFileTest, StoreWritesSixKeysAndLeavesOtherLinesAlone) {
    test::writeFile(path(), "; kept\n[capture]\ndefault_file=/srv/Shots/Home\nweb_width=007\n");
    CIniFile ini(path());
    CaptureSettings s;
    s.web_width = 1024;
    s.web_height = -3;
    s.img_format = QStringLiteral("gif");
    s.default_file = QStringLiteral("/changed");
    ASSERT_TRUE(StoreCaptureSettings(ini, s, QStringLiteral("http://例子.测试/")));
    EXPECT_EQ(test::readFile(path()),
              QByteArray("; kept\n[capture]\ndefault_file=/srv/Shots/Home\nweb_width=1024\nweb_height=-3\n"
                         "img_width=180\nimg_height=138\nimg_format=gif\ndefault_url=http://") +
                  QStringLiteral("例子.测试").toUtf8() + "/\n");
    QString url;
    LoadCaptureSettings(ini, &url);
    EXPECT_EQ(url, QStringLiteral("http://例子.测试/"));
}

TEST_F(SettingsFileTest, WriteThatCannotHappenReportsFalse) {
    CIniFile missingFolder(m_dir.filePath(QStringLiteral("no/such/Lumiclip.ini")));
    EXPECT_FALSE(missingFolder.WriteString(QStringLiteral("1"), QStringLiteral("k"), QStringLiteral("s")));
    CIniFile folder(m_dir.path());
    EXPECT_FALSE(folder.WriteString(QStringLiteral("1"), QStringLiteral("k"), QStringLiteral("s")));
    EXPECT_TRUE(QFileInfo(m_dir.path()).isDir());
    CIniFile fresh(path());
    EXPECT_TRUE(fresh.WriteString(QStringLiteral("1"), QStringLiteral("k"), QStringLiteral("s")));
    EXPECT_EQ(test::readFile(path()), QByteArray("[s]\nk=1\n"));
}

// Two writes that must be refused: into a folder that cannot take the new file, and over a file marked
// read-only. Returns what went wrong, or nothing.
std::string refusedWritesKeepTheFile(const QString& folder, const QString& path, const QByteArray& before) {
    std::string wrong;
    CIniFile ini(path);
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
    if (ini.WriteString(QStringLiteral("9"), QStringLiteral("web_width"), QStringLiteral("capture"))) {
        wrong += "the write into a read-only folder succeeded; ";
    }
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (test::readFile(path) != before) {
        wrong += "the write into a read-only folder changed the file; ";
    }
    QFile::setPermissions(path, QFile::ReadOwner);
    if (ini.WriteString(QStringLiteral("9"), QStringLiteral("web_width"), QStringLiteral("capture"))) {
        wrong += "the write over a read-only file succeeded; ";
    }
    if (test::readFile(path) != before) {
        wrong += "the write over a read-only file changed it; ";
    }
    return wrong;
}

TEST_F(SettingsFileTest, FailedWriteLeavesTheOldFileIntact) {
    const QByteArray before = "[capture]\nweb_width=5\n";
    ASSERT_TRUE(test::writeFile(path(), before));
    if (::geteuid() != 0) {
        EXPECT_EQ(refusedWritesKeepTheFile(m_dir.path(), path(), before), "");
        return;
    }
    // Permissions do not bind root: the writes run in a child that has become the unprivileged user
    // nobody, and it reports through a pipe and its exit status.
    constexpr uid_t kNobody = 65534;
    const QByteArray folder = QFile::encodeName(m_dir.path());
    ASSERT_EQ(::chown(folder.constData(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown(QFile::encodeName(path()).constData(), kNobody, kNobody), 0);
    int report[2];
    ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(report[0]);
        std::string wrong;
        if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0 ||
            ::geteuid() != kNobody) {
            wrong = "cannot become the user nobody";
        } else {
            wrong = refusedWritesKeepTheFile(m_dir.path(), path(), before);
        }
        const bool reported =
            ::write(report[1], wrong.data(), wrong.size()) == static_cast<ssize_t>(wrong.size());
        ::_exit(wrong.empty() && reported ? 0 : 1);
    }
    ::close(report[1]);
    std::string wrong;
    char buffer[256];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof(buffer))) != 0;) {
        if (n > 0) {
            wrong.append(buffer, static_cast<size_t>(n));
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(report[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << wrong;
    EXPECT_EQ(wrong, "");
    EXPECT_EQ(test::readFile(path()), before);
}

TEST_F(SettingsFileTest, LocationPrefersTheProgramFolderThenTheConfigHome) {
    EXPECT_EQ(SettingsFilePathFor(m_dir.path(), QString()), path());
    const QString config = m_dir.filePath(QStringLiteral("config"));
    const QString fallback = SettingsFilePathFor(QStringLiteral("/nonexistent/bin"), config);
    EXPECT_EQ(fallback, config + QStringLiteral("/lumiclip/Lumiclip.ini"));
    EXPECT_TRUE(QFileInfo(config + QStringLiteral("/lumiclip")).isDir());
}

// Root may write /usr/bin, so an installed program is known by its folder, not by what it may write.
TEST_F(SettingsFileTest, AnInstalledProgramKeepsItsSettingsInTheConfigHome) {
    const QString bin = m_dir.filePath(QStringLiteral("usr/bin"));
    ASSERT_TRUE(QDir().mkpath(bin));
    const QString config = m_dir.filePath(QStringLiteral("config"));
    const QString inConfig = config + QStringLiteral("/lumiclip/Lumiclip.ini");
    // A writable folder, and even a settings file there, do not make it portable.
    test::writeFile(bin + QStringLiteral("/Lumiclip.ini"), "[capture]\n");
    EXPECT_EQ(SettingsFilePathFor(bin, config, bin), inConfig);
    EXPECT_EQ(SettingsFilePathFor(bin + QStringLiteral("/"), config, bin), inConfig);
    // Reached through a link, as /bin leads to /usr/bin.
    const QString link = m_dir.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QFile::link(bin, link));
    EXPECT_EQ(SettingsFilePathFor(link, config, bin), inConfig);
    EXPECT_EQ(SettingsFilePathFor(bin, config, link), inConfig);
    // Another folder, as the build folder is, stays portable.
    EXPECT_EQ(SettingsFilePathFor(m_dir.path(), config, bin), path());
    EXPECT_EQ(SettingsFilePathFor(m_dir.path(), config, QStringLiteral("/nonexistent/bin")), path());
    EXPECT_EQ(SettingsFilePathFor(bin, config, QString()), bin + QStringLiteral("/Lumiclip.ini"));
}

}  // namespace
}  // namespace lumiclip
