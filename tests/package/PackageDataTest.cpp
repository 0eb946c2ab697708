#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "PackageEnvironment.h"
#include "package/CsvToData.h"
#include "package/PackageConfig.h"
#include "package/Release.h"
#include "package/Resources.h"
#include "package/TempFiles.h"
#include "support/Platform.h"

namespace fs = std::filesystem;

namespace {

const fs::path kDataDir = FLASHWRIGHT_PACKAGE_DATA_DIR;

struct ListedResource {
    std::string type;
    int id;
    std::string file;
};

std::vector<ListedResource> ReadResourceList() {
    std::ifstream in(kDataDir / "resources.list");
    std::vector<ListedResource> out;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        ListedResource r;
        fields >> r.type >> r.id >> r.file;
        out.push_back(r);
    }
    return out;
}

std::vector<std::uint8_t> Resource(int id) {
    CSourceFile source;
    if (!GetResourceData(L"UPGRADEFILE", id, source)) return {};
    return {source.GetData(), source.GetData() + source.GetSize()};
}

class PackageDataTest : public PackageEnvironment {
protected:
    // Compiles a table resource the way the burn plan does: through a file.
    std::vector<std::uint8_t> CompileResource(int id) {
        const std::vector<std::uint8_t> table = Resource(id);
        CCsvFile file(L"data" + std::to_wstring(id));
        EXPECT_TRUE(file.WriteData(table.data(), static_cast<std::uint32_t>(table.size())));
        CCSVOrTXTToData compiler;
        EXPECT_EQ(compiler.Convert(file.GetFilePath()), kCsvSuccess) << id;
        if (!compiler.HasImage()) return {};
        return {compiler.GetImage(), compiler.GetImage() + compiler.GetImageSize()};
    }
};

std::uint32_t U32(const std::vector<std::uint8_t>& image, std::size_t offset) {
    std::uint32_t v = 0;
    std::memcpy(&v, image.data() + offset, 4);
    return v;
}

std::uint64_t U64(const std::vector<std::uint8_t>& image, std::size_t offset) {
    std::uint64_t v = 0;
    std::memcpy(&v, image.data() + offset, 8);
    return v;
}

std::string Text(const std::vector<std::uint8_t>& image, std::size_t offset, std::size_t width) {
    std::string s(reinterpret_cast<const char*>(image.data() + offset), width);
    return s.substr(0, s.find('\0'));
}

// Every block of a compiled block-layout image carries a valid check value.
void ExpectValidCheckValue(const std::vector<std::uint8_t>& image, std::size_t blockOffset, std::size_t section) {
    std::uint8_t expected[4];
    StoreCheckValue(expected, CalcCRC16(image.data() + blockOffset + 4, section));
    EXPECT_EQ(std::memcmp(image.data() + blockOffset, expected, 4), 0) << "block at " << blockOffset;
}

}  // namespace

TEST_F(PackageDataTest, ResourceListNamesEveryIdOnceAndEmbedsEachFileAsItIs) {
    const auto listed = ReadResourceList();
    ASSERT_EQ(listed.size(), 46u);
    std::set<int> ids;
    for (const auto& r : listed) {
        ids.insert(r.id);
        CSourceFile source;
        ASSERT_TRUE(GetResourceData(platform::FromNativePath(r.type), r.id, source)) << r.id;
        EXPECT_EQ(std::vector<std::uint8_t>(source.GetData(), source.GetData() + source.GetSize()),
                  ReadBytes(kDataDir / r.file))
            << r.file;
    }
    EXPECT_EQ(*ids.begin(), 131);
    EXPECT_EQ(ids.count(131), 1u);
    EXPECT_EQ(ids.count(package::kReleaseResourceId), 1u);
    for (int id = 139; id <= 182; ++id) EXPECT_EQ(ids.count(id), 1u) << id;
}

