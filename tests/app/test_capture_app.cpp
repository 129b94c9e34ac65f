// The application object from start to exit, with the real browser: closing the window during a
// capture ends the program only after the capture call has returned, and no browser remains.
#include "app/capture_app.h"
#include "core/browser/browser.h"
#include "stalled_page_settings.h"
#include "support/test_util.h"
#include "ui/capture_dlg.h"
#include "widgets/message_box.h"

#include <gtest/gtest.h>
#include <QPushButton>
#include <QTimer>

#include <signal.h>

namespace lumiclip::test {

TEST(CaptureAppBrowser, ExitDuringACaptureWaitsForItAndLeavesNoBrowser) {
    SetMessageBoxHandler([](const MessageBoxRequest&) { return MessageAnswer::Ok; });
    const StalledPageSettings stalled;
    ASSERT_TRUE(stalled.written);

    CCaptureApp app;
    app.setSettingsPath(stalled.ini);
    bool hiddenWhileWaiting = false;
    bool callRunningAfterExit = false;
    bool captureReturned = false;
    pid_t browserPid = -1;
    app.setDialogHook([&](CCaptureDlg& dlg) {
        dlg.setCaptureTimeLimitMs(20000);
        QTimer::singleShot(0, &dlg, [&] {
            QTimer::singleShot(1000, &dlg, [&] {
                browserPid = app.browser().pid();
                dlg.OnCommand(CCaptureDlg::ID_EXIT);
                hiddenWhileWaiting = !dlg.isVisible();
                callRunningAfterExit = dlg.isCaptureCallRunning();
                dlg.OnStop();
            });
            qobject_cast<QPushButton*>(dlg.GetDlgItem(CCaptureDlg::IDC_CAPTURE))->click();
            captureReturned = true;
        });
    });
    EXPECT_FALSE(app.InitInstance());
    EXPECT_TRUE(captureReturned);
    EXPECT_TRUE(hiddenWhileWaiting);
    EXPECT_TRUE(callRunningAfterExit);
    EXPECT_TRUE(app.imageLibraryRunning());
    EXPECT_EQ(app.ExitInstance(), 0);
    EXPECT_FALSE(app.imageLibraryRunning());
    ASSERT_GT(browserPid, 0);
    EXPECT_TRUE(waitUntil([&] { return ::kill(browserPid, 0) != 0; }, 5000))
        << "the browser is still running";
}

}  // namespace lumiclip::test
