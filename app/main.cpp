// The desktop program: the main window, run by the application object.
#include "app/capture_app.h"
#include "core/browser/termination_signals.h"
#include "widgets/message_box_widgets.h"
#include "widgets/dialog_units.h"

#include <QApplication>

int main(int argc, char** argv) {
    lumiclip::UseSimplifiedChineseFontFallback();
    QApplication application(argc, argv);
    // The menu entry's name, by which desktops match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("net.ombrix.Lumiclip"));
    lumiclip::InstallWidgetMessageBoxes();
    lumiclip::TerminationSignals termination;
    lumiclip::CCaptureApp app;
    const int code = app.Run();
    return termination.received() != 0 ? 128 + termination.received() : code;
}
