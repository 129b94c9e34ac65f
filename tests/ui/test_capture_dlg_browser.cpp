// The main window with the real browser and a local server: from the button press to the preview.
#include "capture_dlg_fixture.h"
#include "support/test_http_server.h"
#include "support/test_util.h"

#include "core/browser/browser.h"

#include <QFileInfo>
#include <QImage>
#include <QTimer>

#include <cstdlib>

namespace lumiclip::test {

namespace {

const QByteArray kRedPage = "<html><body style='margin:0;background:#d02020'></body></html>";

QByteArray settingsFor(const QString& url, const QString& defaultFile, const char* extra) {
    return "default_url=" + url.toUtf8() + "\ndefault_file=" + defaultFile.toUtf8() + "\n" + extra;
}

}  // namespace

class CaptureDlgBrowserTest : public CaptureDlgTest {
protected:
    TestHttpServer m_server;
};

TEST_F(CaptureDlgBrowserTest, PageWithoutFramesShowsThePreviewAndTheFileInformation) {
    m_server.routeHtml(QStringLiteral("/"), kRedPage);
    makeDialog(settingsFor(m_server.url(QStringLiteral("/")), m_dir.filePath(QStringLiteral("shot")),
                           "web_width=600\nweb_height=800\nimg_width=600\nimg_height=800\nimg_format=PNG\n"));
    m_dlg->setCaptureTimeLimitMs(15000);
    m_dlg->show();
    const QString target = m_dir.filePath(QStringLiteral("shot.png"));
    ASSERT_EQ(m_dlg->outputPath(), target);

    button(CCaptureDlg::IDC_CAPTURE)->click();  // returns once CreateImage has returned
    ASSERT_TRUE(m_dlg->isPictureLoaded()) << "no picture after the capture";
    EXPECT_TRUE(m_dlg->GetDlgItem(CCaptureDlg::IDC_PREVIEW)->isVisible());
    EXPECT_EQ(imageFileSize(target), QSize(600, 800));
    // The one notification comes after the call has returned.
    ASSERT_TRUE(waitUntil([this] { return m_dlg->completeCount() >= 1; }, 5000));
    EXPECT_EQ(m_dlg->completeCount(), 1);
    EXPECT_EQ(statusText(), QStringLiteral("Document Complete"));
    EXPECT_TRUE(button(CCaptureDlg::IDC_CAPTURE)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDC_SAVE_AS)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDCANCEL)->isEnabled());

    const QImage shot = m_dlg->grab().toImage();
    EXPECT_EQ(m_dlg->lastDrawnSize(), QSize(225, 300));
    EXPECT_EQ(label(CCaptureDlg::IDC_WIDTH)->text(), QString::fromUtf8("600 像素"));
    EXPECT_EQ(label(CCaptureDlg::IDC_HEIGHT)->text(), QString::fromUtf8("800 像素"));
    EXPECT_EQ(label(CCaptureDlg::IDC_FORMAT)->text(), QStringLiteral("PNG"));
    EXPECT_EQ(label(CCaptureDlg::IDC_PATH)->text(), target);
    EXPECT_EQ(label(CCaptureDlg::IDC_SIZE)->text(),
              QString::number(QFileInfo(target).size()) + QString::fromUtf8(" 字节"));
    // The pane shows the red thumbnail inside its fitted rectangle, and not beyond it.
    const QPoint pane = m_dlg->GetDlgItem(CCaptureDlg::IDC_PREVIEW)->mapTo(m_dlg.get(), QPoint(0, 0));
    const qreal ratio = shot.devicePixelRatio();
    const QColor inside = shot.pixelColor((pane + QPoint(100, 150)) * ratio);
    EXPECT_GT(inside.red(), 180);
    EXPECT_LT(inside.green(), 80);
    const QColor outside = shot.pixelColor((pane + QPoint(260, 150)) * ratio);
    EXPECT_LT(outside.red() - outside.green(), 40);
    // Save as: the suggestion follows the format; the chosen path becomes the output path.
    SaveFileRequest asked;
    const QString other = m_dir.filePath(QStringLiteral("other.png"));
    m_dlg->setSaveFileDialog([&](const SaveFileRequest& request) -> std::optional<QString> {
        asked = request;
        return other;
    });
    m_boxes.clear();
    button(CCaptureDlg::IDC_SAVE_AS)->click();
    EXPECT_EQ(asked.suggestedName, QStringLiteral("website.png"));
    EXPECT_EQ(asked.defaultSuffix, QStringLiteral("png"));
    ASSERT_EQ(asked.filters.size(), 4);
    EXPECT_TRUE(asked.filters[0].startsWith(QStringLiteral("All Supported File")));
    EXPECT_TRUE(asked.confirmOverwrite);
    EXPECT_EQ(readFile(other), readFile(target));
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0].text, QString::fromUtf8("保存成功"));
    EXPECT_EQ(m_boxes[0].icon, MessageIcon::Information);
    m_dlg->repaint();
    EXPECT_EQ(label(CCaptureDlg::IDC_PATH)->text(), other);

    // The next capture writes there.
    QFile::remove(other);
    m_dlg->OnCommand(CCaptureDlg::ID_START_CAPTURE);
    EXPECT_EQ(imageFileSize(other), QSize(600, 800));
    EXPECT_EQ(m_server.hits(QStringLiteral("/")), 2);
}

