// The device manager and the camera's opening and identity reads, against
// the simulated producer loaded through the real search.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "testbed/Cameras.h"
#include "testbed/Files.h"
#include "testbed/Process.h"
#include "camera/DeviceManager.h"
#include "support/Platform.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::json;
using testbed::SimulatedCameras;

const std::wstring kProducer = L"ZvU3VTL.cti";

#define FIELD(info, name) FieldText((info).name)

std::string Narrow(const std::wstring& text) { return platform::WideToAnsi(text); }

TEST(DeviceManagerInitTest, UnsetVariableFindsNothingEvenBesideTheProgram) {
    ASSERT_TRUE(std::filesystem::exists(testbed::BinDir() / "ZvU3VTL.cti"));
    SimulatedCameras sim(Description({Camera("A1")}));
    const testbed::ScopedEnvironment unset(platform::WideToAnsi(ProducerPathVariableName()), std::nullopt);
    CDeviceManager manager;
    EXPECT_FALSE(manager.InitEnvironment(kProducer));
    EXPECT_EQ(manager.GetErrorText(), L"Load TL library error!");
    EXPECT_FALSE(manager.IsProducerLoaded());
}

TEST(DeviceManagerInitTest, EmptyVariableSearchesTheProgramFolder) {
    SimulatedCameras sim(Description({Camera("A1")}));
    const testbed::ScopedEnvironment empty(platform::WideToAnsi(ProducerPathVariableName()), "");
    CDeviceManager manager;
    ASSERT_TRUE(manager.InitEnvironment(kProducer)) << Narrow(manager.GetErrorText());
    EXPECT_TRUE(manager.UpdateDeviceList());
    EXPECT_EQ(manager.GetDeviceList().size(), 1u);
    manager.ReleaseEnvironment();
}

TEST(DeviceManagerInitTest, EmptyNameListFindsNothing) {
    SimulatedCameras sim(Description({Camera("A1")}));
    CDeviceManager manager;
    EXPECT_FALSE(manager.InitEnvironment(L""));
    EXPECT_EQ(manager.GetErrorText(), L"Load TL library error!");
}

TEST(DeviceManagerInitTest, FileThatIsNoLibraryFailsAtInitWithMinusOne) {
    SimulatedCameras sim(Description({Camera("A1")}));
    const std::filesystem::path dir = sim.StateFolder() / "bogus";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "ZvU3VTL.cti") << "not a library";
    const testbed::ScopedEnvironment bogus(platform::WideToAnsi(ProducerPathVariableName()), dir.string());
    CDeviceManager manager;
    EXPECT_FALSE(manager.InitEnvironment(kProducer));
    EXPECT_EQ(manager.GetErrorText(), L"{-1}{CDeviceManager::InitEnvironment:line[394]}{{0}{GCGetLastError failed}}");
    EXPECT_TRUE(manager.IsProducerLoaded());
    manager.ReleaseEnvironment();
    EXPECT_FALSE(manager.IsProducerLoaded());
}

TEST(DeviceManagerInitTest, ProducerFailuresCarryTheProducerText) {
    struct Case {
        const char* fault;
        int line;
    };
    for (const Case& c : {Case{"init", 394}, Case{"tl_open", 405}}) {
        json description = Description({Camera("A1")});
        description["producer"] = {{c.fault, -1004}};
        SimulatedCameras sim(description);
        CDeviceManager manager;
        EXPECT_FALSE(manager.InitEnvironment(kProducer));
        const std::wstring prefix =
            L"{-1004}{CDeviceManager::InitEnvironment:line[" + std::to_wstring(c.line) + L"]}{{-1004}{";
        EXPECT_EQ(manager.GetErrorText().rfind(prefix, 0), 0u) << Narrow(manager.GetErrorText());
        manager.ReleaseEnvironment();
        EXPECT_FALSE(manager.IsProducerLoaded());
        if (c.line == 405) {
            // The library is closed although its transport layer never opened.
            const std::vector<json> events = sim.Events();
            ASSERT_FALSE(events.empty());
            EXPECT_EQ(events.back()["call"], "GCCloseLib");
        }
    }
}

