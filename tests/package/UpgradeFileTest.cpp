#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <thread>

#include "PackageEnvironment.h"
#include "package/BurnPlans.h"
#include "package/CsvToData.h"
#include "package/PackageConfig.h"
#include "package/Resources.h"
#include "package/Sha1.h"
#include "package/UpgradeFile.h"
#include "support/Platform.h"

namespace fs = std::filesystem;

namespace {

const char* const kModels[] = {"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"};

struct ExpectedRegion {
    std::uint32_t address;
    std::uint32_t size;
    std::int32_t type;
};

const ExpectedRegion kShippedRegions[] = {
    {0x1200000, 466408, 0}, {0x12f0000, 235992, 1}, {0x13f7000, 3072, 2}, {0x13e0000, 20480, 2},
    {0x13e5000, 3072, 2},   {0x13c0000, 27192, 3},  {0x13b0000, 76, 4},   {0x1370000, 532, 2},
    {0x13a0000, 16, 2},     {0x1380000, 72, 2},     {0x1390000, 52, 2},
};

std::vector<std::uint8_t> Bytes(const CRegion* region) {
    return {region->GetData(), region->GetData() + region->GetSize()};
}

std::vector<std::uint8_t> Resource(int id) {
    CSourceFile source;
    if (!GetResourceData(L"UPGRADEFILE", id, source)) return {};
    return {source.GetData(), source.GetData() + source.GetSize()};
}

std::uint32_t U32(const std::uint8_t* bytes) {
    std::uint32_t v = 0;
    std::memcpy(&v, bytes, 4);
    return v;
}

bool HasValidCheckValue(const std::uint8_t* block, std::size_t section) {
    std::uint8_t expected[4];
    StoreCheckValue(expected, CalcCRC16(block + 4, section));
    return std::memcmp(block, expected, 4) == 0;
}

// A model section with the given items (source id, address text, file type).
std::string ModelSection(const std::string& model, const std::vector<std::tuple<int, std::string, int>>& items,
                         bool withFirmwareVersion = true) {
    std::string text = "[" + model + "]\r\n";
    if (withFirmwareVersion) text += "FIRMWARE_VERSION=03_01\r\n";
    text += "BurnFileTotal=" + std::to_string(items.size()) + "\r\n";
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& [id, address, type] = items[i];
        text += "SourceID" + std::to_string(i) + "=" + std::to_string(id) + "\r\n";
        text += "Address" + std::to_string(i) + "=" + address + "\r\n";
        text += "FileType" + std::to_string(i) + "=" + std::to_string(type) + "\r\n";
    }
    return text;
}

class UpgradeFileTest : public PackageEnvironment {
protected:
    void TearDown() override {
        package::testing::ClearResourceOverrides();
        PackageEnvironment::TearDown();
    }
    void UseShippedConfig() {
        std::wstring path;
        ASSERT_EQ(package::WriteRunPackageConfig(path), package::ERunConfigResult::kWritten);
    }
    void UseConfig(const std::string& text) {
        package::SetPackageConfigPath(platform::FromNativePath(m_scratch.Write("run.ini", text).string()));
    }
    static std::vector<CRegion*> Regions(const CUpgradeFile& plan) {
        std::vector<CRegion*> regions;
        plan.GetRegions(regions);
        return regions;
    }
    // Only the temporary folder (if anything made it), holding nothing but the run's Config.ini.
    void ExpectNoTableFilesLeft() {
        if (!fs::exists(TempDir())) return;
        for (const auto& entry : fs::directory_iterator(TempDir()))
            EXPECT_EQ(entry.path().filename(), "Config.ini") << entry.path();
    }
};

}  // namespace

