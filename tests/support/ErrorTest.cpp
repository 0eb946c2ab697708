#include <gtest/gtest.h>

#include "support/Error.h"

TEST(Error, FailureTextHasTheCommonShape) {
    EXPECT_EQ(FormatFailureText(-1, "CDeviceManager::InitEnvironment", 394, L"{0}{GCGetLastError failed}"),
              L"{-1}{CDeviceManager::InitEnvironment:line[394]}{{0}{GCGetLastError failed}}");
    EXPECT_EQ(FormatFailureText(-10006, "CU3VDevice::Open", 7, L""), L"{-10006}{CU3VDevice::Open:line[7]}{}");
    constexpr FailureSite kSite{"CU3VDevice::__EnterUpgradeMode", 558};
    EXPECT_EQ(FormatFailureText(-1010, kSite, L"{-1010}{no answer}"),
              L"{-1010}{CU3VDevice::__EnterUpgradeMode:line[558]}{{-1010}{no answer}}");
}

TEST(Error, RecordKeepsTheLastFailureUntilTheNext) {
    CError record;
    EXPECT_TRUE(record.GetErrorText().empty());
    record.SetErrorText(L"first");
    EXPECT_EQ(record.GetErrorText(), L"first");
    record.SetErrorText(L"second");
    EXPECT_EQ(record.GetErrorText(), L"second");
}
