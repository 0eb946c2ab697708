#include <gtest/gtest.h>

#include <string>

#include "support/FormatString.h"
#include "support/Platform.h"

TEST(FormatString, WindowsConversionsForWideAndNarrowText) {
    EXPECT_EQ(FormatString(L"[%s|%S]", L"wide", "narrow"), L"[wide|narrow]");
    // 8-bit text goes through the system's 8-bit code page (UTF-8 on Linux, the
    // thread's ANSI code page on Windows); non-ASCII bytes come through, never fail,
    // and a byte the code page does not know still yields a text.
    for (const char* bytes : {"Caf\xC3\xA9 \xE4\xB8\xAD",
                              "a\xFF"
                              "b"}) {
        EXPECT_EQ(FormatString(L"<%S>", bytes), L"<" + platform::AnsiToWide(bytes) + L">") << bytes;
    }
    EXPECT_EQ(FormatString(L"%hs/%ls/%ws", "h", L"l", L"w"), L"h/l/w");
    EXPECT_EQ(FormatString(L"%c%C%lc", L'\u00E9', 'x', L'y'), L"\u00E9xy");
    EXPECT_EQ(FormatString(L"%-6s|%6S|%.2S|%.3s", L"ab", "cd", "efgh", L"ijklm"), L"ab    |    cd|ef|ijk");
    EXPECT_EQ(FormatString(L"%s %S", static_cast<const wchar_t*>(nullptr), static_cast<const char*>(nullptr)),
              L"(null) (null)");
}

TEST(FormatString, NumbersFollowPrintf) {
    struct Case {
        std::wstring expected;
        std::wstring actual;
    } cases[] = {
        {L"-1", FormatString(L"%d", -1)},
        {L"-2147483648", FormatString(L"%d", static_cast<int>(0x80000000u))},
        {L"4294967295", FormatString(L"%u", 0xFFFFFFFFu)},
        {L"0x00ff|FF", FormatString(L"0x%04x|%X", 255u, 255u)},
        {L"1234567890123", FormatString(L"%I64d", 1234567890123LL)},
        {L"18446744073709551615", FormatString(L"%llu", ~0ULL)},
        {L"12", FormatString(L"%zu", static_cast<std::size_t>(12))},
        {L"  42|42  |+42", FormatString(L"%4d|%-4d|%+d", 42, 42, 42)},
        {L"   7", FormatString(L"%*d", 4, 7)},
        {L"3.142", FormatString(L"%.3f", 3.14159)},
        {L"0.500 S", FormatString(L"%.3f S", 0.5)},
        {L"100%", FormatString(L"%d%%", 100)},
    };
    for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected);
}

TEST(FormatString, PlainTextAndOddDirectivesStayReadable) {
    EXPECT_EQ(FormatString(L"Load TL library error!"), L"Load TL library error!");
    EXPECT_EQ(FormatString(L"50%"), L"50%");
    EXPECT_EQ(FormatString(L"%q and %d", 3), L"%q and 3");
    int written = 0;
    EXPECT_EQ(FormatString(L"ab%n", &written), L"ab");
    EXPECT_EQ(written, 0);
}

TEST(FormatString, LongResultIsCutAt1023Characters) {
    const std::string narrow(5000, 'n');
    const std::wstring wide(3000, L'w');
    EXPECT_EQ(FormatString(L"%S", narrow.c_str()), std::wstring(1023, L'n'));
    EXPECT_EQ(FormatString(L"ab%s", wide.c_str()), L"ab" + std::wstring(1021, L'w'));
    EXPECT_EQ(FormatString(L"%10000d", 5), std::wstring(1023, L' '));
    EXPECT_EQ(FormatString(L"%-2000d|", 5), L"5" + std::wstring(1022, L' '));
    const std::wstring exact(1023, L'x');
    EXPECT_EQ(FormatString(L"%s", exact.c_str()), exact);
}

TEST(FormatStringLimitTest, OverLongArgumentIsCutNotLost) {
    const std::wstring huge(20000, L'a');
    const std::wstring result = FormatString(L"[%s]", huge.c_str());
    ASSERT_EQ(result.size(), kFormatStringMaxChars);
    EXPECT_EQ(result, L"[" + std::wstring(kFormatStringMaxChars - 1, L'a'));
    EXPECT_EQ(FormatString(L"%S!", std::string(9000, 'b').c_str()), std::wstring(kFormatStringMaxChars, L'b'));
}
