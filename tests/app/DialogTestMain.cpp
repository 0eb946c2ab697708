#include <gtest/gtest.h>

#include <stdlib.h>

#include <QApplication>

#include <filesystem>
#include <string>

#include "dialog/FlashwrightApp.h"
#include "support/Platform.h"

namespace {

// Removed however the process ends normally, std::exit included (the
// start-up failures end that way in their child processes).
struct PrivateFolder {
    std::string path;
    ~PrivateFolder() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};
PrivateFolder g_home;

}  // namespace

// One application object for every dialog test, with the program's message
// pump, so waits inside the dialog keep timers running as in the program.
// The program's temporary folder and the parameter backups land in a private
// folder of this process, never in the user's own.
int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::string home = (std::filesystem::temp_directory_path() / "flashwright-dialog-tests-XXXXXX").string();
    if (::mkdtemp(home.data()) == nullptr) return 1;
    g_home.path = home;
    ::setenv("XDG_RUNTIME_DIR", home.c_str(), 1);
    ::setenv("XDG_STATE_HOME", (home + "/state").c_str(), 1);
    // The window's remembered size and column widths stay in this folder too.
    ::setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);

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