TEST_F(CaptureDlgBrowserTest, ThePaneShowsTheThumbnailPixelForPixel) {
    m_server.routeHtml(QStringLiteral("/"), readFile(QStringLiteral(LUMICLIP_SAMPLE_PAGE)));
    makeDialog(settingsFor(m_server.url(QStringLiteral("/")), m_dir.filePath(QStringLiteral("sample")), ""));
    m_dlg->setCaptureTimeLimitMs(15000);
    m_dlg->show();
    button(CCaptureDlg::IDC_CAPTURE)->click();
    ASSERT_TRUE(m_dlg->isPictureLoaded());
    ASSERT_TRUE(waitUntil([this] { return m_dlg->completeCount() >= 1; }, 5000));
    const QImage thumbnail(m_dlg->outputPath());
    ASSERT_EQ(thumbnail.size(), QSize(180, 138));
    const QImage shot = m_dlg->grab().toImage();
    ASSERT_EQ(m_dlg->lastDrawnSize(), thumbnail.size());  // small enough to be drawn at its own size
    const QPoint pane = m_dlg->GetDlgItem(CCaptureDlg::IDC_PREVIEW)->mapTo(m_dlg.get(), QPoint(0, 0));
    const qreal ratio = shot.devicePixelRatio();
    int differing = 0;
    for (int y = 0; y < thumbnail.height(); y += 3) {
        for (int x = 0; x < thumbnail.width(); x += 3) {
            const QColor want = thumbnail.pixelColor(x, y);
            const QColor got = shot.pixelColor((pane + QPoint(x, y)) * ratio);
            if (std::abs(want.red() - got.red()) > 24 || std::abs(want.green() - got.green()) > 24 ||
                std::abs(want.blue() - got.blue()) > 24) {
                ++differing;
            }
        }
    }
    EXPECT_EQ(differing, 0);
    // Set LUMICLIP_MAIN_WINDOW_SHOT to keep the window's picture (the README shows one).
    const QByteArray docsShot = qgetenv("LUMICLIP_MAIN_WINDOW_SHOT");
    if (!docsShot.isEmpty()) {
        EXPECT_TRUE(shot.save(QString::fromUtf8(docsShot)));
    }
}

