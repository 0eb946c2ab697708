#include <gtest/gtest.h>

#include <QApplication>

// One application object for every widget test. Test discovery runs the
// binary without the test environment, so fall back to the headless platform
// unless the caller chose one (xvfb-run with QT_QPA_PLATFORM=xcb, say).
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