TEST(DeviceManagerInitTest, ProducerWithoutLastErrorStillGivesACompleteText) {
    json description = Description({Camera("A1")});
    description["producer"] = {{"init", -1001}, {"last_error", false}};
    SimulatedCameras sim(description);
    CDeviceManager manager;
    EXPECT_FALSE(manager.InitEnvironment(kProducer));
    EXPECT_EQ(manager.GetErrorText().rfind(L"{-1001}{CDeviceManager::InitEnvironment:line[394]}{{", 0), 0u);
    EXPECT_NE(manager.GetErrorText().find(L"}{GCGetLastError failed}}"), std::wstring::npos)
        << Narrow(manager.GetErrorText());
    manager.ReleaseEnvironment();
}

TEST(DeviceManagerInitTest, ReleaseWithNothingLoadedChangesNothing) {
    CDeviceManager manager;
    manager.ReleaseEnvironment();
    EXPECT_FALSE(manager.IsProducerLoaded());
    EXPECT_TRUE(manager.GetDeviceList().empty());
    EXPECT_EQ(manager.GetErrorText(), L"");
}

TEST(DeviceManagerInitTest, InstanceIsCreatedOnceAndReleased) {
    CDeviceManager* first = CDeviceManager::GetInstance();
    EXPECT_EQ(CDeviceManager::GetInstance(), first);
    CDeviceManager::ReleaseInstance();
    CDeviceManager* second = CDeviceManager::GetInstance();
    EXPECT_NE(second, nullptr);
    CDeviceManager::ReleaseInstance();
}

// A loaded producer and its cameras.
class DeviceManagerTest : public ::testing::Test {
protected:
    void Load(const json& description,
              testbed::ProducerBuild producer = testbed::ProducerBuild::kWithUpgradeExtensions) {
        m_sim = std::make_unique<SimulatedCameras>(description, producer);
        ASSERT_TRUE(m_manager.InitEnvironment(kProducer)) << Narrow(m_manager.GetErrorText());
    }
    void TearDown() override { m_manager.ReleaseEnvironment(); }

    CU3VDevice* Find(const std::string& serial) {
        for (CU3VDevice* camera : m_manager.GetDeviceList())
            if (camera->GetDeviceID() == "SIM-" + serial) return camera;
        return nullptr;
    }

    std::unique_ptr<SimulatedCameras> m_sim;
    CDeviceManager m_manager;
};

