#include "widgets/dialog_units.h"

#include <gtest/gtest.h>
#include <QApplication>

// Tests of dialogs and widgets get a widget application on the offscreen platform.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    lumiclip::UseSimplifiedChineseFontFallback();  // as the program does
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
