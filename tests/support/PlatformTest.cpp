#include <gtest/gtest.h>

#include "support/Platform.h"
#include "testbed/Environment.h"

TEST(Platform, TextRoundTripsThroughTheEightBitCodePage) {
    const std::wstring text = L"ORV-2C \u00B5m \u4E2D\u6587 \U0001F600";
    EXPECT_EQ(platform::AnsiToWide(platform::WideToAnsi(text)), text);
    // Malformed input: truncated sequence, overlong form, encoded surrogate.
    EXPECT_EQ(platform::AnsiToWide("\xE4\xB8"), L"\uFFFD");
    EXPECT_EQ(platform::AnsiToWide("\xC0\xAF"
                                   "x"),
              L"\uFFFD\uFFFDx");
    EXPECT_EQ(platform::AnsiToWide("\xED\xA0\x80"), L"\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(platform::WideToAnsi(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
}

TEST(Platform, EnvironmentLookupWithAndWithoutCase) {
    testbed::ScopedEnvironment environment;
    environment.Set("FLASHWRIGHT_Test_Var", "one");
    environment.Unset("FLASHWRIGHT_TEST_VAR");
    EXPECT_FALSE(platform::GetEnvironmentVariable(L"FLASHWRIGHT_TEST_VAR").has_value());
    EXPECT_EQ(platform::FindEnvironmentVariableNoCase(L"flashwright_test_var").value_or(L"-"), L"one");
    EXPECT_FALSE(platform::FindEnvironmentVariableNoCase(L"FLASHWRIGHT_TEST_VA").has_value());
    ASSERT_TRUE(platform::SetEnvironmentVariable(L"FLASHWRIGHT_TEST_VAR", L"\u00E9"));
    EXPECT_EQ(platform::GetEnvironmentVariable(L"FLASHWRIGHT_TEST_VAR").value_or(L"-"), L"\u00E9");
}

TEST(Platform, OwnPathAndExistenceTests) {
    const std::wstring exe = platform::GetExecutablePath();
    EXPECT_TRUE(platform::IsRegularFile(exe));
    EXPECT_TRUE(platform::IsDirectory(platform::GetExecutableDirectory()));
    EXPECT_EQ(platform::GetExecutableStem(), L"support_tests");
    EXPECT_FALSE(platform::PathExists(exe + L".missing"));
    EXPECT_FALSE(platform::IsDirectory(exe));
}

TEST(Platform, DynamicLibraryLoadsResolvesAndReportsFailure) {
    platform::DynamicLibrary missing;
    EXPECT_FALSE(missing.Load(L"/nonexistent/libnothing.so"));
    EXPECT_FALSE(missing.LoadError().empty());
    EXPECT_EQ(missing.Symbol("anything"), nullptr);

    platform::DynamicLibrary libm;
    ASSERT_TRUE(libm.Load(L"libm.so.6")) << libm.LoadError();
    auto* cosine = reinterpret_cast<double (*)(double)>(libm.Symbol("cos"));
    ASSERT_NE(cosine, nullptr);
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(libm.Symbol("no_such_symbol_here"), nullptr);
    // No ordinals on Linux: an entry point reached by number is found by its name.
    EXPECT_EQ(libm.Ordinal(100, "cos"), libm.Symbol("cos"));
    EXPECT_EQ(platform::LibraryFileName(L"ZvIAPI"), L"libZvIAPI.so");
    platform::DynamicLibrary moved = std::move(libm);
    EXPECT_FALSE(libm.IsLoaded());
    EXPECT_TRUE(moved.IsLoaded());
}
