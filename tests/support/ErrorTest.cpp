#include <gtest/gtest.h>

#include "support/Error.h"

TEST(Error, FailureTextHasTheCommonShape) {
    EXPECT_EQ(FormatFailureText(-1, "CDeviceManager::InitEnvironment", 394, L"{0}{GCGetLastError failed}"),
              L"{-1}{CDeviceManager::InitEnvironment:line[394]}{{0}{GCGetLastError failed}}");
    EXPECT_EQ(FormatFailureText(-10006, "CU3VDevice::Open", 7, L""), L"{-10006}{CU3VDevice::Open:line[7]}{}");
}

TEST(Error, RecordKeepsTheLastFailureUntilTheNext) {
    CError record;
    EXPECT_TRUE(record.GetErrorText().empty());
    record.SetErrorText(L"first");
    std::wstring copy = record.GetErrorText();
    copy += L" changed";
    EXPECT_EQ(record.GetErrorText(), L"first");
    record.SetErrorText(L"second");
    EXPECT_EQ(record.GetErrorText(), L"second");
}
