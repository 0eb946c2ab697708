#include <gtest/gtest.h>

#include <limits>

#include "CodePage936.h"
#include "PackageEnvironment.h"
#include "package/IniFile.h"
#include "package/PackageConfig.h"
#include "package/Resources.h"
#include "support/Platform.h"

namespace fs = std::filesystem;

namespace {

class PackageConfigTest : public PackageEnvironment {
protected:
    std::wstring WriteIni(const std::string& text, const std::string& name = "test.ini") {
        return platform::FromNativePath(m_scratch.Write(name, text).string());
    }
    // Makes the file the run's package configuration, as an upgrade run does.
    void UseAsRunConfig(const std::string& text) { package::SetPackageConfigPath(WriteIni(text, "run.ini")); }
};

std::vector<std::wstring> Models(std::initializer_list<const wchar_t*> names) { return {names.begin(), names.end()}; }

}  // namespace

TEST_F(PackageConfigTest, StartUpReadsTheShippedModelsAndDeletesTheFile) {
    std::vector<std::wstring> models{L"stale"};
    ASSERT_TRUE(LoadPackageConfig(models));
    EXPECT_EQ(models, Models({L"ORV-2C", L"ORV-2C-L", L"ORV-2M", L"ORV-2M-L"}));
    EXPECT_TRUE(fs::is_directory(TempDir()));
    EXPECT_FALSE(fs::exists(TempDir() / "Config.ini"));
}

TEST_F(PackageConfigTest, StartUpFailsWhenTheFileCannotBeWritten) {
    fs::create_directories(TempDir() / "Config.ini");  // a folder where the file should go
    std::vector<std::wstring> models;
    EXPECT_FALSE(LoadPackageConfig(models));
}

TEST_F(PackageConfigTest, ShippedFileKeepsItsExactForm) {
    const auto bytes = ReadBytes(fs::path(FLASHWRIGHT_PACKAGE_DATA_DIR) / "Config.ini");
    const std::string text(bytes.begin(), bytes.end());
    // Every line ends in CR LF.
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    }
    EXPECT_NE(text.find("\r\nSourceID5=144  \r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\n; Binary File: 0   Img File: 1  Csv File: 2  XML File: 3  ManifestTable File: 4\r\n"),
              std::string::npos);
    const std::size_t comment = text.find("\r\n;", text.find("[DeviceModel]")) + 2;
    const std::string line = text.substr(comment, text.find("\r\n", comment) - comment);
    EXPECT_EQ(FromCodePage936(line),
              ";\u8BBE\u5907\u578B\u53F7\u5BF9\u5E94\u7684\u6587\u4EF6\u65B0\u65E7\uFF0C\u65B0\u4E3A1\uFF1B"
              "\u65E7\u4E3A0\uFF0C\u9700\u8981\u4E0E\u8BBE\u5907\u578B\u53F7\u76F8\u5BF9\u5E94");

    // The two blanks read away; the run's reads see every model's section.
    UseAsRunConfig(text);
    CINIFileBase reader;
    std::int32_t value = 0;
    ASSERT_TRUE(reader.ReadInt(package::GetPackageConfigPath(), L"SourceID5", L"ORV-2C", value));
    EXPECT_EQ(value, 144);
    for (const wchar_t* model : {L"ORV-2C", L"ORV-2C-L", L"ORV-2M", L"ORV-2M-L"}) {
        ASSERT_TRUE(GetElfVersion(model, value));
        EXPECT_EQ(value, 1);
        std::wstring version;
        ASSERT_TRUE(reader.ReadString(model, L"FIRMWARE_VERSION", package::GetPackageConfigPath(), version));
        EXPECT_EQ(version, L"03_01");
    }
}

TEST_F(PackageConfigTest, ModelListEdgeCases) {
    const struct {
        const char* name;
        const char* ini;
        bool ok;
        std::vector<std::wstring> models;
    } cases[] = {
        {"zero", "[DeviceTotal]\r\nTotal=0\r\n[DeviceModel]\r\nDeviceModel0=A\r\n", true, {}},
        {"negative", "[DeviceTotal]\r\nTotal=-3\r\n[DeviceModel]\r\nDeviceModel0=A\r\n", true, {}},
        {"fewer",
         "[DeviceTotal]\nTotal=3\n[DeviceModel]\nDeviceModel0=A\nDeviceModel1=B\nDeviceModel2=C\n"
         "DeviceModel3=D\n",
         true, Models({L"A", L"B", L"C"})},
        {"gap", "[DeviceTotal]\nTotal=3\n[DeviceModel]\nDeviceModel0=A\nDeviceModel2=C\n", true, Models({L"A", L"C"})},
        {"case", "[devicetotal]\nTOTAL=2\n[DEVICEMODEL]\ndevicemodel1=b\nDeviceModel0=a\n", true, Models({L"a", L"b"})},
        {"skipped values",
         "[DeviceTotal]\nTotal=4\n[DeviceModel]\nDeviceModel0=Not Found\nDeviceModel1=\n"
         "DeviceModel2 =  spaced  \nDeviceModel03=leading zero\n",
         true, Models({L"spaced"})},
        {"first entry wins",
         "[DeviceTotal]\nTotal=1\n[DeviceModel]\nDeviceModel0=first\nDeviceModel0=second\n"
         "[DeviceModel]\nDeviceModel0=third\n",
         true, Models({L"first"})},
        {"no continuation lines", "[DeviceTotal]\nTotal=2\n[DeviceModel]\nDeviceModel0=A\n  DeviceModel1=B ; x\n", true,
         Models({L"A", L"B ; x"})},
        {"missing total", "[DeviceTotal]\n[DeviceModel]\nDeviceModel0=A\n", false, {}},
        {"total minus one", "[DeviceTotal]\nTotal=-1\n", false, {}},
        {"empty file", "", false, {}},
    };
    for (const auto& c : cases) {
        std::vector<std::wstring> models{L"stale"};
        EXPECT_EQ(ReadDeviceModels(WriteIni(c.ini), models), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(models, c.models) << c.name;
        }
    }
    std::vector<std::wstring> models;
    EXPECT_FALSE(ReadDeviceModels(platform::FromNativePath((m_scratch.Path() / "missing.ini").string()), models));
}

