// The upgrade worker against the simulated producer: every status it can
// leave, the flags, and what reached the camera (the simulator's event record
// and flash files).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <thread>

#include "testbed/Cameras.h"
#include "testbed/Files.h"
#include "testbed/Process.h"
#include "camera/DeviceManager.h"
#include "package/BurnPlans.h"
#include "package/PackageConfig.h"
#include "package/Resources.h"
#include "package/UpgradeFile.h"
#include "support/Platform.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::SimulatedCameras;

std::string Narrow(const std::wstring& text) { return platform::WideToAnsi(text); }

std::string ShippedConfig() {
    CSourceFile source;
    if (!GetResourceData(package::kConfigResourceType, package::kConfigResourceId, source))
        throw std::runtime_error("no CONFIG resource");
    return std::string(reinterpret_cast<const char*>(source.GetData()), source.GetSize());
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    if (at == std::string::npos) throw std::runtime_error("not in the configuration: " + from);
    return text.replace(at, from.size(), to);
}

using ConfigEdit = std::function<std::string(std::string)>;

// Address and bytes of each region of a model's plan, in burn order.
struct PlannedRegion {
    std::uint64_t address;
    std::int32_t fileType;
    std::vector<std::uint8_t> bytes;
};

std::vector<PlannedRegion> Plan(const std::wstring& model, const char* deviceId) {
    CUpgradeFile plan;
    std::vector<PlannedRegion> regions;
    if (!plan.LoadBurnList(model, deviceId) || !plan.PrepareBurnFiles()) return regions;
    std::vector<CRegion*> pointers;
    plan.GetRegions(pointers);
    for (const CRegion* region : pointers)
        regions.push_back({region->GetAddress(), region->GetFileType(),
                           std::vector<std::uint8_t>(region->GetData(), region->GetData() + region->GetSize())});
    return regions;
}

std::uint64_t EventAddress(const json& event) {
    return std::stoull(event.at("address").get<std::string>(), nullptr, 16);
}

// One producer with cameras, the run's package configuration written (or a
// changed copy of it), and the cameras enumerated.
class UpgradeWorkerTest : public ::testing::Test {
protected:
    void Load(const json& description, const ConfigEdit& edit = nullptr,
              testbed::ProducerBuild producer = testbed::ProducerBuild::kWithUpgradeExtensions) {
        m_sim = std::make_unique<SimulatedCameras>(description, producer);
        if (edit) {
            m_configPath = m_sim->StateFolder() / "Config.ini";
            std::ofstream(m_configPath, std::ios::binary) << edit(ShippedConfig());
            package::SetPackageConfigPath(platform::FromNativePath(m_configPath.string()));
        } else {
            std::wstring path;
            ASSERT_EQ(package::WriteRunPackageConfig(path), package::ERunConfigResult::kWritten);
            m_configPath = platform::ToNativePath(path);
        }
        ASSERT_TRUE(m_manager.InitEnvironment(L"ZvU3VTL.cti")) << Narrow(m_manager.GetErrorText());
        ASSERT_TRUE(m_manager.UpdateDeviceList()) << Narrow(m_manager.GetErrorText());
    }

    void TearDown() override {
        m_manager.ReleaseEnvironment();
        std::error_code ignored;
        if (!m_configPath.empty()) std::filesystem::remove(m_configPath, ignored);
    }

    CU3VDevice* Find(const std::string& deviceId) {
        for (CU3VDevice* camera : m_manager.GetDeviceList())
            if (camera->GetDeviceID() == deviceId) return camera;
        return nullptr;
    }

    static void RunToEnd(CU3VDevice& camera) {
        camera.StartUpgrade();
        camera.GetThread()->Join();
    }

    std::vector<json> Calls(const std::string& deviceId, std::initializer_list<const char*> calls) {
        std::vector<json> selected;
        for (json& event : m_sim->Events({.deviceId = deviceId})) {
            for (const char* call : calls)
                if (event["call"] == call) selected.push_back(event);
        }
        return selected;
    }

    std::unique_ptr<SimulatedCameras> m_sim;
    CDeviceManager m_manager;
    std::filesystem::path m_configPath;
};

struct WorkerCase {
    const char* name;
    json faults;        // merged into the camera's faults
    json camera;        // merged into the camera
    ConfigEdit config;  // changes the shipped package configuration
    std::int32_t status;
    bool entered;  // upgrade mode was entered
    bool inUpgradeModeAfter;
    bool writeFailure;
    bool openedAfter;
    std::optional<std::uint64_t> failedWriteAt;
    int writesAttempted;  // -1: every region
    int leaves;
    std::optional<std::wstring> errorText;
};

