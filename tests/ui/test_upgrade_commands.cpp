#include "core/upgrade/site_addresses.h"
#include "widgets/message_box.h"
#include "ui/upgrade_commands.h"
#include "upgrade/upgrade_check_fixture.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QUrl>
#include <QWidget>

#include <vector>

namespace lumiclip {
namespace {

using test::HttpResponse;

const QString kVersionPath = QStringLiteral("/download/lumiclip/") + QString::fromLatin1(kVersionFileName);

// The Help menu's check as the user sees it: the boxes, their captions, icons, texts and owners.
class CheckForNewerVersionBoxes : public test::UpgradeCheckFixture {
protected:
    void SetUp() override {
        test::UpgradeCheckFixture::SetUp();
        m_previousName = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(QStringLiteral("Lumiclip"));
        m_previous = SetMessageBoxHandler([this](const MessageBoxRequest& r) {
            m_boxes.push_back(r);
            return MessageAnswer::Ok;
        });
    }
    void TearDown() override {
        SetMessageBoxHandler(m_previous);
        QCoreApplication::setApplicationName(m_previousName);
        test::UpgradeCheckFixture::TearDown();
    }

    bool checkAgainst(const QByteArray& body, UpgradeCheckerOptions o) {
        HttpResponse r;
        r.body = body;
        m_server.route(kVersionPath, r);
        return CheckForNewerVersion(QStringLiteral("1.1.0"), &m_window, std::move(o),
                                    m_server.url(QStringLiteral("/download/lumiclip")));
    }
    bool checkAgainst(const QByteArray& body) { return checkAgainst(body, options()); }

    void expectErrorBox(const MessageBoxRequest& box, const QString& text) const {
        EXPECT_EQ(box.caption, QStringLiteral("Upgrading Software"));
        EXPECT_EQ(box.text, text);
        EXPECT_EQ(box.icon, MessageIcon::Stop);
        EXPECT_EQ(box.buttons, MessageButtons::Ok);
        EXPECT_EQ(box.owner, nullptr);
    }

    QWidget m_window;
    QString m_previousName;
    MessageBoxHandler m_previous;
    std::vector<MessageBoxRequest> m_boxes;
};

TEST_F(CheckForNewerVersionBoxes, ANewerVersionIsAnnouncedInTheApplicationsBoxOwnedByTheWindow) {
    EXPECT_TRUE(checkAgainst("Version: \"1.2.0\""));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].caption, QStringLiteral("Lumiclip"));
    EXPECT_EQ(m_boxes[0].text, QString::fromUtf8("检查到新版本为1.2.0，请登陆网站") +
                                   QString::fromLatin1(kProductSite) + QString::fromUtf8("，下载新版本。"));
    EXPECT_EQ(m_boxes[0].icon, MessageIcon::None);
    EXPECT_EQ(m_boxes[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(m_boxes[0].owner, &m_window);
    EXPECT_EQ(m_server.lastHeaders(kVersionPath).value("user-agent"), QByteArray(kUpgradeAgent));
}

TEST_F(CheckForNewerVersionBoxes, UpToDateIsAnInformationBoxOwnedByTheWindow) {
    EXPECT_FALSE(checkAgainst("Version: \"1.1.0\""));
    ASSERT_EQ(m_boxes.size(), 1u);
    EXPECT_EQ(m_boxes[0].caption, QStringLiteral("Lumiclip"));
    EXPECT_EQ(m_boxes[0].text, QString::fromUtf8("你使用的已经是最新版本了。"));
    EXPECT_EQ(m_boxes[0].icon, MessageIcon::Information);
    EXPECT_EQ(m_boxes[0].buttons, MessageButtons::Ok);
    EXPECT_EQ(m_boxes[0].owner, &m_window);
}

TEST_F(CheckForNewerVersionBoxes, AnErrorIsOneStopBoxWithoutOwner) {
    EXPECT_FALSE(checkAgainst("<html>not found</html>"));
    ASSERT_EQ(m_boxes.size(), 1u);
    expectErrorBox(m_boxes[0], QStringLiteral("The version file holds no version!"));

    m_boxes.clear();
    UpgradeCheckerOptions offline = options();
    offline.connectionTest = [] { return false; };
    EXPECT_FALSE(checkAgainst("Version: \"1.2.0\"", offline));
    ASSERT_EQ(m_boxes.size(), 1u);
    expectErrorBox(m_boxes[0],
                   QStringLiteral("This application must connect to the Internet to be upgraded!"));
}

TEST_F(CheckForNewerVersionBoxes, AMissingLibraryGivesItsTwoBoxesInOrder) {
    UpgradeCheckerOptions o = options();
    o.libraryName = "libno-such-library.so.9";
    EXPECT_FALSE(checkAgainst("Version: \"1.2.0\"", o));
    ASSERT_EQ(m_boxes.size(), 2u);
    expectErrorBox(m_boxes[0], QStringLiteral("Cannot load WinInet dynamic link library!  Please ensure that "
                                              "IE 4.0 or greater is installed!"));
    expectErrorBox(m_boxes[1],
                   QStringLiteral("IE 4.0 or greater has to be installed to use auto-upgrading!"));
    EXPECT_EQ(m_server.totalHits(), 0);
}

class UrlRecorder : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls.push_back(url); }
};

TEST(ProductPages, OpenTheProductAndMakerPages) {
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    OpenProductPage();
    OpenMakerHomePage();
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    ASSERT_EQ(recorder.urls.size(), 2);
    EXPECT_EQ(recorder.urls[0].toString(), QStringLiteral("http://soft.ombrix.net/lumiclip.php"));
    EXPECT_EQ(recorder.urls[1].toString(), QString::fromLatin1(kMakerHomePage));
}

}  // namespace
}  // namespace lumiclip

#include "test_upgrade_commands.moc"
