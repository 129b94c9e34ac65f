#include "app/capture_app.h"

#include "app/about_dlg.h"

#include "core/browser/browser.h"
#include "core/image/encoder_table.h"
#include "ui/capture_dlg.h"

namespace lumiclip {

bool CCaptureApp::InitInstance() {
    // The image library before any window: captures scale and encode with it. A failure is not
    // reported here; the captures then fail on their own.
    m_imageLibraryStarted = EnsureImageLibrary();
    {
        CCaptureDlg dlg(m_browser, nullptr, m_settingsPath);
        dlg.setAboutAction([](QWidget* owner) {
            CAboutDlg about(owner);
            about.exec();
        });
        if (m_dialogHook) {
            m_dialogHook(dlg);
        }
        dlg.exec();
    }  // the window, its picture and its capture host are gone here
    return false;
}

// The image library cannot be started again in the same process once it has been shut down, so a
// process runs the application object once.
int CCaptureApp::ExitInstance() {
    if (m_imageLibraryStarted) {
        ShutDownImageLibrary();
        m_imageLibraryStarted = false;
    }
    m_browser.shutdown();
    return 0;
}

int CCaptureApp::Run() {
    InitInstance();
    return ExitInstance();
}

}  // namespace lumiclip