std::string WithoutElfFlag(std::string config) { return Replace(std::move(config), "\r\nORV-2C=1\r\n", "\r\n"); }
std::string OldFiles(std::string config) { return Replace(std::move(config), "\r\nORV-2C=1\r\n", "\r\nORV-2C=0\r\n"); }

// One case per row, kept as written: the formatter would put each field on a line of its own.
// clang-format off
const WorkerCase kCases[] = {
    {"Success", {}, {}, nullptr, 0, true, false, false, false, std::nullopt, -1, 1, L"Success"},
    {"SuccessEvenWhenCloseFails", {{"close", true}}, {}, nullptr, 0, true, false, false, true,
     std::nullopt, -1, 1, L"Success"},
    {"EnterFails", {{"enter", true}}, {}, nullptr, 5, false, false, false, false, std::nullopt, 0,
     0, std::nullopt},
    {"LeaveFails", {{"leave", true}}, {}, nullptr, 9, true, true, true, false, std::nullopt, -1, 2,
     L""},
    {"ModelNotInPackage", {}, {{"model", "ORV-9X"}}, nullptr, 11, false, false, false, false,
     std::nullopt, 0, 0, L""},
    {"FirmwareMajorMismatch", {}, {{"firmware_version", "V01.04.001.002:V01.05"}}, nullptr, 13,
     true, false, false, false, std::nullopt, 0, 1, L"Success"},
    {"FirmwareWithoutColon", {}, {{"firmware_version", "V01.03.001.002"}}, nullptr, 13, true,
     false, false, false, std::nullopt, 0, 1, L"Success"},
    {"FirmwareMismatchAndLeaveFails", {{"leave", true}},
     {{"firmware_version", "V01.03.001.002:V02.05"}}, nullptr, 9, true, true, true, false,
     std::nullopt, 0, 1, L"Failed to exit upgrade mode"},
    {"FirmwareMismatchAndCloseFails", {{"close", true}},
     {{"firmware_version", "V01.04.001.002:V01.05"}}, nullptr, 17, true, false, false, true,
     std::nullopt, 0, 1, L"Success"},
    {"PlaceholderFirmwarePassesMajorTest", {}, {{"firmware_version", "55.55.255.255:V01.05"}},
     nullptr, 0, true, false, false, false, std::nullopt, -1, 1, L"Success"},
    {"FpgaWriteFails", {{"write_fails_at", "0x1200000"}}, {}, nullptr, 23, true, false, true,
     false, 0x1200000, 1, 1, L"Success"},
    {"FirmwareWriteFails", {{"write_fails_at", "0x12f0000"}}, {}, nullptr, 22, true, false, true,
     false, 0x12f0000, 2, 1, L"Success"},
    {"TableWriteFails", {{"write_fails_at", "0x13f7000"}}, {}, nullptr, 24, true, false, true,
     false, 0x13f7000, 3, 1, L"Success"},
    {"ManifestWriteFails", {{"write_fails_at", "0x13b0000"}}, {}, nullptr, 24, true, false, true,
     false, 0x13b0000, 7, 1, L"Success"},
    {"WriteAndLeaveFail", {{"write_fails_at", "0x13c0000"}, {"leave", true}}, {}, nullptr, 24,
     true, true, true, false, 0x13c0000, 6, 1, L""},
    {"FlashVendorReadFails", {{"vendor_read", -1010}}, {}, nullptr, 29, false, false, false,
     false, std::nullopt, 0, 0, L""},
    {"ElfFlagMissing", {}, {}, WithoutElfFlag, 30, false, false, false, false, std::nullopt, 0, 0,
     L""},
    {"OtherFlashWithOldFiles", {}, {{"flash_vendor", 0x20}}, OldFiles, 31, false, false, false,
     false, std::nullopt, 0, 0, L""},
    {"OtherFlashWithNewFiles", {}, {{"flash_vendor", 0x20}}, nullptr, 0, true, false, false,
     false, std::nullopt, -1, 1, L"Success"},
    {"NoVendorRegisterWithOldFiles", {}, {{"flash_vendor", "none"}}, OldFiles, 0, true, false,
     false, false, std::nullopt, -1, 1, L"Success"},
    {"OriginalFlashWithOldFiles", {}, {}, OldFiles, 0, true, false, false, false, std::nullopt,
     -1, 1, L"Success"},
    // A package version part of 16 characters does not fit its field: the
    // check fails rather than comparing a cut part (which would match here).
    {"FirmwarePartTooLong", {}, {{"firmware_version", "V01.0123456789ABCDE.1:V01"}},
     [](std::string c) { return Replace(c, "FIRMWARE_VERSION=03_01", "FIRMWARE_VERSION=0123456789ABCDEF_01"); },
     13, true, false, false, false, std::nullopt, 0, 1, L"Success"},
    {"FirmwarePartOfFifteenFits", {}, {{"firmware_version", "V01.0123456789ABCDE.1:V01"}},
     [](std::string c) { return Replace(c, "FIRMWARE_VERSION=03_01", "FIRMWARE_VERSION=0123456789ABCDE_01"); },
     0, true, false, false, false, std::nullopt, -1, 1, L"Success"},
};
// clang-format on

