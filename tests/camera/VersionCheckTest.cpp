#include <gtest/gtest.h>

#include "camera/U3VDevice.h"

namespace {

TEST(ExtractVersionFieldTest, Examples) {
    struct Case {
        std::wstring text;
        int count;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"V01.03.001.002", 2, L"01.03"},
        {L"1.2.3;4.5.6", 1, L"1_4"},
        {L"V01.05", 1, L"01"},
        {L"V01", 1, L""},     // the dot never comes
        {L"a.b;c", 1, L"A"},  // upper case; a segment without a dot adds nothing
        {L"1.2;V3.4", 1, L"1_3"},
        {L"v01.03.001", 2, L"V01.03"},  // only a capital V starts a number
        {L"V1.V2.3", 2, L"2"},          // a later V moves the start, dots keep counting
        {L"", 1, L""},
        {L"1.2.3", 0, L""},  // a count of 0 matches before any dot
    };
    for (const Case& c : cases) EXPECT_EQ(ExtractVersionField(c.text, c.count), c.expected) << c.text << " " << c.count;
}

TEST(CompareFirmwareVersionTest, Examples) {
    struct Case {
        const char* camera;
        const char* partA;
        const char* partB;
        bool fits;
    };
    const Case cases[] = {
        {"V01.03.001.002:V01.05", "03", "01", true},
        {"V01.03.001.002:V02.05", "03", "01", false},  // right part newer than the package
        {"V01.03.001.002:V00.05", "03", "01", true},
        {"V01.03.001.002:V2.0", "03", "01", false},    // "2" sorts after "01"
        {"V01.03.001.002:V010.1", "03", "01", false},  // "01" is a prefix, so it sorts first
        {"V01.03.001.002:V01", "03", "01", true},      // no dot: empty minor never sorts after
        {"V01.04.001.002:V01.05", "03", "01", false},  // major differs
        {"V01.03.001.002", "03", "01", false},         // no ":"
        {"V0103:V01.05", "03", "01", false},           // no "." in the left part's field
        {"00.00.000.000:V01.05", "99", "01", true},    // placeholder skips the major test
        {"55.55.255.255:V01.05", "xx", "01", true},
        {"55.55.255.255:V02.05", "xx", "01", false},  // but not the minor test
        {"", "03", "01", false},
    };
    for (const Case& c : cases) EXPECT_EQ(CompareFirmwareVersion(c.camera, c.partA, c.partB), c.fits) << c.camera;
}

TEST(CompareFirmwareVersionTest, MinorComparesUnsignedBytes) {
    // 0xC3 is above every ASCII digit when read unsigned.
    EXPECT_FALSE(CompareFirmwareVersion("V01.03.001.002:V\xC3\xA9.1", "03", "01"));
    EXPECT_TRUE(CompareFirmwareVersion("V01.03.001.002:V01.1", "03", "\xC3\xA9"));
}

TEST(FieldTextTest, EndsAtZeroOrAtTheFieldWidth) {
    char full[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(FieldText(full), "abcd");
    char shorter[4] = {'a', 0, 'c', 'd'};
    EXPECT_EQ(FieldText(shorter), "a");
}

}  // namespace
