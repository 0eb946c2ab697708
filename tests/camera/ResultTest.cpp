#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "camera/BurnTime.h"
#include "camera/Result.h"

namespace {

TEST(StatusTableTest, TextsOfEveryCode) {
    const std::pair<int, const wchar_t*> table[] = {
        {0, L"Success"},
        {2, L"Open device error"},
        {5, L"Enter upgrade mode error"},
        {6, L"Burning"},
        {7, L"Burning the file failed"},
        {8, L"Burning"},
        {9, L"Leave upgrade mode error"},
        {10, L"Burning"},
        {11, L"Upgrade file parsing failure"},
        {13, L"File version mismatch"},
        {14, L""},
        {15, L""},
        {17, L"Close device error"},
        {19, L"Burning the CameraInfo failed"},
        {21, L"Burning"},
        {22, L"Burning the firmware failed"},
        {23, L"Burning the FPGA failed"},
        {24, L"Burning the param failed"},
        {28, L"Don't support upgrade"},
        {29, L"Device Flash Vendor ID Retrieval Failed"},
        {30, L"Failed to Get The Configuration File To Burn The Old And New Flags Of The File"},
        {31, L"Device Flash Vendor ID Failed To Match Burn File"},
        {1, L""},
        {32, L""},
        {-1, L""},
        {-21, L""},
    };
    for (const auto& [code, text] : table) EXPECT_EQ(GetStatusCodeText(code), text) << code;
}

TEST(CResultTest, StartsEmptyAndSetsCodeWithItsText) {
    CResult result;
    EXPECT_EQ(result.GetCode(), -1);
    EXPECT_EQ(result.GetText(), L"");
    result.SetCode(23);
    std::int32_t code = 0;
    std::wstring text;
    result.Get(code, text);
    EXPECT_EQ(code, 23);
    EXPECT_EQ(text, L"Burning the FPGA failed");
    result.SetCode(15);
    EXPECT_EQ(result.GetText(), L"");
}

TEST(CBurnTimeTest, LapsMeasureConsecutiveStretchesAndResetClears) {
    const auto start = std::chrono::steady_clock::now();
    CBurnTime time;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double first = time.Lap();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const double second = time.Lap();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Each lap covers its own sleep, and the second starts where the first
    // ended: together they fit in the time that passed.
    EXPECT_GE(first, 0.02);
    EXPECT_GE(second, 0.02);
    EXPECT_LE(first + second, wall + 0.001);
    time.AddElapsedSeconds(1.5);
    time.AddElapsedSeconds(0.25);
    EXPECT_DOUBLE_EQ(time.GetElapsedSeconds(), 1.75);
    time.Reset();
    EXPECT_DOUBLE_EQ(time.GetElapsedSeconds(), 0.0);
}

}  // namespace
