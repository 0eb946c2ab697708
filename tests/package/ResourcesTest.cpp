#include <gtest/gtest.h>

#include "PackageEnvironment.h"
#include "package/Resources.h"

namespace fs = std::filesystem;

TEST(Resources, EmbeddedBytesMatchTheirDataFiles) {
    CSourceFile config;
    ASSERT_TRUE(GetResourceData(L"Config", 131, config));
    const auto expected = ReadBytes(fs::path(FLASHWRIGHT_PACKAGE_DATA_DIR) / "Config.ini");
    ASSERT_EQ(config.GetSize(), expected.size());
    EXPECT_EQ(std::vector<std::uint8_t>(config.GetData(), config.GetData() + config.GetSize()), expected);

    CSourceFile other;
    EXPECT_TRUE(GetResourceData(L"config", 131, other));
    EXPECT_FALSE(GetResourceData(L"CONFIGX", 131, other));
    EXPECT_FALSE(GetResourceData(L"CONFI", 131, other));
    EXPECT_FALSE(GetResourceData(L"", 131, other));
    EXPECT_FALSE(GetResourceData(L"CONFIG", -131, other));
    EXPECT_FALSE(GetResourceData(L"CONFIG", 132, other));
}