class UpgradeStatusTest : public UpgradeWorkerTest, public ::testing::WithParamInterface<WorkerCase> {};

TEST_P(UpgradeStatusTest, LeavesStatusFlagsAndCameraAsExpected) {
    const WorkerCase& c = GetParam();
    json camera = Camera("W1");
    for (auto& [key, value] : c.camera.items()) camera[key] = value;
    if (!c.faults.is_null()) camera["faults"] = c.faults;
    Load(Description({camera}), c.config);
    const std::string id = testbed::DeviceId(camera);
    CU3VDevice* device = Find(id);
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->IsOpened());
    const std::vector<PlannedRegion> plan = Plan(platform::AnsiToWide(camera["model"].get<std::string>()), id.c_str());

    ::testing::internal::CaptureStderr();
    RunToEnd(*device);
    const std::string debugOutput = ::testing::internal::GetCapturedStderr();

    EXPECT_EQ(device->GetStatusCode(), c.status);
    EXPECT_EQ(device->GetStatusText(), GetStatusCodeText(c.status));
    EXPECT_TRUE(device->IsUpgradeStarted());
    EXPECT_FALSE(device->IsRunning());
    EXPECT_EQ(device->IsInUpgradeMode(), c.inUpgradeModeAfter);
    EXPECT_EQ(device->HasWriteFailure(), c.writeFailure);
    EXPECT_EQ(device->IsOpened(), c.openedAfter);
    EXPECT_EQ(device->GetDeviceHandle() != nullptr, c.openedAfter);
    if (c.errorText) {
        EXPECT_EQ(device->GetErrorText(), *c.errorText);
    }
    // The plan is let go with the close; a camera left open keeps it.
    EXPECT_EQ(device->GetUpgradeFile() != nullptr, c.openedAfter && c.status != StatusCode::kUpgradeFileParsingFailure);

    const std::vector<json> events =
        Calls(id, {"DPEnterUpgradeMode", "DPWriteUpgradeFile", "DPLeaveUpgradeMode", "DevClose"});
    std::vector<json> enters, writes, leaves;
    for (const json& e : events) {
        if (e["call"] == "DPEnterUpgradeMode") enters.push_back(e);
        if (e["call"] == "DPWriteUpgradeFile") writes.push_back(e);
        if (e["call"] == "DPLeaveUpgradeMode") leaves.push_back(e);
    }
    EXPECT_EQ(!enters.empty() && enters.back()["result"] == 0, c.entered);
    const std::size_t expectedWrites = c.writesAttempted < 0 ? plan.size() : c.writesAttempted;
    ASSERT_EQ(writes.size(), expectedWrites);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        EXPECT_EQ(EventAddress(writes[i]), plan[i].address) << i;
        EXPECT_EQ(writes[i]["size"], plan[i].bytes.size()) << i;
        const bool failed = c.failedWriteAt && i + 1 == writes.size();
        EXPECT_EQ(writes[i]["result"] != 0, failed) << i;
        // The flash holds exactly the regions that were written.
        EXPECT_EQ(m_sim->Flash(id, plan[i].address).has_value(), !failed) << i;
    }
    if (c.failedWriteAt) {
        EXPECT_EQ(EventAddress(writes.back()), *c.failedWriteAt);
    }
    EXPECT_EQ(m_sim->FlashAddresses(id).size(), c.failedWriteAt ? expectedWrites - 1 : expectedWrites);
    EXPECT_EQ(leaves.size(), static_cast<std::size_t>(c.leaves));
    if (c.entered) {
        // Upgrade mode is left after everything written, and the camera closed last.
        ASSERT_FALSE(leaves.empty());
        EXPECT_GT(leaves.front()["ts_us"].get<std::int64_t>(),
                  (writes.empty() ? enters.back() : writes.back())["ts_us"].get<std::int64_t>());
        EXPECT_EQ(events.back()["call"], "DevClose");
    }
    if (c.status == StatusCode::kEnterUpgradeModeError) {
        EXPECT_NE(device->GetErrorText().find(L"{CU3VDevice::__EnterUpgradeMode:line[558]}{{"), std::wstring::npos)
            << Narrow(device->GetErrorText());
        if (testbed::DebuggerOutputGoesToStandardError()) {
            EXPECT_NE(debugOutput.find("{CU3VDevice::__EnterUpgradeMode:line[564]}{{"), std::string::npos)
                << debugOutput;
        }
    } else {
        EXPECT_EQ(debugOutput, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, UpgradeStatusTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpgradeWorkerTest, CameraThatCouldNotOpenShowsOpenDeviceError) {
    json camera = Camera("W1");
    camera["faults"] = {{"open", -1004}};
    Load(Description({camera}));
    EXPECT_EQ(Find("SIM-W1")->GetStatusCode(), 2);
    EXPECT_EQ(Find("SIM-W1")->GetStatusText(), L"Open device error");
}

TEST_F(UpgradeWorkerTest, ThreadThatCannotStartLeavesStatus15) {
    Load(Description({Camera("W1")}));
    CU3VDevice* device = Find("SIM-W1");
    platform::testing::FailNextThreadCreation();
    device->StartUpgrade();
    EXPECT_EQ(device->GetStatusCode(), 15);
    EXPECT_EQ(device->GetStatusText(), L"");
    EXPECT_FALSE(device->IsRunning());
    EXPECT_FALSE(device->IsUpgradeStarted());
    EXPECT_FALSE(device->GetThread()->IsRunning());
    EXPECT_TRUE(device->IsOpened());
    EXPECT_TRUE(Calls("SIM-W1", {"DPEnterUpgradeMode"}).empty());
}

TEST_F(UpgradeWorkerTest, StartWhileTheWorkerRunsLeavesStatus15AndNoSecondThread) {
    json camera = Camera("W1");
    camera["write_bytes_per_second"] = 1.0e6;  // about a second of writing
    Load(Description({camera}));
    CU3VDevice* device = Find("SIM-W1");
    device->StartUpgrade();
    while (!device->IsRunning() && device->GetThread()->IsRunning())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(device->GetThread()->IsRunning());
    device->StartUpgrade();
    EXPECT_EQ(device->GetStatusCode(), 15);
    device->GetThread()->Join();
    EXPECT_EQ(device->GetStatusCode(), 0);
    EXPECT_EQ(Calls("SIM-W1", {"DPEnterUpgradeMode"}).size(), 1u);
}

TEST_F(UpgradeWorkerTest, ProducerWithoutExtensionsFailsOnlyTheUpgrade) {
    Load(Description({Camera("W1")}), nullptr, testbed::ProducerBuild::kWithoutUpgradeExtensions);
    CU3VDevice* device = Find("SIM-W1");
    ASSERT_TRUE(device->IsOpened());
    ::testing::internal::CaptureStderr();
    RunToEnd(*device);
    const std::string debugOutput = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(device->GetStatusCode(), 5);
    EXPECT_EQ(device->GetErrorText().rfind(L"{-1}{CU3VDevice::__EnterUpgradeMode:line[558]}{{", 0), 0u)
        << Narrow(device->GetErrorText());
    if (testbed::DebuggerOutputGoesToStandardError()) {
        EXPECT_EQ(debugOutput.rfind("{-1}{CU3VDevice::__EnterUpgradeMode:line[564]}{{", 0), 0u);
    }
    EXPECT_FALSE(device->IsInUpgradeMode());
    EXPECT_FALSE(device->IsOpened());
}

TEST_F(UpgradeWorkerTest, SecondRunAfterAFailedLeaveSkipsEnteringAgain) {
    json camera = Camera("W1");
    camera["faults"] = {{"leave", true}, {"close", true}};
    camera["firmware_version"] = "V01.04.001.002:V01.05";
    Load(Description({camera}));
    CU3VDevice* device = Find("SIM-W1");
    RunToEnd(*device);
    EXPECT_EQ(device->GetStatusCode(), 9);
    ASSERT_TRUE(device->IsInUpgradeMode());
    // The failed close still forgets the handle: the write-failure flag was set.
    EXPECT_FALSE(device->IsOpened());
    RunToEnd(*device);
    EXPECT_EQ(Calls("SIM-W1", {"DPEnterUpgradeMode"}).size(), 1u);
    EXPECT_EQ(device->GetStatusCode(), 9);
}

TEST_F(UpgradeWorkerTest, ReenumerationRefreshesUpgradedCameras) {
    json upgraded = Camera("W1");
    upgraded["after_upgrade"] = {
        {"firmware_version", "V01.03.002.001:V01.06"}, {"device_version", "1.1_2.1_2.1"}, {"xml_version", {1, 0, 4}}};
    Load(Description({upgraded, Camera("W2")}));
    CU3VDevice* device = Find("SIM-W1");
    RunToEnd(*device);
    ASSERT_EQ(device->GetStatusCode(), 0);
    EXPECT_FALSE(device->IsOpened());

    bool back = false;
    for (int poll = 0; poll < 200 && !back; ++poll) {
        back = m_manager.CheckReenumeration() && Find("SIM-W1")->IsOpened();
        if (!back) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_manager.ClearReDeviceList();
    ASSERT_TRUE(back);
    const DeviceInfo info = device->GetDeviceInfo();
    EXPECT_EQ(FieldText(info.firmwareVersion), "V01.03.002.001:V01.06");
    EXPECT_EQ(FieldText(info.deviceVersion), "1.1_2.1_2.1");
    EXPECT_EQ(FieldText(info.xmlVersion), "1.0.4");
    EXPECT_EQ(device->GetStatusCode(), 0);  // the status is the run's
    EXPECT_EQ(FieldText(Find("SIM-W2")->GetDeviceInfo().firmwareVersion), "V01.03.001.002:V01.05");
}

// Eight cameras, two of each model, at once, sharing one plan per model as a
// run does: each flash holds exactly its model's plan, byte for byte, as the
// command-line tool prints it, written in plan order.
TEST_F(UpgradeWorkerTest, CamerasSharingOnePlanPerModelWriteExactlyThatPlan) {
    const char* models[] = {"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"};
    std::vector<json> cameras;
    for (int i = 0; i < 8; ++i) {
        cameras.push_back(Camera("Q" + std::to_string(i), models[i % 4]));
        cameras.back()["write_bytes_per_second"] = 8.0e6;
    }
    Load(Description(cameras));
    std::vector<CU3VDevice*> devices;
    for (const json& camera : cameras) devices.push_back(Find(testbed::DeviceId(camera)));
    auto plans = std::make_shared<CBurnPlanSet>();
    for (CU3VDevice* device : devices) {
        ASSERT_NE(device, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        device->StartUpgrade(plans);
    }
    for (CU3VDevice* device : devices) device->GetThread()->Join();
    EXPECT_EQ(plans->GetBuildCount(), 4);

    for (int i = 0; i < 8; ++i) {
        const std::string id = testbed::DeviceId(cameras[i]);
        SCOPED_TRACE(id);
        EXPECT_EQ(devices[i]->GetStatusCode(), 0);
        EXPECT_TRUE(devices[i]->HasWrittenFlash());
        EXPECT_EQ(devices[i]->GetUpgradeFile(), nullptr) << "let go with the close";

        const std::filesystem::path planDir = m_sim->StateFolder() / ("plan-" + std::string(models[i % 4]));
        if (i < 4) {
            const testbed::ProcessResult plan =
                testbed::RunCli(std::string("package plan ") + models[i % 4] + " -o '" + planDir.string() + "'");
            ASSERT_EQ(plan.exitCode, 0) << plan.err;
        }
        std::vector<std::filesystem::path> planFiles;
        for (const auto& entry : std::filesystem::directory_iterator(planDir)) planFiles.push_back(entry.path());
        std::sort(planFiles.begin(), planFiles.end());  // NN-0xADDRESS.bin in plan order
        ASSERT_EQ(planFiles.size(), 11u);

        std::vector<std::uint64_t> planAddresses;
        for (const std::filesystem::path& file : planFiles) {
            const std::string name = file.stem().string();
            const std::uint64_t address = std::stoull(name.substr(name.find('-') + 1), nullptr, 16);
            planAddresses.push_back(address);
            const auto flash = m_sim->Flash(id, address);
            ASSERT_TRUE(flash.has_value()) << name;
            EXPECT_TRUE(*flash == testbed::ReadBytes(file)) << name;
        }
        std::vector<std::uint64_t> written;
        for (const json& e : Calls(id, {"DPWriteUpgradeFile"})) {
            EXPECT_EQ(e["result"], 0);
            written.push_back(EventAddress(e));
        }
        EXPECT_EQ(written, planAddresses);
        std::vector<std::uint64_t> flashAddresses = m_sim->FlashAddresses(id);
        std::sort(planAddresses.begin(), planAddresses.end());
        EXPECT_EQ(flashAddresses, planAddresses);
    }
}

}  // namespace