TEST_F(PackageDataTest, OpaqueFilesHaveTheirShippedSizeAndHeaders) {
    for (int model = 0; model < 4; ++model) {
        const int first = 139 + 11 * model;
        const auto bitstream = Resource(first);
        ASSERT_EQ(bitstream.size(), 466408u);
        std::size_t sync = 0;
        while (sync < bitstream.size() && bitstream[sync] == 0xFF) ++sync;
        EXPECT_GT(sync, 0u);
        EXPECT_EQ(std::vector<std::uint8_t>(bitstream.begin() + sync, bitstream.begin() + sync + 4),
                  Bytes({0xAA, 0x99, 0x55, 0x66}));

        const auto firmware = Resource(first + 1);
        ASSERT_EQ(firmware.size(), 235984u);
        EXPECT_EQ(firmware[0], 'C');
        EXPECT_EQ(firmware[1], 'Y');

        const auto zip = Resource(first + 5);
        ASSERT_EQ(zip.size(), 27192u);
        EXPECT_EQ(U32(zip, 0), 0x04034B50u);                // local file header
        EXPECT_EQ(U32(zip, zip.size() - 22), 0x06054B50u);  // end of central directory
    }
}

TEST_F(PackageDataTest, TablesCompileToTheirShippedImageSizes) {
    const std::map<int, std::size_t> sizes = {{2, 3072}, {3, 20480}, {4, 3072}, {6, 76},
                                              {7, 532},  {8, 16},    {9, 72},   {10, 52}};
    std::set<std::vector<std::uint8_t>> featureTables;
    for (int model = 0; model < 4; ++model) {
        for (const auto& [position, size] : sizes) {
            const auto image = CompileResource(139 + 11 * model + position);
            EXPECT_EQ(image.size(), size) << "model " << model << " position " << position;
        }
        featureTables.insert(CompileResource(139 + 11 * model + 3));
    }
    EXPECT_EQ(featureTables.size(), 4u) << "each model has its own feature table";
    EXPECT_EQ(Resource(141), Resource(143)) << "positions 2 and 4 carry the same table";
    EXPECT_TRUE(fs::is_empty(TempDir()));
}

TEST_F(PackageDataTest, BootstrapTablesFollowTheUsb3VisionLayouts) {
    // Register offset r lies at image offset 4 + r, behind the check value.
    const auto abrm = CompileResource(146);
    ASSERT_EQ(abrm.size(), 532u);
    ExpectValidCheckValue(abrm, 0, 528);
    EXPECT_EQ(U32(abrm, 4 + 0x000), 0x00010000u);
    EXPECT_EQ(Text(abrm, 4 + 0x004, 64), "Zorvan");
    EXPECT_EQ(Text(abrm, 4 + 0x044, 64), "");  // model and serial number belong to each camera
    EXPECT_EQ(Text(abrm, 4 + 0x144, 64), "");
    EXPECT_EQ(U64(abrm, 4 + 0x1D8), 0x380000u);  // SBRM address
    EXPECT_EQ(U32(abrm, 4 + 0x20C), 0xFFFFFFFFu);

    const auto sbrm = CompileResource(148);
    ASSERT_EQ(sbrm.size(), 72u);
    EXPECT_EQ(U64(sbrm, 4 + 0x20), 0x20000u);  // SIRM address
    EXPECT_EQ(U32(sbrm, 4 + 0x28), 0x30u);     // SIRM length
    EXPECT_EQ(U64(sbrm, 4 + 0x2C), 0x21000u);  // EIRM address
    EXPECT_EQ(U32(sbrm, 4 + 0x34), 0x0Cu);     // EIRM length

    const auto sirm = CompileResource(149);
    ASSERT_EQ(sirm.size(), 52u);
    ExpectValidCheckValue(sirm, 0, 48);
    EXPECT_EQ(U32(sirm, 4 + 0x10), 52u);  // required leader size

    const auto eirm = CompileResource(147);
    ASSERT_EQ(eirm.size(), 16u);
    ExpectValidCheckValue(eirm, 0, 12);
    const auto eirmCsv = Resource(147);
    const std::string eirmText(eirmCsv.begin(), eirmCsv.end());
    std::string tail;
    for (int i = 0; i < 84; ++i) tail += ",,,,,\r\n";
    EXPECT_EQ(eirmText.substr(eirmText.size() - tail.size()), tail);
    EXPECT_NE(eirmText.substr(0, eirmText.size() - tail.size()).find("1,0x55aa,,\r\n"), std::string::npos);

    const auto manifest = CompileResource(145);
    ASSERT_EQ(manifest.size(), 76u);
    EXPECT_EQ(U64(manifest, 4), 1u);
    EXPECT_EQ(U32(manifest, 12), 0x0101000Fu);
    EXPECT_EQ(U32(manifest, 16), 0x01010400u);
    EXPECT_EQ(U64(manifest, 20), 0xD00000u);
}