TEST_F(DeviceManagerTest, ProducerErrorTextIsThatOfTheCallingThread) {
    json camera = Camera("A1");
    camera["faults"] = {{"open", -1005}};
    Load(Description({camera}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    EXPECT_EQ(GetProducerErrorText(m_manager.GetBinding()).rfind(L"{-1005}{", 0), 0u);
    // A thread on which nothing failed has no failure to report.
    std::wstring other;
    std::thread([&] { other = GetProducerErrorText(m_manager.GetBinding()); }).join();
    EXPECT_EQ(other.rfind(L"{0}{", 0), 0u) << Narrow(other);
}

TEST_F(DeviceManagerTest, ReadsIdentityAndVersions) {
    json camera = Camera("A1", "ORV-2M");
    camera["guid"] = "0123456789ABCDEF";  // 16 bytes, no terminator in the field
    camera["xml_version"] = {2, 7, 11};
    Load(Description({camera}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    CU3VDevice* device = Find("A1");
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->IsOpened());
    EXPECT_EQ(device->GetStatusCode(), -1);
    const DeviceInfo info = device->GetDeviceInfo();
    EXPECT_EQ(FIELD(info, modelName), "ORV-2M");
    EXPECT_EQ(FIELD(info, serialNumber), "A1");
    EXPECT_EQ(FIELD(info, guid), "0123456789ABCDEF");
    EXPECT_EQ(FIELD(info, deviceVersion), "1.1_2.1_2.0");
    EXPECT_EQ(FIELD(info, firmwareVersion), "V01.03.001.002:V01.05");
    EXPECT_EQ(FIELD(info, factoryVersion), "V01.00.000.001");
    EXPECT_EQ(FIELD(info, xmlVersion), "2.7.11");
    EXPECT_EQ(FIELD(info, reserved), "");
    EXPECT_EQ(device->GetErrorText(), L"");
}

TEST_F(DeviceManagerTest, AlreadyOpenAnswerCountsAsOpened) {
    json camera = Camera("A1");
    camera["faults"] = {{"open", -10006}};
    Load(Description({camera}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    CU3VDevice* device = Find("A1");
    ASSERT_NE(device, nullptr);
    EXPECT_TRUE(device->IsOpened());
    EXPECT_EQ(FIELD(device->GetDeviceInfo(), serialNumber), "A1");
}

TEST_F(DeviceManagerTest, OpenFailureLeavesTheCameraListedButNotOpened) {
    json camera = Camera("A1");
    camera["faults"] = {{"open", -1005}};
    Load(Description({camera, Camera("B2")}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    ASSERT_EQ(m_manager.GetDeviceList().size(), 2u);
    CU3VDevice* device = Find("A1");
    EXPECT_FALSE(device->IsOpened());
    EXPECT_EQ(device->GetStatusText(), L"Open device error");
    EXPECT_EQ(device->GetErrorText().rfind(L"{-1005}{CU3VDevice::OpenDevice:line[251]}{{-1005}{", 0), 0u)
        << Narrow(device->GetErrorText());
    EXPECT_EQ(FIELD(device->GetDeviceInfo(), modelName), "ORV-2C");  // read before opening
    EXPECT_TRUE(Find("B2")->IsOpened());
}

TEST_F(DeviceManagerTest, PortFailureClosesTheCameraExactlyOnce) {
    json camera = Camera("A1");
    camera["faults"] = {{"port", true}};
    Load(Description({camera}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    CU3VDevice* device = Find("A1");
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(device->IsOpened());
    EXPECT_EQ(device->GetDeviceHandle(), nullptr);
    EXPECT_EQ(device->GetStatusText(), L"Open device error");
    EXPECT_NE(device->GetErrorText().find(L"{CU3VDevice::OpenDevice:line[266]}"), std::wstring::npos);
    m_manager.ReleaseEnvironment();  // deletes the camera object
    EXPECT_EQ(m_sim->Events({.deviceId = "SIM-A1", .call = "DevClose"}).size(), 1u);
}

TEST_F(DeviceManagerTest, FailedReadsMarkOnlyTheirField) {
    json camera = Camera("A1");
    camera["faults"] = {{"read_fails", {"0x300000"}}, {"url_info", true}};
    Load(Description({camera}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    CU3VDevice* device = Find("A1");
    const DeviceInfo info = device->GetDeviceInfo();
    EXPECT_TRUE(device->IsOpened());
    EXPECT_EQ(FIELD(info, firmwareVersion), "Invalid");
    EXPECT_EQ(FIELD(info, xmlVersion), "Invalid");
    EXPECT_EQ(FIELD(info, serialNumber), "A1");
    EXPECT_EQ(FIELD(info, factoryVersion), "V01.00.000.001");
    EXPECT_EQ(FIELD(info, guid), "GA10000000000000");
    // The XML version records no text of its own: the last one is the register read's.
    EXPECT_NE(device->GetErrorText().find(L"{CU3VDevice::__GetVersionInfo:line[366]}"), std::wstring::npos)
        << Narrow(device->GetErrorText());
}

TEST_F(DeviceManagerTest, UrlInfoFailureRecordsNoText) {
    json camera = Camera("A1");
    camera["faults"] = {{"url_info", true}};
    Load(Description({camera}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    EXPECT_EQ(FIELD(Find("A1")->GetDeviceInfo(), xmlVersion), "Invalid");
    EXPECT_EQ(Find("A1")->GetErrorText(), L"");
}

TEST_F(DeviceManagerTest, GuidBlockFailureMarksTheGuid) {
    json camera = Camera("A1");
    camera["faults"] = {{"read_fails", {"0xc00000"}}};
    Load(Description({camera}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    EXPECT_EQ(FIELD(Find("A1")->GetDeviceInfo(), guid), "Invalid");
    EXPECT_NE(Find("A1")->GetErrorText().find(L"{CU3VDevice::__GetDevGUIDInfo:line[1082]}"), std::wstring::npos);
}

TEST_F(DeviceManagerTest, ModelAndDisplayNameFailures) {
    json noModel = Camera("A1");
    noModel["faults"] = {{"model_info", true}};
    json noDisplayName = Camera("B2");
    noDisplayName["faults"] = {{"display_name", true}};
    Load(Description({noModel, noDisplayName}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    const std::vector<std::wstring> models = {L"ORV-2C", L"Invalid"};

    CU3VDevice* a = Find("A1");
    EXPECT_TRUE(a->IsOpened());
    EXPECT_EQ(FIELD(a->GetDeviceInfo(), modelName), "Invalid");
    EXPECT_NE(a->GetErrorText().find(L"{CU3VDevice::__GetUpdateInfo:line[400]}"), std::wstring::npos);

    CU3VDevice* b = Find("B2");
    EXPECT_TRUE(b->IsOpened());
    EXPECT_EQ(FIELD(b->GetDeviceInfo(), modelName), "ORV-2C");
    EXPECT_EQ(FIELD(b->GetDeviceInfo(), serialNumber), "B2");
    EXPECT_NE(b->GetErrorText().find(L"{CU3VDevice::__GetUpdateInfo:line[421]}"), std::wstring::npos);
    EXPECT_TRUE(IsModelSupported(models, *b));
}

TEST_F(DeviceManagerTest, ModelSupportIsExactAndCaseSensitive) {
    Load(Description({Camera("A1", "ORV-2C"), Camera("B2", "orv-2c"), Camera("C3", "ORV-2C ")}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    const std::vector<std::wstring> models = {L"ORV-2M", L"ORV-2C"};
    EXPECT_TRUE(IsModelSupported(models, *Find("A1")));
    EXPECT_EQ(Find("A1")->GetStatusCode(), -1);
    for (const char* serial : {"B2", "C3"}) {
        EXPECT_FALSE(IsModelSupported(models, *Find(serial))) << serial;
        EXPECT_EQ(Find(serial)->GetStatusText(), L"Don't support upgrade");
    }
    EXPECT_FALSE(IsModelSupported({}, *Find("A1")));
    EXPECT_EQ(Find("A1")->GetStatusCode(), 28);
}

TEST_F(DeviceManagerTest, SecondEnumerationClosesTheFirstAndReusesInterfaces) {
    Load(Description({Camera("A1"), Camera("B2")}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    const std::size_t interfaces = m_manager.GetInterfaceCount();
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    EXPECT_EQ(m_manager.GetInterfaceCount(), interfaces);
    EXPECT_EQ(m_manager.GetDeviceList().size(), 2u);
    for (const char* id : {"SIM-A1", "SIM-B2"}) {
        const auto events = m_sim->Events({.deviceId = id});
        std::vector<std::string> calls;
        for (const json& e : events)
            if (e["call"] == "IFOpenDevice" || e["call"] == "DevClose") calls.push_back(e["call"]);
        // Closed before it was opened again: the open is exclusive.
        EXPECT_EQ(calls, (std::vector<std::string>{"IFOpenDevice", "DevClose", "IFOpenDevice"})) << id;
        EXPECT_TRUE(Find(id + 4)->IsOpened());
    }
}

TEST_F(DeviceManagerTest, InterfaceThatCannotOpenIsSkipped) {
    json description = Description({Camera("A1")});
    description["interfaces"].insert(description["interfaces"].begin(),
                                     json{{"id", "SIM-IF-BROKEN"}, {"open_fails", true}, {"cameras", {Camera("Z9")}}});
    Load(description);
    EXPECT_TRUE(m_manager.UpdateDeviceList());
    ASSERT_EQ(m_manager.GetDeviceList().size(), 1u);
    EXPECT_EQ(m_manager.GetDeviceList()[0]->GetDeviceID(), "SIM-A1");
    EXPECT_EQ(m_manager.GetInterfaceCount(), 1u);
    EXPECT_EQ(m_manager.GetErrorText(), L"");
}

TEST_F(DeviceManagerTest, LongDeviceIdIsFetchedWholeAndHidesNoCamera) {
    json tooLong = Camera("B2");
    tooLong["device_id"] = "SIM-" + std::string(300, 'L');
    json description = Description({Camera("A1"), tooLong, Camera("C3")});
    description["interfaces"].push_back(json{{"id", "SIM-IF-1"}, {"cameras", {Camera("D4")}}});
    Load(description);
    EXPECT_TRUE(m_manager.UpdateDeviceList()) << Narrow(m_manager.GetErrorText());
    ASSERT_EQ(m_manager.GetDeviceList().size(), 4u);
    for (CU3VDevice* camera : m_manager.GetDeviceList()) EXPECT_TRUE(camera->IsOpened()) << camera->GetDeviceID();
    EXPECT_EQ(m_manager.GetDeviceList()[1]->GetDeviceID(), "SIM-" + std::string(300, 'L'));
}

TEST_F(DeviceManagerTest, InterfaceListFailureGoesToTheDebuggerOutput) {
    json description = Description({Camera("A1")});
    description["producer"] = {{"update_interfaces", -1011}};
    Load(description);
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(m_manager.UpdateDeviceList());
    const std::string debugOutput = ::testing::internal::GetCapturedStderr();
    const std::wstring text = m_manager.GetErrorText();
    EXPECT_EQ(text.rfind(L"{-1011}{CDeviceManager::UpdateDeviceList:line[92]}{{-1011}{", 0), 0u) << Narrow(text);
    if (testbed::DebuggerOutputGoesToStandardError()) {
        EXPECT_EQ(debugOutput, Narrow(text) + "\n");
    }
    EXPECT_TRUE(m_manager.GetDeviceList().empty());

    // The re-enumeration records its own line and writes nothing to the debugger;
    // only the numbers of cameras are compared, and both lists are empty.
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(m_manager.CheckReenumeration());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(m_manager.GetErrorText().find(L"{CDeviceManager::__ReUpdateDeviceList:line[213]}"), std::wstring::npos);
}

TEST_F(DeviceManagerTest, CheckReenumerationComparesCountsAndCopiesNothingUnstarted) {
    Load(Description({Camera("A1"), Camera("B2")}));
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    // The re-enumeration list opens the same cameras once more: the producer
    // answers -10006 for a camera this process holds, which still opens.
    EXPECT_TRUE(m_manager.CheckReenumeration());
    m_manager.ClearReDeviceList();
    EXPECT_EQ(FIELD(Find("A1")->GetDeviceInfo(), firmwareVersion), "V01.03.001.002:V01.05");
}

TEST_F(DeviceManagerTest, ProducerWithoutExtensionsStillLists) {
    Load(Description({Camera("A1"), Camera("B2")}), testbed::ProducerBuild::kWithoutUpgradeExtensions);
    ASSERT_TRUE(m_manager.UpdateDeviceList());
    ASSERT_EQ(m_manager.GetDeviceList().size(), 2u);
    EXPECT_FALSE(m_manager.GetBinding()->Has(gentl::Entry::DPEnterUpgradeMode));
    EXPECT_FALSE(m_manager.GetBinding()->Has(gentl::Entry::DPWriteUpgradeFile));
    EXPECT_FALSE(m_manager.GetBinding()->Has(gentl::Entry::DPLeaveUpgradeMode));
    EXPECT_TRUE(Find("A1")->IsOpened());
    EXPECT_EQ(FIELD(Find("B2")->GetDeviceInfo(), serialNumber), "B2");
}

}  // namespace