TEST_F(PackageConfigTest, IntegersFollowTheWindowsProfileRules) {
    const struct {
        const char* value;
        bool ok;
        std::int32_t result;
    } cases[] = {
        {"144", true, 144},  {"  144  ", true, 144}, {"+7", true, 7},          {"-5", true, -5},
        {"12abc", true, 12}, {"abc", true, 0},       {"0x1F", true, 31},       {"4294967297", true, 1},
        {"-1", false, 0},    {"", false, 0},         {"4294967295", false, 0},  // wraps to -1, which reads as missing
    };
    for (const auto& c : cases) {
        const std::wstring path = WriteIni(std::string("[S]\nkey=") + c.value + "\n");
        std::int32_t value = 12345;
        EXPECT_EQ(CINIFileBase().ReadInt(path, L"KEY", L"s", value), c.ok) << c.value;
        if (c.ok) {
            EXPECT_EQ(value, c.result) << c.value;
        }
    }
    std::int32_t value = 0;
    EXPECT_FALSE(CINIFileBase().ReadInt(WriteIni("[S]\nother=1\n"), L"key", L"S", value));
    EXPECT_FALSE(CINIFileBase().ReadInt(L"/nonexistent/file.ini", L"key", L"S", value));
}

TEST_F(PackageConfigTest, AddressesReadAsSignedBase16FromTheRunFile) {
    const struct {
        const char* value;
        bool ok;
        std::int32_t result;
    } cases[] = {
        {"0x1200000", true, 0x1200000},
        {"1200000", true, 0x1200000},
        {"0X13f7000", true, 0x13F7000},
        {"  0x13e5000  ", true, 0x13E5000},
        {"12zz", true, 0x12},
        {"zz", true, 0},
        {"0x", true, 0},
        {"FFFFFFFF", true, std::numeric_limits<std::int32_t>::max()},
        {"-10", true, -16},
        {"-FFFFFFFFF", true, std::numeric_limits<std::int32_t>::min()},
        {"Not Found", false, 0},
        {"", false, 0},
    };
    for (const auto& c : cases) {
        UseAsRunConfig(std::string("[ORV-2C]\r\nAddress0=") + c.value + "\r\n");
        std::int32_t value = 12345;
        EXPECT_EQ(CINIFileBase().ReadHex(L"address0", L"orv-2c", value), c.ok) << c.value;
        if (c.ok) {
            EXPECT_EQ(value, c.result) << c.value;
        }
    }
    package::SetPackageConfigPath(L"");
    std::int32_t value = 0;
    EXPECT_FALSE(CINIFileBase().ReadHex(L"Address0", L"ORV-2C", value));
}

TEST_F(PackageConfigTest, StringsAreCutAt259CharactersAndMissingFilesReadNothing) {
    const std::string longValue(300, 'v');
    const std::wstring path = WriteIni("[S]\nlong=" + longValue + "\nmodel=ORV-2C\n");
    std::wstring value;
    ASSERT_TRUE(CINIFileBase().ReadString(L"S", L"long", path, value));
    EXPECT_EQ(value, std::wstring(259, L'v'));
    ASSERT_TRUE(CINIFileBase().ReadString(L"S", L"model", path, value));
    EXPECT_EQ(value, L"ORV-2C");
    EXPECT_FALSE(CINIFileBase().ReadString(L"S", L"model", path + L".missing", value));
    EXPECT_FALSE(CINIFileBase().ReadString(L"T", L"model", path, value));
}

TEST_F(PackageConfigTest, ElfVersionComesFromTheRunFile) {
    std::int32_t value = -7;
    EXPECT_FALSE(GetElfVersion(L"ORV-2C", value));  // no run yet
    UseAsRunConfig("[ELF_VERSION]\r\nORV-2C=0\r\nORV-2M=1\r\n");
    ASSERT_TRUE(GetElfVersion(L"ORV-2C", value));
    EXPECT_EQ(value, 0);
    ASSERT_TRUE(GetElfVersion(L"orv-2m", value));  // the profile rules ignore case
    EXPECT_EQ(value, 1);
    EXPECT_FALSE(GetElfVersion(L"ORV-2C-L", value));
}

TEST_F(PackageConfigTest, RunWritesTheResourceAndRecordsItsPath) {
    std::wstring path;
    ASSERT_EQ(package::WriteRunPackageConfig(path), package::ERunConfigResult::kWritten);
    EXPECT_EQ(fs::path(platform::ToNativePath(path)), TempDir() / "Config.ini");
    EXPECT_EQ(package::GetPackageConfigPath(), path);
    CSourceFile resource;
    ASSERT_TRUE(GetResourceData(L"CONFIG", 131, resource));
    EXPECT_EQ(ReadBytes(platform::ToNativePath(path)),
              std::vector<std::uint8_t>(resource.GetData(), resource.GetData() + resource.GetSize()));

    package::SetPackageConfigPath(L"");
    fs::remove(TempDir() / "Config.ini");
    fs::create_directory(TempDir() / "Config.ini");
    EXPECT_EQ(package::WriteRunPackageConfig(path), package::ERunConfigResult::kWriteFailed);
    EXPECT_TRUE(package::GetPackageConfigPath().empty());
}