TEST_F(PackageDataTest, FactoryTablesHoldThreeBlocksWithTheFactoryVersion) {
    const auto manu = CompileResource(141);
    ASSERT_EQ(manu.size(), 3072u);
    ExpectValidCheckValue(manu, 0, 764);
    // The MANU_PARAM block sits at register 0x800000: the factory version at 0x80007C.
    EXPECT_EQ(Text(manu, 0x7C, 32), "01.01.1811.9211");
    for (std::size_t i = 768; i < 1024; ++i) ASSERT_EQ(manu[i], 0xFF) << i;
    const auto implemented = CompileResource(142);
    for (std::size_t block = 0; block < 5; ++block) EXPECT_NE(implemented[block * 4096 + 4], 0xFF) << block;
}

// Every model of the package names the firmware version its cameras report
// once upgraded: the one the simulated demo cameras come back with.
TEST_F(PackageDataTest, ReleaseNamesTheVersionEveryPackageModelEndsWith) {
    package::ReleaseInfo release;
    std::string error;
    ASSERT_TRUE(package::LoadReleaseInfo(release, error)) << error;
    std::vector<std::wstring> models;
    ASSERT_TRUE(LoadPackageConfig(models));
    ASSERT_EQ(release.firmwareVersions.size(), models.size());

    std::ifstream demoFile(FLASHWRIGHT_DEMO_DESCRIPTION);
    const nlohmann::json demo = nlohmann::json::parse(demoFile);
    std::map<std::string, std::string> demoAfter;
    for (const auto& camera : demo["interfaces"][0]["cameras"])
        if (camera.contains("after_upgrade")) demoAfter[camera["model"]] = camera["after_upgrade"]["firmware_version"];
    for (const std::wstring& model : models) {
        const std::string name = platform::WideToAnsi(model);
        EXPECT_FALSE(release.FirmwareVersionOf(name).empty()) << name;
        EXPECT_EQ(release.FirmwareVersionOf(name), demoAfter[name]) << name;
    }
    EXPECT_EQ(release.FirmwareVersionOf("ORV-5M"), "");
}

TEST(ReleaseInfoTest, MalformedMetadataIsRefusedWithItsLine) {
    const struct {
        const char* text;
        const char* reason;
    } cases[] = {
        {"FirmwareVersion=V1\n", "line 1: \"FirmwareVersion\" is outside a model section"},
        {"[ORV-2C]\nFirmware=V1\n", "line 2: unknown key \"Firmware\" in section [ORV-2C]"},
        {"[ORV-2C]\nFirmwareVersion=\n", "line 2: empty FirmwareVersion in section [ORV-2C]"},
        {"[ORV-2C]\nno equals sign\n", "line 2: not a key=value line"},
    };
    for (const auto& c : cases) {
        package::ReleaseInfo info;
        std::string error;
        EXPECT_FALSE(package::ParseReleaseInfo(c.text, info, error)) << c.text;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_TRUE(info.firmwareVersions.empty());
    }
    package::ReleaseInfo info;
    std::string error;
    ASSERT_TRUE(
        package::ParseReleaseInfo("; note\n[A]\nFirmwareVersion = V01.06:X \n[B]\nFirmwareVersion=V2\n", info, error));
    EXPECT_EQ(info.FirmwareVersionOf("A"), "V01.06:X");
    EXPECT_EQ(info.FirmwareVersionOf("B"), "V2");
}
