// A termination signal ends the program in order: the loops are left, a waiting capture takes its
// snapshot, and the browser goes with its profile.
#include "app/capture_app.h"
#include "core/browser/browser.h"
#include "core/browser/browser_process.h"
#include "core/browser/termination_signals.h"
#include "stalled_page_settings.h"
#include "support/test_util.h"
#include "ui/capture_dlg.h"
#include "widgets/message_box.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <unistd.h>
#include <csignal>

namespace lumiclip::test {
namespace {

// Once the loops have been told to end, no new loop runs in this process: one signal per test.
TEST(TerminationSignals, CtrlCLeavesEveryRunningLoopAndIsNamed) {
    TerminationSignals termination;
    bool innerLeft = false;
    QEventLoop outer;
    QTimer::singleShot(0, &outer, [&] {
        QEventLoop inner;
        QTimer::singleShot(10, &inner, [] { ::raise(SIGINT); });
        inner.exec();
        innerLeft = true;
    });
    QTimer failsafe;
    failsafe.setSingleShot(true);
    QObject::connect(&failsafe, &QTimer::timeout, &outer, [&outer] { outer.exit(1); });
    failsafe.start(5000);
    EXPECT_EQ(outer.exec(), 0);
    EXPECT_TRUE(innerLeft);
    EXPECT_EQ(termination.received(), SIGINT);
}

TEST(TerminationSignalsBrowser, SigtermDuringACaptureEndsTheProgramAndRemovesTheBrowsersProfile) {
    SetMessageBoxHandler([](const MessageBoxRequest&) { return MessageAnswer::Ok; });
    const StalledPageSettings stalled;
    ASSERT_TRUE(stalled.written);

    TerminationSignals termination;
    CCaptureApp app;
    app.setSettingsPath(stalled.ini);
    bool captureReturned = false;
    pid_t browserPid = -1;
    app.setDialogHook([&](CCaptureDlg& dlg) {
        dlg.setCaptureTimeLimitMs(20000);
        QTimer::singleShot(0, &dlg, [&] {
            QTimer::singleShot(1000, &dlg, [&] {
                browserPid = app.browser().pid();
                ::raise(SIGTERM);
            });
            qobject_cast<QPushButton*>(dlg.GetDlgItem(CCaptureDlg::IDC_CAPTURE))->click();
            captureReturned = true;
        });
    });
    app.InitInstance();
    EXPECT_TRUE(captureReturned);
    EXPECT_EQ(termination.received(), SIGTERM);
    EXPECT_EQ(app.ExitInstance(), 0);
    ASSERT_GT(browserPid, 0);
    EXPECT_TRUE(waitUntil([&] { return ::kill(browserPid, 0) != 0; }, 5000))
        << "the browser is still running";
    const QStringList profiles =
        QDir(BrowserProcess::ProfileParent())
            .entryList({BrowserProcess::ProfilePrefix() + QStringLiteral("%1-*").arg(::getpid())},
                       QDir::Dirs | QDir::NoDotAndDotDot);
    EXPECT_TRUE(profiles.isEmpty()) << profiles.join(QLatin1Char(' ')).toStdString();
}

}  // namespace
}  // namespace lumiclip::test
