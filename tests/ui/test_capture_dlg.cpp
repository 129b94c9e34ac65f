// The main window without a browser: layout, command rules, the notification's state changes, the
// close box and the keys.
#include "capture_dlg_fixture.h"
#include "core/capture/create_html_image.h"
#include "support/test_util.h"
#include "ui/options_dlg.h"
#include "widgets/dialog_units.h"
#include "widgets/hyperlink_static.h"
#include "widgets/maker_links.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include <QCoreApplication>
#include <QGroupBox>
#include <QMenu>
#include <QTest>
#include <functional>

namespace lumiclip::test {

namespace {

// Runs the options command; act works on the modal settings dialog and ends it (a dialog it leaves open
// is cancelled so that the test cannot hang).
void RunOptions(CCaptureDlg& dlg, const std::function<void(COptionsDlg&)>& act) {
    bool seen = false;
    QTimer::singleShot(0, &dlg, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* options = qobject_cast<COptionsDlg*>(w);
            if (options != nullptr && options->isVisible()) {
                seen = true;
                EXPECT_TRUE(QTest::qWaitForWindowActive(options));
                act(*options);
                if (options->isVisible()) {
                    options->reject();
                }
            }
        }
    });
    dlg.OnCommand(CCaptureDlg::ID_OPTIONS);
    EXPECT_TRUE(seen);
}

QLineEdit* OptionsField(COptionsDlg& options, int id) {
    return qobject_cast<QLineEdit*>(options.GetDlgItem(id));
}

void ClickOptionsButton(COptionsDlg& options, int id) {
    QTest::mouseClick(options.GetDlgItem(id), Qt::LeftButton);
}

}  // namespace

TEST_F(CaptureDlgTest, ControlsSitAtTheirDialogUnitRectangles) {
    makeDialog();
    const DialogBaseUnits units = DialogBaseUnitsFor(m_dlg->font());
    ASSERT_GT(units.averageCharWidth, 0);
    const struct {
        int id, x, y, cx, cy;
    } rows[] = {{CCaptureDlg::IDC_URL, 57, 83, 192, 12},      {CCaptureDlg::IDC_CAPTURE, 261, 82, 67, 14},
                {CCaptureDlg::IDC_STOP, 261, 99, 68, 13},     {CCaptureDlg::IDC_PREVIEW, 11, 124, 202, 190},
                {CCaptureDlg::IDC_PATH, 229, 149, 103, 31},   {CCaptureDlg::IDC_STATUS, 0, 321, 241, 14},
                {CCaptureDlg::IDC_VERSION, 242, 321, 97, 14}, {CCaptureDlg::IDCANCEL, 283, 275, 45, 14}};
    for (const auto& row : rows) {
        EXPECT_EQ(m_dlg->GetDlgItem(row.id)->geometry(),
                  DialogRectToPixels(QRect(row.x, row.y, row.cx, row.cy), units))
            << "item " << row.id;
    }
    // The banner keeps its bitmap's own size.
    auto* banner = m_dlg->findChild<QLabel*>(QStringLiteral("banner"));
    ASSERT_NE(banner, nullptr);
    EXPECT_EQ(banner->size(), QSize(600, 90));
    EXPECT_EQ(m_dlg->windowTitle(), QStringLiteral("Ombrix Lumiclip"));
    EXPECT_TRUE(m_dlg->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(m_dlg->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(m_dlg->windowIcon().isNull());
    // Nothing moves when the window grows.
    const QRect before = m_dlg->GetDlgItem(CCaptureDlg::IDC_CAPTURE)->geometry();
    m_dlg->resize(m_dlg->width() + 200, m_dlg->height() + 100);
    EXPECT_EQ(m_dlg->GetDlgItem(CCaptureDlg::IDC_CAPTURE)->geometry(), before);
}

TEST_F(CaptureDlgTest, StartsIdleWithTheStoredAddressAndTheVersion) {
    makeDialog("default_url=http://example.test/a%20b\n");
    EXPECT_FALSE(m_dlg->isCapturing());
    EXPECT_FALSE(m_dlg->isDocumentComplete());
    EXPECT_FALSE(m_dlg->isPictureLoaded());
    EXPECT_TRUE(button(CCaptureDlg::IDC_CAPTURE)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDCANCEL)->isEnabled());
    EXPECT_FALSE(button(CCaptureDlg::IDC_SAVE_AS)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDC_STOP)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDCANCEL)->isHidden());
    EXPECT_TRUE(button(CCaptureDlg::IDC_CHECK_VERSION)->isHidden());
    EXPECT_EQ(urlField()->text(), QStringLiteral("http://example.test/a%20b"));
    EXPECT_EQ(statusText(), QString());
    EXPECT_EQ(label(CCaptureDlg::IDC_VERSION)->text(), QStringLiteral("Ombrix Lumiclip 1.1.0"));
    EXPECT_EQ(label(CCaptureDlg::IDC_PATH)->text(), QStringLiteral("..."));
    EXPECT_EQ(m_dlg->outputPath(), OutputPathFor(m_dlg->settings()));
}

