// The desktop program: the main window, run by the application object.
#include "app/capture_app.h"
#include "ui/message_box_widgets.h"
#include "widgets/dialog_units.h"

#include <QApplication>

int main(int argc, char** argv) {
    lumiclip::UseSimplifiedChineseFontFallback();
    QApplication application(argc, argv);
    lumiclip::InstallWidgetMessageBoxes();
    lumiclip::CCaptureApp app;
    return app.Run();
}
