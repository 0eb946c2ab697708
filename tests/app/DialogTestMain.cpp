#include <gtest/gtest.h>

#include <QApplication>

#include <optional>

#include "dialog/FlashwrightApp.h"
#include "support/Platform.h"
#include "testbed/Environment.h"
#include "testbed/Folders.h"

namespace {

// Removed however the process ends normally, std::exit included; the
// start-up failures' child processes end that way and leave it alone.
std::optional<testbed::IsolatedFolders> g_folders;
// The window's remembered size and column widths (QSettings) stay private too.
std::optional<testbed::ScopedEnvironment> g_configHome;

}  // namespace

// One application object for every dialog test, with the program's message
// pump, so waits inside the dialog keep timers running as in the program.
// The program's temporary folder and the parameter backups land in a private
// folder of this process, never in the user's own.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    g_folders.emplace();
    g_configHome.emplace("XDG_CONFIG_HOME", (g_folders->Root() / "config").string());

    ::testing::InitGoogleTest(&argc, argv);
    int status = 0;
    {
        QApplication app(argc, argv);
        platform::SetMessagePumpHook(&CFlashwrightApp::PumpEvents);
        status = RUN_ALL_TESTS();
        platform::SetMessagePumpHook(nullptr);
    }
    return status;
}