TEST_F(CaptureDlgBrowserTest, FramesGiveTheControlsBackWhileTheCaptureStillWaits) {
    m_server.routeHtml(QStringLiteral("/f1"), "<html><body>one</body></html>");
    m_server.routeHtml(QStringLiteral("/f2"), "<html><body>two</body></html>");
    HttpResponse slowImage;
    slowImage.contentType = "image/gif";
    slowImage.body = QByteArray::fromBase64("R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==");
    slowImage.delayMs = 1500;
    m_server.route(QStringLiteral("/slow.gif"), slowImage);
    m_server.routeHtml(QStringLiteral("/"),
                       "<html><body><iframe src='/f1'></iframe><iframe src='/f2'></iframe>"
                       "<img src='/slow.gif'></body></html>");
    makeDialog(settingsFor(m_server.url(QStringLiteral("/")), m_dir.filePath(QStringLiteral("frames")), ""));
    m_dlg->setCaptureTimeLimitMs(15000);
    m_dlg->show();

    bool seenDuringWait = false;
    bool controlsBack = false;
    QString statusDuringWait;
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, m_dlg.get(), [&] {
        if (seenDuringWait || !m_dlg->isCaptureCallRunning() || !m_dlg->isDocumentComplete()) {
            return;
        }
        seenDuringWait = true;
        controlsBack =
            button(CCaptureDlg::IDC_CAPTURE)->isEnabled() && button(CCaptureDlg::IDC_SAVE_AS)->isEnabled();
        statusDuringWait = statusText();
        m_boxes.clear();
        button(CCaptureDlg::IDC_SAVE_AS)->click();
        // A second capture while the first still waits is refused: the waiting host stays.
        button(CCaptureDlg::IDC_CAPTURE)->click();
    });
    probe.start();
    button(CCaptureDlg::IDC_CAPTURE)->click();
    probe.stop();
    ASSERT_TRUE(seenDuringWait) << "no frame notification arrived during the wait";
    EXPECT_TRUE(controlsBack);
    EXPECT_EQ(statusDuringWait, QStringLiteral("Document Complete"));
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0].text, QString::fromUtf8("截图还没有被正常载入，请稍候再试。"));
    EXPECT_TRUE(m_dlg->isPictureLoaded());
    EXPECT_EQ(m_server.hits(QStringLiteral("/")), 1);
    ASSERT_TRUE(waitUntil([this] { return m_dlg->completeCount() >= 3; }, 5000));
}

// A capture that fails before the page reports complete gets no notification: the window must leave
// the capturing state itself, say why, and take the next capture.
TEST_F(CaptureDlgBrowserTest, ACaptureThatFailsWithoutANotificationLeavesTheWindowReady) {
    m_server.routeHtml(QStringLiteral("/"), kRedPage);
    const struct {
        const char* name;
        QByteArray settings;
        const char* reason;
    } cases[] = {
        {"an address the browser refuses",
         settingsFor(QStringLiteral("not a url%20at all"), m_dir.filePath(QStringLiteral("bad")), ""),
         "Page.navigate"},
        {"a page whose renderer crashes",
         settingsFor(QStringLiteral("chrome://crash"), m_dir.filePath(QStringLiteral("crash")), ""),
         "crashed"},
        {"a size no raster can have",
         settingsFor(m_server.url(QStringLiteral("/")), m_dir.filePath(QStringLiteral("size")),
                     "web_width=0\n"),
         "view width 0"},
        // Its file would be named .webp: JPEG bytes there would be a lie, so there is no file.
        {"a format the program does not write",
         settingsFor(m_server.url(QStringLiteral("/")), m_dir.filePath(QStringLiteral("format")),
                     "img_format=WEBP\n"),
         "the image format \"WEBP\" is not one this program writes (JPG, GIF, PNG)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_boxes.clear();
        makeDialog(c.settings);
        m_dlg->setCaptureTimeLimitMs(15000);
        m_dlg->show();
        const QString typed = urlField()->text();
        button(CCaptureDlg::IDC_CAPTURE)->click();
        EXPECT_FALSE(m_dlg->isCapturing());
        EXPECT_FALSE(m_dlg->isPictureLoaded());
        EXPECT_TRUE(button(CCaptureDlg::IDC_CAPTURE)->isEnabled());
        EXPECT_TRUE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_START_CAPTURE));
        EXPECT_FALSE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_STOP_CAPTURE));
        EXPECT_EQ(urlField()->text(), typed);
        EXPECT_EQ(statusText(), QString::fromUtf8("截取网站[") + typed + QString::fromUtf8("]图片失败"));
        ASSERT_EQ(m_boxes.size(), 1U);
        EXPECT_EQ(m_boxes[0].caption, QCoreApplication::applicationName());
        EXPECT_TRUE(m_boxes[0].text.contains(QString::fromLatin1(c.reason))) << m_boxes[0].text.toStdString();
        EXPECT_EQ(m_dlg->completeCount(), 0);
        // Ready again: the next capture runs (and fails the same way), and the window closes.
        m_boxes.clear();
        m_dlg->OnCommand(CCaptureDlg::ID_START_CAPTURE);
        EXPECT_EQ(m_boxes.size(), 1U);
        EXPECT_TRUE(m_dlg->close());
    }
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("format.webp"))));
}