TEST_F(CaptureDlgTest, MenuHasItsItemsAndCommands) {
    makeDialog();
    const struct {
        int command;
        const char* text;
    } items[] = {{32777, "文件另存为...(&S)"}, {32771, "退出(&X)"},        {32775, "开始截图(&C)"},
                 {32776, "停止(&S)"},          {32772, "截图选项...(&O)"}, {32773, "检查新版本...(&U)"},
                 {32778, "访问软件主页(&V)"},  {32774, "关于...(&A)"}};
    for (const auto& item : items) {
        QAction* action = m_dlg->MenuAction(item.command);
        ASSERT_NE(action, nullptr) << item.command;
        EXPECT_EQ(action->text(), QString::fromUtf8(item.text));
        EXPECT_EQ(action->data().toInt(), item.command);
        EXPECT_TRUE(action->isEnabled());  // the rules never grey an item
    }
}

TEST_F(CaptureDlgTest, CommandRulesFollowTheCaptureState) {
    makeDialog();
    // Idle: start capture only.
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_START_CAPTURE));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_STOP_CAPTURE));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_SAVE_IMAGE_AS));
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_OPTIONS));
    // Save-as from the menu is dropped silently: no box at all (the button would answer one).
    m_dlg->OnCommand(CCaptureDlg::ID_SAVE_IMAGE_AS);
    m_dlg->OnCommand(CCaptureDlg::ID_STOP_CAPTURE);
    EXPECT_TRUE(m_boxes.empty());
    // The stop button without a host does nothing.
    button(CCaptureDlg::IDC_STOP)->click();
    EXPECT_FALSE(m_dlg->isCapturing());
    // Completed: start capture and save-as, not stop.
    notify();
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_START_CAPTURE));
    EXPECT_FALSE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_STOP_CAPTURE));
    EXPECT_TRUE(m_dlg->IsCommandEnabled(CCaptureDlg::ID_SAVE_IMAGE_AS));
    // Save-as now runs, and without a picture answers with the not-loaded message.
    m_dlg->OnCommand(CCaptureDlg::ID_SAVE_IMAGE_AS);
    ASSERT_EQ(m_boxes.size(), 1U);
    EXPECT_EQ(m_boxes[0].text, QString::fromUtf8("截图还没有被正常载入，请稍候再试。"));
    EXPECT_EQ(m_boxes[0].caption, QCoreApplication::applicationName());
}

TEST_F(CaptureDlgTest, FirstNotificationCompletesLaterOnesOnlyCount) {
    makeDialog();
    m_dlg->EnableControls(false);
    EXPECT_FALSE(button(CCaptureDlg::IDCANCEL)->isEnabled());
    EXPECT_FALSE(button(CCaptureDlg::IDC_CAPTURE)->isEnabled());
    EXPECT_FALSE(button(CCaptureDlg::IDC_SAVE_AS)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDC_STOP)->isEnabled());
    notify();
    EXPECT_EQ(m_dlg->completeCount(), 1);
    EXPECT_EQ(statusText(), QStringLiteral("Document Complete"));
    EXPECT_TRUE(m_dlg->isDocumentComplete());
    EXPECT_FALSE(m_dlg->isCapturing());
    EXPECT_TRUE(button(CCaptureDlg::IDCANCEL)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDC_CAPTURE)->isEnabled());
    EXPECT_TRUE(button(CCaptureDlg::IDC_SAVE_AS)->isEnabled());
    // A second one changes only the count and the status line.
    m_dlg->EnableControls(false);
    label(CCaptureDlg::IDC_STATUS)->setText(QStringLiteral("x"));
    notify();
    EXPECT_EQ(m_dlg->completeCount(), 2);
    EXPECT_EQ(statusText(), QStringLiteral("Document Complete"));
    EXPECT_FALSE(button(CCaptureDlg::IDC_CAPTURE)->isEnabled());
}