TEST(Sha1, KnownDigest) {
    const auto digest = package::ComputeSha1("abc", 3);
    EXPECT_EQ(package::ToHex(digest.data(), digest.size()), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST_F(UpgradeFileTest, ShippedPlanOfEveryModel) {
    UseShippedConfig();
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(kModels[k]);
        CUpgradeFile plan;
        ASSERT_TRUE(plan.LoadBurnList(platform::AnsiToWide(kModels[k]), "SN0001"));
        EXPECT_EQ(plan.GetFirmwareVersion(), L"03_01");
        ASSERT_EQ(plan.GetItems().size(), 11u);
        EXPECT_EQ(plan.GetItems()[0].sourceId, 139 + 11 * k);
        ASSERT_TRUE(plan.PrepareBurnFiles());

        const auto regions = Regions(plan);
        ASSERT_EQ(regions.size(), 11u);
        for (std::size_t i = 0; i < regions.size(); ++i) {
            EXPECT_EQ(regions[i]->GetAddress(), kShippedRegions[i].address) << i;
            EXPECT_EQ(regions[i]->GetSize(), kShippedRegions[i].size) << i;
            EXPECT_EQ(regions[i]->GetFileType(), kShippedRegions[i].type) << i;
        }
        const int first = 139 + 11 * k;
        EXPECT_EQ(Bytes(regions[0]), Resource(first));
        EXPECT_EQ(Bytes(regions[5]), Resource(first + 5));

        // Firmware image: length, check value, bytes.
        const auto firmware = Resource(first + 1);
        const std::uint8_t* image = regions[1]->GetData();
        EXPECT_EQ(U32(image), 235984u);
        std::uint8_t check[4];
        StoreCheckValue(check, CalcCRC16(firmware.data(), firmware.size()));
        EXPECT_EQ(std::memcmp(image + 4, check, 4), 0);
        EXPECT_EQ(std::memcmp(image + 8, firmware.data(), firmware.size()), 0);

        // Manifest: XML size 27192 (38 6A 00 00), high word 0, digest, valid check value.
        const std::uint8_t* manifest = regions[6]->GetData();
        EXPECT_EQ(std::vector<std::uint8_t>(manifest + 28, manifest + 36),
                  (std::vector<std::uint8_t>{0x38, 0x6A, 0, 0, 0, 0, 0, 0}));
        const auto digest = package::ComputeSha1(regions[5]->GetData(), regions[5]->GetSize());
        EXPECT_EQ(std::memcmp(manifest + 36, digest.data(), 20), 0);
        EXPECT_TRUE(HasValidCheckValue(manifest, 72));
        EXPECT_EQ(U32(manifest + 12), 0x0101000Fu);

        // Every table block carries a valid check value.
        EXPECT_TRUE(HasValidCheckValue(regions[9]->GetData(), 68));
        EXPECT_TRUE(HasValidCheckValue(regions[2]->GetData(), 764));
        EXPECT_EQ(Bytes(regions[2]), Bytes(regions[4]));
        ExpectNoTableFilesLeft();

        plan.ClearRegions();
        EXPECT_TRUE(Regions(plan).empty());
    }
}

TEST_F(UpgradeFileTest, BurnListFailuresAndEdgeCases) {
    UseConfig("[EMPTY]\r\nFIRMWARE_VERSION=03_01\r\nBurnFileTotal=0\r\n" +
              ModelSection("NOVERSION", {{148, "0x1380000", 2}}, false) +
              ModelSection("NOPREFIX", {{148, "1380000", 2}, {149, "0X1390000", 2}}) +
              "[GAP]\r\nBurnFileTotal=2\r\nSourceID0=148\r\nAddress0=0x1380000\r\nFileType0=2\r\n"
              "SourceID1=149\r\nFileType1=2\r\n" +
              "[NOTOTAL]\r\nSourceID0=148\r\n");
    CUpgradeFile plan;
    EXPECT_FALSE(plan.LoadBurnList(L"", "SN1"));
    EXPECT_FALSE(plan.LoadBurnList(L"NOPREFIX", nullptr));
    EXPECT_FALSE(plan.PrepareBurnFiles()) << "no items yet";

    ASSERT_TRUE(plan.LoadBurnList(L"EMPTY", "SN1"));
    EXPECT_TRUE(plan.GetItems().empty());
    EXPECT_FALSE(plan.PrepareBurnFiles());

    ASSERT_TRUE(plan.LoadBurnList(L"NOVERSION", "SN1"));
    EXPECT_TRUE(plan.GetFirmwareVersion().empty());
    EXPECT_TRUE(plan.PrepareBurnFiles());

    ASSERT_TRUE(plan.LoadBurnList(L"nOpReFiX", "SN1"));  // profile rules: section names ignore case
    ASSERT_EQ(plan.GetItems().size(), 2u);
    EXPECT_EQ(plan.GetItems()[0].address, 0x1380000);
    EXPECT_EQ(plan.GetItems()[1].address, 0x1390000);
    EXPECT_EQ(plan.GetFirmwareVersion(), L"03_01");

    EXPECT_FALSE(plan.LoadBurnList(L"GAP", "SN1"));
    EXPECT_EQ(plan.GetItems().size(), 1u) << "items read before the missing key stay";
    EXPECT_FALSE(plan.LoadBurnList(L"NOTOTAL", "SN1"));
    EXPECT_FALSE(plan.LoadBurnList(L"ORV-9", "SN1"));
}

TEST_F(UpgradeFileTest, ItemsThatCannotBePreparedFailThePlan) {
    package::testing::OverrideResource(L"UPGRADEFILE", 900, "0x0,,,\n0,8,,\n9,1,1,\n");  // does not compile
    package::testing::OverrideResource(L"UPGRADEFILE", 901, "0x0,,,\n");                 // compiles to nothing
    package::testing::OverrideResource(L"UPGRADEFILE", 902, "");                         // empty resource
    const struct {
        const char* name;
        std::tuple<int, std::string, int> item;
    } cases[] = {
        {"negative id", {-2, "0x1380000", 2}},     {"address 0", {148, "zz", 2}},
        {"negative type", {148, "0x1380000", -2}}, {"missing resource", {999, "0x1380000", 2}},
        {"missing binary", {999, "0x1200000", 0}}, {"missing image", {999, "0x12f0000", 1}},
        {"table fails", {900, "0x1380000", 2}},    {"empty image", {901, "0x1380000", 2}},
        {"empty resource", {902, "0x1380000", 0}},
    };
    for (const auto& c : cases) {
        UseConfig(ModelSection("M", {{149, "0x1390000", 2}, c.item, {148, "0x1380000", 2}}));
        CUpgradeFile plan;
        ASSERT_TRUE(plan.LoadBurnList(L"M", "SN1")) << c.name;
        EXPECT_FALSE(plan.PrepareBurnFiles()) << c.name;
        EXPECT_EQ(Regions(plan).size(), 1u) << c.name << ": regions made before the failure stay";
        plan.ClearRegions();
        EXPECT_TRUE(Regions(plan).empty());
    }
    ExpectNoTableFilesLeft();
}

TEST_F(UpgradeFileTest, ManifestCompletionPicksTheLastXmlAndManifest) {
    package::testing::OverrideResource(L"UPGRADEFILE", 900, std::string(1000, 'x'));
    UseConfig(ModelSection(
                  "TWO", {{144, "0x13c0000", 3}, {145, "0x13b0000", 4}, {900, "0x13d0000", 3}, {145, "0x13b8000", 4}}) +
              ModelSection("NOXML", {{145, "0x13b0000", 4}}) + ModelSection("NOMANIFEST", {{144, "0x13c0000", 3}}) +
              ModelSection("TYPE7", {{148, "0x1380000", 7}}));
    CUpgradeFile plan;
    ASSERT_TRUE(plan.LoadBurnList(L"TWO", "SN1"));
    ASSERT_TRUE(plan.PrepareBurnFiles());
    auto regions = Regions(plan);
    ASSERT_EQ(regions.size(), 4u);
    const std::uint8_t* first = regions[1]->GetData();
    const std::uint8_t* last = regions[3]->GetData();
    EXPECT_EQ(U32(first + 28), 0u) << "only the later manifest is completed";
    EXPECT_EQ(U32(last + 28), 1000u) << "the later XML is described";
    const auto digest = package::ComputeSha1(std::string(1000, 'x').data(), 1000);
    EXPECT_EQ(std::memcmp(last + 36, digest.data(), 20), 0);
    EXPECT_TRUE(HasValidCheckValue(last, 72));

    ASSERT_TRUE(plan.LoadBurnList(L"NOXML", "SN1"));
    ASSERT_TRUE(plan.PrepareBurnFiles());
    regions = Regions(plan);
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(U32(regions[0]->GetData() + 28), 0u);

    ASSERT_TRUE(plan.LoadBurnList(L"NOMANIFEST", "SN1"));
    EXPECT_TRUE(plan.PrepareBurnFiles());

    ASSERT_TRUE(plan.LoadBurnList(L"TYPE7", "SN1"));
    ASSERT_TRUE(plan.PrepareBurnFiles());
    regions = Regions(plan);
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0]->GetFileType(), 7);
    EXPECT_EQ(regions[0]->GetSize(), 72u);
}

