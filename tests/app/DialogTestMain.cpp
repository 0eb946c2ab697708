#include <gtest/gtest.h>

#include <QApplication>

#include "dialog/FlashwrightApp.h"
#include "support/Platform.h"

// One application object for every dialog test, with the program's message
// pump, so waits inside the dialog keep timers running as in the program.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    platform::SetMessagePumpHook(&CFlashwrightApp::PumpEvents);
    return RUN_ALL_TESTS();
}
