#include <gtest/gtest.h>

#include <cstdio>

#include "DialogFixture.h"

// This test program is built into a folder of its own, so no camera SDK lies
// beside it and the system loader knows none either.
namespace apptest {
namespace {

TEST(NoSdkTest, MissingCameraSdkShowsTheParameterManagersTextAndEndsWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_FALSE(std::filesystem::exists(platform::ToNativePath(platform::GetExecutableDirectory()) + "/libZvIAPI.so"));
    SimulatedCameras sim(Description({Camera("A0001")}));
    CFlashwrightDlg::SetMessageBoxHandler([](const QString&, const QString& text) {
        std::fprintf(stderr, "message box: %s\n", text.toStdString().c_str());
        std::fflush(stderr);
    });
    EXPECT_EXIT(
        {
            CFlashwrightDlg dialog;
            dialog.OnInitDialog();
        },
        ::testing::ExitedWithCode(0),
        "message box: \\{-1\\}\\{CAPIDeviceManager::InitEnvironment:line\\[[0-9]+\\]\\}\\{.*libZvIAPI");
    CFlashwrightDlg::SetMessageBoxHandler({});
}

}  // namespace
}  // namespace apptest