TEST_F(UpgradeFileTest, ShortManifestIsRefusedRatherThanOverrun) {
    package::testing::OverrideResource(L"UPGRADEFILE", 900, "0x0,,,\n0,8,,\n1,4,M,\n2,4,1,\n1,0x55aa,,\n");
    UseConfig(ModelSection("M", {{144, "0x13c0000", 3}, {900, "0x13b0000", 4}}));
    CUpgradeFile plan;
    ASSERT_TRUE(plan.LoadBurnList(L"M", "SN1"));
    EXPECT_FALSE(plan.PrepareBurnFiles());
}

TEST_F(UpgradeFileTest, PlansPrepareAtOnceOnSeveralThreadsWithoutFiles) {
    UseShippedConfig();
    std::vector<std::vector<std::vector<std::uint8_t>>> images(4);
    const char* ids[] = {"CAM-A", "CAM-B", "CAM-C", "CAM-D"};
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&, i] {
            CUpgradeFile plan;
            if (plan.LoadBurnList(L"ORV-2C", ids[i]) && plan.PrepareBurnFiles())
                for (const CRegion* region : Regions(plan))
                    images[static_cast<std::size_t>(i)].push_back(Bytes(region));
        });
    }
    for (auto& worker : workers) worker.join();
    ASSERT_EQ(images[0].size(), 11u);
    for (int i = 1; i < 4; ++i) EXPECT_EQ(images[static_cast<std::size_t>(i)], images[0]) << ids[i];
    ExpectNoTableFilesLeft();
}

