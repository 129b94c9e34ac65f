#include <gtest/gtest.h>
#include <QGuiApplication>

// Tests of the engine get a GUI application (fonts and images need one) on the offscreen platform.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