TEST_F(CaptureDlgTest, NotificationPutsTheTakenAddressBackIntoTheField) {
    makeDialog("default_url=http://first.test/\n");
    urlField()->setText(QStringLiteral("http://taken.test/"));
    ASSERT_TRUE(m_dlg->UpdateData(true));
    urlField()->setText(QStringLiteral("typed meanwhile"));
    notify();
    EXPECT_EQ(urlField()->text(), QStringLiteral("http://taken.test/"));
}

TEST_F(CaptureDlgTest, CloseBoxDoesNothingWhileTheCancelItemIsDisabled) {
    makeDialog();
    m_dlg->show();
    m_dlg->EnableControls(false);
    EXPECT_FALSE(m_dlg->close());
    EXPECT_TRUE(m_dlg->isVisible());
    QTest::keyClick(m_dlg.get(), Qt::Key_Escape);
    EXPECT_TRUE(m_dlg->isVisible());
    m_dlg->EnableControls(true);
    EXPECT_TRUE(m_dlg->close());
    EXPECT_FALSE(m_dlg->isVisible());
}

TEST_F(CaptureDlgTest, EnterInTheAddressFieldEndsTheWindowWithoutCapturing) {
    makeDialog();
    m_dlg->show();
    urlField()->setFocus();
    QTest::keyClick(urlField(), Qt::Key_Return);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(m_dlg->isCapturing());
    EXPECT_EQ(statusText(), QString());
}

TEST_F(CaptureDlgTest, AddressTooLongFromTheSettingsIsRefusedWhenTakenBack) {
    const QByteArray longUrl = "http://example.test/" + QByteArray(300, 'a');
    makeDialog("default_url=" + longUrl + "\n");
    EXPECT_EQ(urlField()->text().size(), longUrl.size());  // shown whole
    EXPECT_FALSE(m_dlg->UpdateData(true));
    ASSERT_EQ(m_boxes.size(), 1U);
    // Typing cannot make it longer than the limit.
    urlField()->clear();
    urlField()->setFocus();
    QTest::keyClicks(urlField(), QString(300, QLatin1Char('b')));
    EXPECT_EQ(urlField()->text().size(), CCaptureDlg::kMaxUrlLength);
}

TEST_F(CaptureDlgTest, ExitCommandEndsTheWindow) {
    makeDialog();
    m_dlg->show();
    m_dlg->OnCommand(CCaptureDlg::ID_EXIT);
    EXPECT_FALSE(m_dlg->isVisible());
    EXPECT_EQ(m_dlg->result(), QDialog::Rejected);
}

TEST_F(CaptureDlgTest, ItsLinkLabelPointsAtThePortalWithTheVersionAndIsNeverUnderlined) {
    makeDialog();
    auto* link = qobject_cast<CHyperLinkStatic*>(m_dlg->GetDlgItem(CCaptureDlg::IDC_LINK));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->Link(), SiteRecommendationLink(QStringLiteral(LUMICLIP_VERSION)));
    EXPECT_TRUE(link->Link().endsWith(QStringLiteral("?lumiclip&v=1.1.0")));
    EXPECT_FALSE(link->font().underline());
    EXPECT_EQ(link->parentWidget(), m_dlg->GetDlgItem(CCaptureDlg::IDC_URL)->parentWidget());
}

TEST_F(CaptureDlgTest, ItsLinkLabelShowsTheAddressItOpens) {
    makeDialog();
    auto* link = qobject_cast<CHyperLinkStatic*>(m_dlg->GetDlgItem(CCaptureDlg::IDC_LINK));
    ASSERT_NE(link, nullptr);
    const QString portal = QLatin1String(kSiteRecommendationPortal);
    EXPECT_EQ(link->text().toStdString(), (QString::fromUtf8("立即访问voziri ") + portal).toStdString());
    EXPECT_TRUE(link->Link().startsWith(portal + QLatin1Char('?'))) << link->Link().toStdString();
}

