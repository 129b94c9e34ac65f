#pragma once

#include "core/browser/browser.h"

#include <QString>

#include <functional>

namespace lumiclip {

class CCaptureDlg;

// The application object: starts the image library and the capture engine's services, runs the main
// window modally for the whole life of the program, then shuts down in order: the window and all it
// owns (so every capture host and its browser context are gone), the image library, and last the
// browser process with its profile. Command-line arguments are not read. A QApplication must exist.
class CCaptureApp final {
public:
    CCaptureApp() = default;
    CCaptureApp(const CCaptureApp&) = delete;
    CCaptureApp& operator=(const CCaptureApp&) = delete;

    // Runs the main window modally; always false: there is no loop of the application's own.
    bool InitInstance();
    // Shuts the image library and then the browser down; the exit code (0).
    int ExitInstance();
    // InitInstance, then ExitInstance.
    int Run();

    // Tests: the settings file of the main window, and a hook called with the window just before its
    // modal run (to drive it without a person).
    void setSettingsPath(const QString& path) { m_settingsPath = path; }
    void setDialogHook(std::function<void(CCaptureDlg&)> hook) { m_dialogHook = std::move(hook); }

    // Where the captures run; its process is gone once ExitInstance has returned.
    Browser& browser() { return m_browser; }
    // Tests: whether the image library was started by InitInstance and not yet shut down.
    bool imageLibraryRunning() const { return m_imageLibraryStarted; }

private:
    Browser m_browser;
    bool m_imageLibraryStarted = false;
    QString m_settingsPath;
    std::function<void(CCaptureDlg&)> m_dialogHook;
};

}  // namespace lumiclip