// Many workers asking at once: each model's plan is built once and the same
// plan handed to all; a model whose plan fails answers null to every one.
TEST_F(UpgradeFileTest, PlanSetBuildsEachModelOnceForAllItsWorkers) {
    UseConfig(ModelSection("GOOD", {{148, "0x1380000", 2}, {144, "0x13c0000", 3}, {145, "0x13b0000", 4}}) +
              ModelSection("OTHER", {{149, "0x1390000", 2}}) +
              ModelSection("BAD", {{149, "0x1390000", 2}, {999, "0x1380000", 2}}));
    CBurnPlanSet plans;
    const wchar_t* asked[] = {L"GOOD", L"OTHER", L"BAD", L"GOOD", L"BAD", L"GOOD", L"OTHER", L"GOOD"};
    std::vector<std::shared_ptr<const CUpgradeFile>> answers(std::size(asked));
    std::vector<std::thread> workers;
    for (std::size_t i = 0; i < std::size(asked); ++i)
        workers.emplace_back([&, i] { answers[i] = plans.GetPlan(asked[i]); });
    for (auto& worker : workers) worker.join();

    EXPECT_EQ(plans.GetBuildCount(), 3);
    for (std::size_t i = 0; i < std::size(asked); ++i) {
        const std::wstring model = asked[i];
        if (model == L"BAD") {
            EXPECT_EQ(answers[i], nullptr) << i;
            continue;
        }
        ASSERT_NE(answers[i], nullptr) << i;
        EXPECT_EQ(answers[i], model == L"GOOD" ? answers[0] : answers[1]) << i;
    }
    ASSERT_EQ(Regions(*answers[0]).size(), 3u);
    // The XML region is the embedded resource itself, not a copy; the
    // manifest it describes is the plan's own.
    ResourceBytes xml;
    ASSERT_TRUE(FindResourceBytes(L"UPGRADEFILE", 144, xml));
    EXPECT_EQ(Regions(*answers[0])[1]->GetData(), xml.data);
    EXPECT_EQ(U32(Regions(*answers[0])[2]->GetData() + 28), xml.size);
    EXPECT_EQ(plans.GetPlan(L"BAD"), nullptr);
    EXPECT_EQ(plans.GetBuildCount(), 3) << "a failed model is not built again";
    ExpectNoTableFilesLeft();
}

TEST_F(UpgradeFileTest, DeviceIdentifierCannotMoveTableFilesOutOfTheFolder) {
    UseShippedConfig();
    CUpgradeFile plan;
    ASSERT_TRUE(plan.LoadBurnList(L"ORV-2C", "../../escape/\x01"));
    ASSERT_TRUE(plan.PrepareBurnFiles());
    EXPECT_EQ(Regions(plan).size(), 11u);
    for (const auto& entry : fs::recursive_directory_iterator(m_runtime.Path()))
        EXPECT_TRUE(entry.path() == TempDir() || entry.path().parent_path() == TempDir()) << entry.path();
    EXPECT_FALSE(fs::exists(m_runtime.Path().parent_path() / "escape"));
}
