#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "DialogFixture.h"
#include "camera/GenTLLib.h"

// Each start-up failure shows its message and ends the process with status 0
// before the window is shown, so each runs in a child process.
namespace apptest {
namespace {

class StartupFailureTest : public DialogFixture {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        // The child reports each message on standard error for the parent to match.
        CFlashwrightDlg::SetMessageBoxHandler([](const QString& caption, const QString& text) {
            std::fprintf(stderr, "message box [%s]: %s\n", caption.toStdString().c_str(), text.toStdString().c_str());
            std::fflush(stderr);
        });
    }

    // Runs the start-up as the program does; returning means it did not end.
    static void StartUp() {
        CFlashwrightDlg dialog;
        dialog.OnInitDialog();
        std::fprintf(stderr, "start-up went on, shown=%d\n", dialog.isVisible() ? 1 : 0);
    }
};

TEST_F(StartupFailureTest, NoProducerShowsTheDeviceManagersTextAndEndsWithZero) {
    sim = std::make_unique<SimulatedCameras>(Description({Camera("A0001")}));
    // Without the path variable no folder is searched at all.
    ScopedEnvironment environment;
    environment.Unset(platform::WideToAnsi(ProducerPathVariableName()));
    EXPECT_EXIT(StartUp(), ::testing::ExitedWithCode(0), "message box \\[dialog_tests\\]: Load TL library error!\n$");
}

TEST_F(StartupFailureTest, CameraSdkThatCannotOpenShowsTheParameterManagersTextAndEndsWithZero) {
    json description = Description({Camera("A0001")});
    description["sdk"] = {{"init", -1001}};
    sim = std::make_unique<SimulatedCameras>(description);
    EXPECT_EXIT(StartUp(), ::testing::ExitedWithCode(0),
                "message box \\[dialog_tests\\]: \\{-1001\\}\\{CAPIDeviceManager::InitEnvironment:line\\[[0-9]+\\]\\}");
}

TEST_F(StartupFailureTest, RefusedTemporaryFolderIsNamedBeforeAnyCameraCall) {
    sim = std::make_unique<SimulatedCameras>(Description({Camera("A0001")}));
    // A temporary folder that is not a directory is refused before the SDK or
    // the producer is called, with the folder and the reason.
    const std::filesystem::path runtime = sim->RuntimeFolder();
    std::ofstream(runtime / "U3TempFileDirectory") << "not a folder";
    EXPECT_EXIT(
        StartUp(), ::testing::ExitedWithCode(0),
        "message box \\[dialog_tests\\]: Failed to create temporary file!\n\n.*/runtime/U3TempFileDirectory: it "
        "is not a folder\n$");
    // Start-up failures skip the shutdown: what the folder's place holds stays.
    EXPECT_TRUE(std::filesystem::is_regular_file(runtime / "U3TempFileDirectory"));
    EXPECT_TRUE(sim->Events().empty()) << "no camera library was called";
}

}  // namespace
}  // namespace apptest