TEST_F(CaptureDlgBrowserTest, AFormatNameInAnotherCaseWritesTheBytesItsFileIsNamedFor) {
    m_server.routeHtml(QStringLiteral("/"), kRedPage);
    makeDialog(settingsFor(m_server.url(QStringLiteral("/")), m_dir.filePath(QStringLiteral("lower")),
                           "img_format=png\n"));
    m_dlg->setCaptureTimeLimitMs(15000);
    m_dlg->show();
    const QString target = m_dir.filePath(QStringLiteral("lower.png"));
    ASSERT_EQ(m_dlg->outputPath(), target);
    button(CCaptureDlg::IDC_CAPTURE)->click();
    ASSERT_TRUE(m_dlg->isPictureLoaded());
    EXPECT_EQ(sniffImageFormat(readFile(target)), QStringLiteral("PNG"));
}

TEST_F(CaptureDlgBrowserTest, ABrowserThatCannotStartIsNamedAndTheWindowStaysReady) {
    m_server.routeHtml(QStringLiteral("/"), kRedPage);
    makeDialog(settingsFor(m_server.url(QStringLiteral("/")), m_dir.filePath(QStringLiteral("nb")), ""));
    m_dlg->show();
    m_browser.shutdown();
    qputenv("LUMICLIP_BROWSER", m_dir.filePath(QStringLiteral("no-such-browser")).toLocal8Bit());
    button(CCaptureDlg::IDC_CAPTURE)->click();
    qunsetenv("LUMICLIP_BROWSER");
    EXPECT_FALSE(m_dlg->isCapturing());
    EXPECT_TRUE(button(CCaptureDlg::IDC_CAPTURE)->isEnabled());
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_TRUE(m_boxes[0].text.contains(QStringLiteral("cannot start the browser")))
        << m_boxes[0].text.toStdString();
    EXPECT_TRUE(m_boxes[0].text.contains(QStringLiteral("No such file or directory")))
        << m_boxes[0].text.toStdString();
    // With the browser back, the same window captures.
    m_boxes.clear();
    button(CCaptureDlg::IDC_CAPTURE)->click();
    EXPECT_TRUE(m_dlg->isPictureLoaded());
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CaptureDlgBrowserTest, AnAddressWithoutSchemeIsCompletedButKeptAsTyped) {
    m_server.routeHtml(QStringLiteral("/page"), kRedPage);
    const QString typed = QStringLiteral("127.0.0.1:%1/page").arg(m_server.port());
    makeDialog(settingsFor(typed, m_dir.filePath(QStringLiteral("typed")), ""));
    const QByteArray before = readFile(m_dir.filePath(QStringLiteral("Lumiclip.ini")));
    m_dlg->setCaptureTimeLimitMs(15000);
    m_dlg->show();
    button(CCaptureDlg::IDC_CAPTURE)->click();
    EXPECT_TRUE(m_dlg->isPictureLoaded());
    EXPECT_TRUE(m_boxes.empty());
    EXPECT_EQ(m_server.hits(QStringLiteral("/page")), 1);
    EXPECT_EQ(urlField()->text(), typed);
    EXPECT_EQ(readFile(m_dir.filePath(QStringLiteral("Lumiclip.ini"))), before);
    ASSERT_TRUE(waitUntil([this] { return m_dlg->completeCount() >= 1; }, 5000));
}

TEST_F(CaptureDlgBrowserTest, StopEndsAStalledLoadAndTheCloseBoxWaits) {
    HttpResponse stall;
    stall.stall = true;
    m_server.route(QStringLiteral("/stall"), stall);
    makeDialog(settingsFor(m_server.url(QStringLiteral("/stall")), m_dir.filePath(QStringLiteral("st")), ""));
    m_dlg->setCaptureTimeLimitMs(20000);
    m_dlg->show();
    bool closeRefused = false;
    QTimer::singleShot(800, m_dlg.get(), [&] {
        closeRefused = !m_dlg->close() && m_dlg->isVisible();
        m_dlg->OnCommand(CCaptureDlg::ID_STOP_CAPTURE);
    });
    QElapsedTimer clock;
    clock.start();
    button(CCaptureDlg::IDC_CAPTURE)->click();
    EXPECT_TRUE(closeRefused);
    EXPECT_LT(clock.elapsed(), 15000) << "stop did not end the wait";
}

}  // namespace lumiclip::test