TEST_F(CaptureDlgTest, OptionsOkStoresTheSixKeysAndTheWindowFollows) {
    makeDialog(
        "web_width=810\nweb_height=600\nimg_width=180\nimg_height=138\nimg_format=JPG\n"
        "default_url=http://127.0.0.1/stored\n");
    m_dlg->show();
    urlField()->setText(QStringLiteral("http://127.0.0.1/typed"));
    RunOptions(*m_dlg, [](COptionsDlg& options) {
        // It opens on the address in the window, stored or not.
        EXPECT_EQ(OptionsField(options, COptionsDlg::IDC_DEFAULT_URL)->text(),
                  QStringLiteral("http://127.0.0.1/typed"));
        OptionsField(options, COptionsDlg::IDC_VIEW_WIDTH)->setText(QStringLiteral("1024"));
        OptionsField(options, COptionsDlg::IDC_VIEW_HEIGHT)->setText(QStringLiteral("768"));
        OptionsField(options, COptionsDlg::IDC_IMAGE_WIDTH)->setFocus(Qt::MouseFocusReason);
        OptionsField(options, COptionsDlg::IDC_IMAGE_WIDTH)->setText(QStringLiteral("300"));
        options.m_comboFormat->setCurrentIndex(2);
        OptionsField(options, COptionsDlg::IDC_DEFAULT_URL)->setText(QStringLiteral("http://127.0.0.1/new"));
        ClickOptionsButton(options, COptionsDlg::IDOK);  // leaving the width runs the lock first
        EXPECT_EQ(options.result(), QDialog::Accepted);
    });
    QString storedUrl;
    const CaptureSettings stored =
        LoadCaptureSettings(m_dir.filePath(QStringLiteral("Lumiclip.ini")), &storedUrl);
    EXPECT_EQ(stored.web_width, 1024);
    EXPECT_EQ(stored.web_height, 768);
    EXPECT_EQ(stored.img_width, 300);
    EXPECT_EQ(stored.img_height, 225);
    EXPECT_EQ(stored.img_format, QStringLiteral("PNG"));
    EXPECT_EQ(storedUrl, QStringLiteral("http://127.0.0.1/new"));
    EXPECT_EQ(m_dlg->settings().img_height, 225);
    EXPECT_EQ(urlField()->text(), QStringLiteral("http://127.0.0.1/new"));
    EXPECT_EQ(m_dlg->outputPath(), DefaultOutputFile() + QStringLiteral(".png"));
    EXPECT_TRUE(m_boxes.empty());
}

TEST_F(CaptureDlgTest, OptionsCancelAfterEditsWritesNothingAndKeepsTheTypedAddress) {
    const QByteArray section = "img_format=png\ndefault_url=http://127.0.0.1/stored\n";
    makeDialog(section);
    const QString ini = m_dir.filePath(QStringLiteral("Lumiclip.ini"));
    const QByteArray before = readFile(ini);
    urlField()->setText(QStringLiteral("http://127.0.0.1/typed"));
    RunOptions(*m_dlg, [](COptionsDlg& options) {
        EXPECT_EQ(options.m_comboFormat->currentText(), QStringLiteral("PNG"));
        OptionsField(options, COptionsDlg::IDC_VIEW_WIDTH)->setText(QStringLiteral("1000"));
        OptionsField(options, COptionsDlg::IDC_DEFAULT_URL)
            ->setText(QStringLiteral("http://127.0.0.1/other"));
        ClickOptionsButton(options, COptionsDlg::IDCANCEL);
        EXPECT_EQ(options.result(), QDialog::Rejected);
    });
    EXPECT_EQ(readFile(ini), before);
    EXPECT_EQ(urlField()->text(), QStringLiteral("http://127.0.0.1/typed"));
    EXPECT_EQ(m_dlg->settings().web_width, 810);
    EXPECT_EQ(m_dlg->settings().img_format, QStringLiteral("png"));
    EXPECT_EQ(m_dlg->outputPath(), DefaultOutputFile() + QStringLiteral(".png"));
}

TEST_F(CaptureDlgTest, OptionsOkWithAnUnknownStoredFormatStoresItBlankUntilTheNextStart) {
    makeDialog("img_format=BMP\n");
    RunOptions(*m_dlg, [](COptionsDlg& options) {
        EXPECT_EQ(options.m_comboFormat->currentIndex(), -1);
        ClickOptionsButton(options, COptionsDlg::IDOK);
    });
    EXPECT_EQ(m_dlg->settings().img_format, QString());
    EXPECT_EQ(m_dlg->outputPath(), DefaultOutputFile() + QStringLiteral("."));
    // The next start reads the blank value as the default format.
    m_dlg = std::make_unique<CCaptureDlg>(m_browser, nullptr, m_dir.filePath(QStringLiteral("Lumiclip.ini")));
    EXPECT_EQ(m_dlg->settings().img_format, QStringLiteral("JPG"));
}

}  // namespace lumiclip::test
