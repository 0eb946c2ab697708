#include <fstream>
#include <set>

#include "SimulatorLibraries.h"
#include "testbed/Process.h"

using namespace simtest;

namespace {

// Kept as written: the formatter would put each name on a line of its own.
// clang-format off
const char* const kGenTL16[] = {
    "GCGetInfo", "GCGetLastError", "GCInitLib", "GCCloseLib", "GCReadPort", "GCWritePort", "GCGetPortURL",
    "GCGetPortInfo", "GCRegisterEvent", "GCUnregisterEvent", "EventGetData", "EventGetDataInfo", "EventGetInfo",
    "EventFlush", "EventKill", "TLOpen", "TLClose", "TLGetInfo", "TLGetNumInterfaces", "TLGetInterfaceID",
    "TLGetInterfaceInfo", "TLOpenInterface", "TLUpdateInterfaceList", "IFClose", "IFGetInfo", "IFGetNumDevices",
    "IFGetDeviceID", "IFUpdateDeviceList", "IFGetDeviceInfo", "IFOpenDevice", "DevGetPort", "DevGetNumDataStreams",
    "DevGetDataStreamID", "DevOpenDataStream", "DevGetInfo", "DevClose", "DSAnnounceBuffer",
    "DSAllocAndAnnounceBuffer", "DSFlushQueue", "DSStartAcquisition", "DSStopAcquisition", "DSGetInfo",
    "DSGetBufferID", "DSClose", "DSRevokeBuffer", "DSQueueBuffer", "DSGetBufferInfo", "GCGetNumPortURLs",
    "GCGetPortURLInfo", "GCReadPortStacked", "GCWritePortStacked", "DSGetBufferChunkData", "IFGetParentTL",
    "DevGetParentIF", "DSGetParentDev", "DSGetNumBufferParts", "DSGetBufferPartInfo", "DSAnnounceCompositeBuffer",
    "DSGetBufferInfoStacked", "DSGetBufferPartInfoStacked", "DSGetNumFlows", "DSGetFlowInfo",
    "DSGetNumBufferSegments", "DSGetBufferSegmentInfo"};
// clang-format on

}  // namespace

TEST(SimLibraries, ExportExactlyTheirEntryPoints) {
    std::set<std::string> gentl(std::begin(kGenTL16), std::end(kGenTL16));
    ASSERT_EQ(gentl.size(), 64u);
    EXPECT_EQ(ExportedEntryPoints(BinDir() / "noext" / "ZvU3VTL.cti"), gentl);
    gentl.insert({"DPEnterUpgradeMode", "DPWriteUpgradeFile", "DPLeaveUpgradeMode"});
    EXPECT_EQ(ExportedEntryPoints(BinDir() / "ZvU3VTL.cti"), gentl);
    // The SDK's entry points are reached by number, and on Windows have no names at all.
    std::set<std::string> sdk;
    for (const unsigned ordinal : {100, 101, 200, 201, 204, 301, 302, 412, 421, 700, 701})
        sdk.insert(NumberedEntryPoint(ordinal, ("ZvIAPI_" + std::to_string(ordinal)).c_str()));
    EXPECT_EQ(ExportedEntryPoints(BinDir() / LibraryFileName("ZvIAPI")), sdk);
}

TEST(Producer, EnumeratesAndReadsEveryRegisterTheToolReads) {
    json camera = Camera("SN0001");
    camera["guid"] = "ABCDEFGHIJKLMNOP";
    camera["flash_vendor"] = "0xC8";
    SimulatedCameras sim(Description({camera, Camera("SN0002", "ORV-2M-L")}));
    Producer p;
    Session s(p);
    ASSERT_EQ(s.DeviceIds(), (std::vector<std::string>{"SIM-SN0001", "SIM-SN0002"}));

    char model[64] = {};
    size_t size = sizeof model;
    INFO_DATATYPE type = INFO_DATATYPE_STRING;
    ASSERT_EQ(p.IFGetDeviceInfo(s.iface, "SIM-SN0002", DEVICE_INFO_MODEL, &type, model, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(model, "ORV-2M-L");
    char display[128] = {};
    size = sizeof display;
    ASSERT_EQ(p.IFGetDeviceInfo(s.iface, "SIM-SN0001", DEVICE_INFO_DISPLAYNAME, &type, display, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(display, "Zorvan ORV-2C (SN0001)");

    const Session::Opened cam = s.Open("SIM-SN0001");
    EXPECT_EQ(s.ReadText(cam.port, 0x144, 64), "SN0001");
    EXPECT_EQ(s.ReadText(cam.port, 0x44, 64), "ORV-2C");
    EXPECT_EQ(s.ReadText(cam.port, 0x4, 64), "Zorvan");
    EXPECT_EQ(s.ReadText(cam.port, 0xC4, 64), "1.1_2.1_2.0");
    EXPECT_EQ(s.ReadText(cam.port, 0x300000, 32), "V01.03.001.002:V01.05");
    EXPECT_EQ(s.ReadText(cam.port, 0x80007C, 32), "V01.00.000.001");
    uint32_t vendor = 0;
    size = 4;
    ASSERT_EQ(p.GCReadPort(cam.port, 0x300004, &vendor, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(vendor, 0xC8u);
    std::vector<uint8_t> info(304);
    size = info.size();
    ASSERT_EQ(p.GCReadPort(cam.port, 0xC00000, info.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(size, 304u);
    EXPECT_EQ(std::string(info.begin() + 260, info.begin() + 276), "ABCDEFGHIJKLMNOP");

    EXPECT_EQ(s.UrlInt(cam.port, URL_INFO_FILE_VER_MAJOR), 1);
    EXPECT_EQ(s.UrlInt(cam.port, URL_INFO_FILE_VER_MINOR), 0);
    EXPECT_EQ(s.UrlInt(cam.port, URL_INFO_FILE_VER_SUBMINOR), 3);

    // The URL names the XML file in the register space, and the manifest agrees.
    uint32_t urls = 0;
    ASSERT_EQ(p.GCGetNumPortURLs(cam.port, &urls), GC_ERR_SUCCESS);
    EXPECT_EQ(urls, 1u);
    char url[256] = {};
    size = sizeof url;
    ASSERT_EQ(p.GCGetPortURL(cam.port, url, &size), GC_ERR_SUCCESS);
    unsigned long long address = 0;
    unsigned long long length = 0;
    ASSERT_EQ(std::sscanf(url, "Local:Zorvan_ORV-2C.xml;%llx;%llx", &address, &length), 2) << url;
    std::string xml(length, '\0');
    size = length;
    ASSERT_EQ(p.GCReadPort(cam.port, address, xml.data(), &size), GC_ERR_SUCCESS);
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_NE(xml.find("ModelName=\"ORV_2C\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("SubMinorVersion=\"3\""), std::string::npos);
    uint64_t manifest = 0;
    size = 8;
    ASSERT_EQ(p.GCReadPort(cam.port, 0x1D0, &manifest, &size), GC_ERR_SUCCESS);
    uint8_t entry[8 + 64] = {};
    size = sizeof entry;
    ASSERT_EQ(p.GCReadPort(cam.port, manifest, entry, &size), GC_ERR_SUCCESS);
    uint64_t fileAddress = 0;
    uint64_t fileSize = 0;
    uint32_t versionWord = 0;
    std::memcpy(&versionWord, entry + 8, 4);
    std::memcpy(&fileAddress, entry + 16, 8);
    std::memcpy(&fileSize, entry + 24, 8);
    EXPECT_EQ(versionWord, 0x01000003u);
    EXPECT_EQ(fileAddress, address);
    EXPECT_EQ(fileSize, length);

    // Nothing at an unmapped address, and a register read past its end is refused.
    char scratch[64];
    size = 4;
    EXPECT_EQ(p.GCReadPort(cam.port, 0x500000, scratch, &size), GENCP_INVALID_ADDRESS);
    size = 33;
    EXPECT_EQ(p.GCReadPort(cam.port, 0x300000, scratch, &size), GENCP_INVALID_ADDRESS);
    EXPECT_EQ(p.DevClose(cam.device), GC_ERR_SUCCESS);

    // Every event is one complete JSON object with the agreed keys.
    const std::vector<json> reads = sim.Events({.deviceId = "SIM-SN0001", .call = "GCReadPort"});
    ASSERT_FALSE(reads.empty());
    EXPECT_EQ(reads.front()["address"], "0x144");
    EXPECT_EQ(reads.front()["size"], 64);
    for (const json& event : sim.Events()) {
        for (const char* key : {"ts_us", "thread", "source", "call", "device_id", "result"}) {
            EXPECT_TRUE(event.contains(key)) << event.dump();
        }
        EXPECT_EQ(event["source"], "producer");
    }
}

TEST(Producer, UpgradedCameraRebootsAndReturnsWithNewVersions) {
    SimulatedCameras sim(Description({Camera("SN0001"), Camera("SN0002")}));
    Producer p;
    Session s(p);
    const Session::Opened cam = s.Open("SIM-SN0001");
    const std::vector<std::pair<uint64_t, std::vector<uint8_t>>> regions = {
        {0x1200000, Pattern(70000, 1)}, {0x12f0000, Pattern(4096, 2)}, {0x13b0000, Pattern(1, 3)}};

    ASSERT_EQ(p.DPEnterUpgradeMode(cam.port, 1000, 0, 20), GC_ERR_SUCCESS) << p.LastErrorText();
    for (const auto& [address, bytes] : regions) {
        size_t size = bytes.size();
        ASSERT_EQ(p.DPWriteUpgradeFile(cam.port, address, bytes.data(), &size, 4096, 32, 0, 1), GC_ERR_SUCCESS)
            << p.LastErrorText();
        EXPECT_EQ(size, bytes.size());
    }
    ASSERT_EQ(p.DPLeaveUpgradeMode(cam.port), GC_ERR_SUCCESS) << p.LastErrorText();
    // The camera is rebooting: its old handle is lost but can still be closed.
    char scratch[32];
    size_t size = 32;
    EXPECT_EQ(p.GCReadPort(cam.port, 0x300000, scratch, &size), GC_ERR_IO);
    EXPECT_EQ(p.DevClose(cam.device), GC_ERR_SUCCESS);
    EXPECT_EQ(s.DeviceIds(), std::vector<std::string>{"SIM-SN0002"});

    ASSERT_TRUE(s.WaitUntilListed("SIM-SN0001", 30.0));
    const Session::Opened back = s.Open("SIM-SN0001");
    EXPECT_EQ(s.ReadText(back.port, 0x300000, 32), "V01.03.002.001:V01.06");
    EXPECT_EQ(s.ReadText(back.port, 0xC4, 64), "1.1_2.1_2.1");
    EXPECT_EQ(s.UrlInt(back.port, URL_INFO_FILE_VER_SUBMINOR), 4);
    EXPECT_EQ(s.ReadText(back.port, 0x80007C, 32), "V01.00.000.001");
    EXPECT_EQ(p.DevClose(back.device), GC_ERR_SUCCESS);

    for (const auto& [address, bytes] : regions) {
        EXPECT_EQ(ReadBytes(sim.FlashFile("SIM-SN0001", address)), bytes) << Hex(address);
    }
    EXPECT_FALSE(fs::exists(sim.CameraFolder("SIM-SN0002") / "flash"));

    // The record tells the story in order, with the write arguments.
    std::vector<std::string> calls;
    for (const json& event : sim.Events()) {
        const std::string call = event["call"];
        if (event["device_id"] == "SIM-SN0001" && call.rfind("DP", 0) == 0) {
            calls.push_back(call);
        }
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"DPEnterUpgradeMode", "DPWriteUpgradeFile", "DPWriteUpgradeFile",
                                               "DPWriteUpgradeFile", "DPLeaveUpgradeMode"}));
    const std::vector<json> writes = sim.Events({.call = "DPWriteUpgradeFile"});
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0]["address"], "0x1200000");
    EXPECT_EQ(writes[0]["size"], 70000);
    EXPECT_EQ(writes[0]["block_size"], 4096);
    EXPECT_EQ(writes[0]["packet_count"], 32);
    EXPECT_EQ(writes[0]["verify"], 1);
    EXPECT_EQ(sim.Events({.call = "DPLeaveUpgradeMode"})[0]["reboot"], true);
}

TEST(Producer, UpgradeCallsOutOfOrderAreRefused) {
    SimulatedCameras sim(Description({Camera("SN0001")}));
    Producer p;
    Session s(p);
    const Session::Opened cam = s.Open("SIM-SN0001");
    const std::vector<uint8_t> bytes = Pattern(16, 9);
    size_t size = bytes.size();
    EXPECT_EQ(p.DPWriteUpgradeFile(cam.port, 0x1200000, bytes.data(), &size, 4096, 32, 0, 1), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(p.DPLeaveUpgradeMode(cam.port), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(p.DPEnterUpgradeMode(cam.device, 1000, 0, 20), GC_ERR_INVALID_HANDLE);  // a device, not its port
    ASSERT_EQ(p.DPEnterUpgradeMode(cam.port, 1000, 0, 20), GC_ERR_SUCCESS);
    EXPECT_EQ(p.DPWriteUpgradeFile(cam.port, 0x0, bytes.data(), &size, 4096, 32, 0, 1), GC_ERR_ACCESS_DENIED);
    EXPECT_EQ(p.DPWriteUpgradeFile(cam.port, 0x1FFFFF8, bytes.data(), &size, 4096, 32, 0, 1), GC_ERR_INVALID_ADDRESS);
    EXPECT_EQ(p.DPWriteUpgradeFile(cam.port, 0x1200000, nullptr, &size, 4096, 32, 0, 1), GC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(p.DPWriteUpgradeFile(cam.port, 0x1200000, bytes.data(), &size, 0, 32, 0, 1), GC_ERR_INVALID_PARAMETER);
    // Leaving without a single write: no reboot, nothing changes.
    ASSERT_EQ(p.DPLeaveUpgradeMode(cam.port), GC_ERR_SUCCESS);
    EXPECT_EQ(s.ReadText(cam.port, 0x300000, 32), "V01.03.001.002:V01.05");
    EXPECT_EQ(sim.Events({.call = "DPLeaveUpgradeMode"}).back()["reboot"], false);
    EXPECT_FALSE(fs::exists(sim.CameraFolder("SIM-SN0001") / "flash"));
    EXPECT_EQ(p.DevClose(cam.device), GC_ERR_SUCCESS);
    EXPECT_EQ(p.DevClose(cam.device), GC_ERR_INVALID_HANDLE);
}

TEST(Producer, SecondOpenAnswersAlreadyOpenAndWorks) {
    SimulatedCameras sim(Description({Camera("SN0001")}));
    Producer p;
    Session s(p);
    ASSERT_EQ(s.DeviceIds().size(), 1u);
    DEV_HANDLE first = nullptr;
    DEV_HANDLE second = nullptr;
    ASSERT_EQ(p.IFOpenDevice(s.iface, "SIM-SN0001", DEVICE_ACCESS_EXCLUSIVE, &first), GC_ERR_SUCCESS);
    ASSERT_EQ(p.IFOpenDevice(s.iface, "SIM-SN0001", DEVICE_ACCESS_EXCLUSIVE, &second), ZV_ERR_ALREADY_OPEN);
    ASSERT_NE(second, nullptr);
    PORT_HANDLE port = nullptr;
    ASSERT_EQ(p.DevGetPort(second, &port), GC_ERR_SUCCESS);
    EXPECT_EQ(s.ReadText(port, 0x144, 64), "SN0001");
    int32_t status = 0;
    size_t size = sizeof status;
    INFO_DATATYPE type = 0;
    ASSERT_EQ(p.IFGetDeviceInfo(s.iface, "SIM-SN0001", DEVICE_INFO_ACCESS_STATUS, &type, &status, &size),
              GC_ERR_SUCCESS);
    EXPECT_EQ(status, DEVICE_ACCESS_STATUS_OPEN_READWRITE);
    EXPECT_EQ(p.DevClose(first), GC_ERR_SUCCESS);
    EXPECT_EQ(s.ReadText(port, 0x144, 64), "SN0001");  // the other handle still holds the camera
    EXPECT_EQ(p.DevClose(second), GC_ERR_SUCCESS);
    ASSERT_EQ(p.IFGetDeviceInfo(s.iface, "SIM-SN0001", DEVICE_INFO_ACCESS_STATUS, &type, &status, &size),
              GC_ERR_SUCCESS);
    EXPECT_EQ(status, DEVICE_ACCESS_STATUS_READWRITE);
}

TEST(Producer, RebootDeadlineAndStateOutliveTheLibrary) {
    json camera = Camera("SN0001");
    camera["reboot_seconds"] = 3600;
    SimulatedCameras sim(Description({camera}));
    {
        Producer p;
        Session s(p);
        const Session::Opened cam = s.Open("SIM-SN0001");
        ASSERT_EQ(p.DPEnterUpgradeMode(cam.port, 1000, 0, 20), GC_ERR_SUCCESS);
        const std::vector<uint8_t> bytes = Pattern(100, 4);
        size_t size = bytes.size();
        ASSERT_EQ(p.DPWriteUpgradeFile(cam.port, 0x13f7000, bytes.data(), &size, 4096, 32, 0, 1), GC_ERR_SUCCESS);
        ASSERT_EQ(p.DPLeaveUpgradeMode(cam.port), GC_ERR_SUCCESS);
    }
    const json state = sim.CameraState("SIM-SN0001");
    EXPECT_GT(state["reboot_until_us"].get<int64_t>(), 0);
    EXPECT_EQ(state["firmware_version"], "V01.03.002.001:V01.06");
    {
        Producer p;  // loaded afresh: the camera is still rebooting
        Session s(p);
        EXPECT_TRUE(s.DeviceIds().empty());
    }
    Sdk sdk;
    ASSERT_EQ(sdk.open(), ZV_OK);
    EXPECT_TRUE(sdk.List().empty());
    sdk.close();
}

TEST(Producer, LastErrorBelongsToTheCallingThread) {
    SimulatedCameras sim(Description({Camera("SN0001")}));
    Producer p;
    Session s(p);
    ASSERT_EQ(s.DeviceIds().size(), 1u);
    std::string otherText;
    DEV_HANDLE device = nullptr;
    EXPECT_EQ(p.IFOpenDevice(s.iface, "NO-SUCH-ID", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_INVALID_ID);
    std::thread other([&] {
        uint32_t n = 0;
        EXPECT_EQ(p.TLGetNumInterfaces(nullptr, &n), GC_ERR_INVALID_HANDLE);
        otherText = p.LastErrorText();
    });
    other.join();
    EXPECT_NE(otherText.find("TLGetNumInterfaces"), std::string::npos) << otherText;
    GC_ERROR code = 0;
    size_t size = 0;
    ASSERT_EQ(p.GCGetLastError(&code, nullptr, &size), GC_ERR_SUCCESS);
    EXPECT_EQ(code, GC_ERR_INVALID_ID);
    std::string text(size - 1, '\0');
    size_t tooSmall = 2;
    EXPECT_EQ(p.GCGetLastError(&code, text.data(), &tooSmall), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_NE(p.LastErrorText().find("IFOpenDevice"), std::string::npos);
}

TEST(Producer, LoadsAndUnloadsRepeatedlyWithoutLeakingDescriptors) {
    SimulatedCameras sim(Description({Camera("SN0001"), Camera("SN0002")}));
    const size_t before = OpenFileCount();
    for (int round = 0; round < 15; ++round) {
        Producer p;
        Session s(p);
        ASSERT_EQ(s.DeviceIds().size(), 2u);
        const Session::Opened cam = s.Open("SIM-SN0002");
        EXPECT_EQ(s.ReadText(cam.port, 0x144, 64), "SN0002");
        // Left open on purpose: closing the transport layer releases it.
    }
    EXPECT_EQ(OpenFileCount(), before);
    // Really unloaded, so the next load starts from fresh statics.
    for (const fs::path& file : {BinDir() / "ZvU3VTL.cti", BinDir() / LibraryFileName("ZvIAPI")}) {
        {
            Library loaded(file);
            EXPECT_TRUE(IsLibraryLoaded(file)) << file;
        }
        EXPECT_FALSE(IsLibraryLoaded(file)) << file;
    }
    Producer p;
    Session s(p);
    ASSERT_EQ(s.DeviceIds().size(), 2u);
    s.Open("SIM-SN0002");  // not held by any earlier round
}

TEST(Producer, BuildWithoutExtensionsListsCamerasButCannotUpgrade) {
    SimulatedCameras sim(Description({Camera("SN0001")}));
    Producer p(BinDir() / "noext" / "ZvU3VTL.cti");
    EXPECT_EQ(p.DPEnterUpgradeMode, nullptr);
    EXPECT_EQ(p.DPWriteUpgradeFile, nullptr);
    EXPECT_EQ(p.DPLeaveUpgradeMode, nullptr);
    Session s(p);
    ASSERT_EQ(s.DeviceIds(), std::vector<std::string>{"SIM-SN0001"});
    EXPECT_EQ(s.ReadText(s.Open("SIM-SN0001").port, 0x300000, 32), "V01.03.001.002:V01.05");
}

TEST(Producer, CallsBeforeInitialisationAndAfterClosingAreRefused) {
    SimulatedCameras sim(Description({Camera("SN0001")}));
    Producer p;
    TL_HANDLE tl = nullptr;
    EXPECT_EQ(p.TLOpen(&tl), GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(p.GCCloseLib(), GC_ERR_NOT_INITIALIZED);
    ASSERT_EQ(p.GCInitLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(p.GCInitLib(), GC_ERR_RESOURCE_IN_USE);
    ASSERT_EQ(p.TLOpen(&tl), GC_ERR_SUCCESS);
    EXPECT_EQ(p.TLOpen(&tl), GC_ERR_RESOURCE_IN_USE);
    ASSERT_EQ(p.TLClose(tl), GC_ERR_SUCCESS);
    uint32_t n = 0;
    EXPECT_EQ(p.TLGetNumInterfaces(tl, &n), GC_ERR_INVALID_HANDLE);
    ASSERT_EQ(p.GCCloseLib(), GC_ERR_SUCCESS);
    EXPECT_EQ(p.TLGetNumInterfaces(tl, &n), GC_ERR_NOT_INITIALIZED);
}

TEST(Producer, DefaultDescriptionHasTheFourPackageModelsReadyForUpgrade) {
    IsolatedFolders folders;  // the temporary folder too
    ScopedEnvironment noConfig("FLASHWRIGHT_SIM_CONFIG", std::nullopt);
    ScopedEnvironment noState("FLASHWRIGHT_SIM_STATE", std::nullopt);
    Producer p;
    Session s(p);
    const std::vector<std::string> ids = s.DeviceIds();
    ASSERT_EQ(ids.size(), 4u);
    std::vector<std::string> models;
    for (const std::string& id : ids) {
        const Session::Opened cam = s.Open(id);
        char model[64] = {};
        size_t size = sizeof model;
        INFO_DATATYPE type = 0;
        ASSERT_EQ(p.IFGetDeviceInfo(s.iface, id.c_str(), DEVICE_INFO_MODEL, &type, model, &size), GC_ERR_SUCCESS);
        models.emplace_back(model);
        // What the tool's checks need: vendor 0xEF, "<left>:<right>" with 03 as the
        // left part's second number and a right part not above 01.
        uint32_t vendor = 0;
        size = 4;
        ASSERT_EQ(p.GCReadPort(cam.port, 0x300004, &vendor, &size), GC_ERR_SUCCESS);
        EXPECT_EQ(vendor, 0xEFu);
        EXPECT_EQ(s.ReadText(cam.port, 0x300000, 32), "V01.03.001.002:V01.05");
        EXPECT_EQ(p.DevClose(cam.device), GC_ERR_SUCCESS);
    }
    EXPECT_EQ(models, (std::vector<std::string>{"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"}));
    const fs::path state = SimulatorDefaultStateFolder(folders.TmpFolder());
    EXPECT_TRUE(fs::exists(state / "events.jsonl"));
    EXPECT_TRUE(fs::exists(state / "cameras" / "ZvU3V-ZV21A0001" / "state.json"));
}

TEST(Producer, DescriptionErrorsNameTheKeyAtFault) {
    struct Case {
        const char* name;
        std::function<void(json&)> spoil;
        const char* expected;
    };
    const Case cases[] = {
        {"misspelt fault",
         [](json& d) {
             d["interfaces"][0]["cameras"][0]["faults"] = {{"write_fail_at", "0x1"}};
         },
         "interfaces[0].cameras[0].faults.write_fail_at is not a known key"},
        {"long GUID", [](json& d) { d["interfaces"][0]["cameras"][0]["guid"] = "0123456789ABCDEFG"; },
         "interfaces[0].cameras[0].guid is longer than 16 bytes"},
        {"repeated id", [](json& d) { d["interfaces"][0]["cameras"][1]["device_id"] = "SIM-SN0001"; },
         "interfaces[0].cameras[1].device_id repeats"},
        {"bad address",
         [](json& d) {
             d["interfaces"][0]["cameras"][0]["faults"] = {{"read_fails", {"0xZZ"}}};
         },
         "interfaces[0].cameras[0].faults.read_fails[0] must be a hexadecimal number"},
        {"bad speed", [](json& d) { d["interfaces"][0]["cameras"][0]["write_bytes_per_second"] = 0; },
         "write_bytes_per_second must be a number above 0"},
        {"no interfaces", [](json& d) { d.erase("interfaces"); }, "interfaces is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        json description = Description({Camera("SN0001"), Camera("SN0002")});
        c.spoil(description);
        SimulatedCameras sim(description);
        Producer p;
        EXPECT_EQ(p.GCInitLib(), GC_ERR_INVALID_PARAMETER);
        EXPECT_NE(p.LastErrorText().find(c.expected), std::string::npos) << p.LastErrorText();
        Sdk sdk;
        ASSERT_EQ(sdk.open(), ZV_ERR_CONFIGURATION);
        EXPECT_NE(sdk.Describe(ZV_ERR_CONFIGURATION).find(c.expected), std::string::npos);
    }
    SimulatedCameras broken(json::object());
    broken.WriteDescriptionText("{\"interfaces\": [");
    Producer p;
    EXPECT_EQ(p.GCInitLib(), GC_ERR_INVALID_PARAMETER);
    EXPECT_NE(p.LastErrorText().find("not valid JSON"), std::string::npos) << p.LastErrorText();
}

TEST(Producer, RepositoryDescriptionsLoad) {
    const fs::path folder = ZVSIM_DESCRIPTIONS_DIR;
    for (const char* file : {"demo.json", "faults.json"}) {
        SCOPED_TRACE(file);
        TempFolder state;
        ScopedEnvironment config("FLASHWRIGHT_SIM_CONFIG", (folder / file).string());
        ScopedEnvironment stateEnv("FLASHWRIGHT_SIM_STATE", state.Path().string());
        Producer p;
        Session s(p);
        EXPECT_FALSE(s.DeviceIds().empty());
    }
    TempFolder state;
    ScopedEnvironment config("FLASHWRIGHT_SIM_CONFIG", (folder / "demo.json").string());
    ScopedEnvironment stateEnv("FLASHWRIGHT_SIM_STATE", state.Path().string());
    Sdk sdk;
    ASSERT_EQ(sdk.open(), ZV_OK);
    std::vector<std::string> models;
    for (const Sdk::Entry& entry : sdk.List()) {
        models.push_back(entry.model);
    }
    EXPECT_EQ(models, (std::vector<std::string>{"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L", "ORV-5M"}));
    sdk.close();
}

TEST(Producer, UnusualDeviceIdsStayInsideTheStateFolder) {
    json escaping = Camera("SN0001");
    escaping["device_id"] = "../../outside";
    json longId = Camera("SN0002");
    longId["device_id"] = std::string(300, 'L');
    SimulatedCameras sim(Description({escaping, longId, Camera("SN0003")}));
    Producer p;
    Session s(p);
    bool8_t changed = 0;
    ASSERT_EQ(p.IFUpdateDeviceList(s.iface, &changed, 1000), GC_ERR_SUCCESS);
    uint32_t n = 0;
    ASSERT_EQ(p.IFGetNumDevices(s.iface, &n), GC_ERR_SUCCESS);
    ASSERT_EQ(n, 3u);
    char id[256] = {};
    size_t size = sizeof id;
    ASSERT_EQ(p.IFGetDeviceID(s.iface, 0, id, &size), GC_ERR_SUCCESS);
    EXPECT_STREQ(id, "../../outside");
    size = sizeof id;
    EXPECT_EQ(p.IFGetDeviceID(s.iface, 1, id, &size), GC_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 301u);
    const Session::Opened cam = s.Open("../../outside");
    ASSERT_EQ(p.DPEnterUpgradeMode(cam.port, 1000, 0, 20), GC_ERR_SUCCESS);
    const std::vector<uint8_t> bytes = Pattern(8, 1);
    size = bytes.size();
    ASSERT_EQ(p.DPWriteUpgradeFile(cam.port, 0x1200000, bytes.data(), &size, 4096, 32, 0, 1), GC_ERR_SUCCESS);
    // Everything the simulator wrote lies in the state folder.
    std::vector<std::string> entries;
    for (const auto& entry : fs::directory_iterator(sim.Root())) {
        entries.push_back(entry.path().filename().string());
    }
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"description.json", "runtime", "sim-state", "tmp", "xdg-state"}));
    size_t flashFiles = 0;
    for (const auto& entry : fs::recursive_directory_iterator(sim.StateFolder() / "cameras")) {
        flashFiles += entry.path().extension() == ".bin";
    }
    EXPECT_EQ(flashFiles, 1u);
}

namespace {

// Calls an entry point by name with the argument types of its GenTL signature;
// for the entry points the test's Producer does not resolve.
template <typename... Args>
GC_ERROR CallByName(const Producer& p, const char* name, Args... args) {
    const auto entry = p.library.Get<GC_ERROR (*)(Args...)>(name);
    if (entry == nullptr) {
        ADD_FAILURE() << name << " is not exported";
        return GC_ERR_ERROR;
    }
    return entry(args...);
}

std::vector<std::pair<std::string, int>> RecordedCalls(const SimulatedCameras& sim) {
    std::vector<std::pair<std::string, int>> calls;
    for (const json& event : sim.Events()) {
        calls.emplace_back(event["call"].get<std::string>(), event["result"].get<int>());
    }
    return calls;
}

}  // namespace

// The record shows every call, so it can also show that an entry point was never called.
TEST(Producer, EveryEntryPointRecordsEveryCallRefusedOnesWithTheirResult) {
    SimulatedCameras sim(Description({Camera("SN0001")}));
    Producer p;
    void* const h = nullptr;  // no handle of this producer
    INFO_DATATYPE* const type = nullptr;
    void* const buffer = nullptr;
    char* const text = nullptr;
    size_t* const size = nullptr;
    uint32_t* const count = nullptr;
    void** const handleOut = nullptr;
    const int32_t command = 0;
    const uint32_t index = 0;
    struct EntryCall {
        const char* name;
        std::function<GC_ERROR()> call;
    };
    const std::vector<EntryCall> calls = {
        {"GCGetInfo", [&] { return CallByName(p, "GCGetInfo", command, type, buffer, size); }},
        {"GCGetLastError",
         [&] { return CallByName(p, "GCGetLastError", static_cast<GC_ERROR*>(nullptr), text, size); }},
        {"GCInitLib", [&] { return CallByName(p, "GCInitLib"); }},  // a second time
        {"GCReadPort", [&] { return CallByName(p, "GCReadPort", h, uint64_t{0x144}, buffer, size); }},
        {"GCWritePort",
         [&] { return CallByName(p, "GCWritePort", h, uint64_t{0x184}, static_cast<const void*>(buffer), size); }},
        {"GCGetPortURL", [&] { return CallByName(p, "GCGetPortURL", h, text, size); }},
        {"GCGetPortInfo", [&] { return CallByName(p, "GCGetPortInfo", h, command, type, buffer, size); }},
        {"GCRegisterEvent", [&] { return CallByName(p, "GCRegisterEvent", h, command, handleOut); }},
        {"GCUnregisterEvent", [&] { return CallByName(p, "GCUnregisterEvent", h, command); }},
        {"EventGetData", [&] { return CallByName(p, "EventGetData", h, buffer, size, uint64_t{0}); }},
        {"EventGetDataInfo",
         [&] {
             return CallByName(p, "EventGetDataInfo", h, static_cast<const void*>(buffer), size_t{0}, command, type,
                               buffer, size);
         }},
        {"EventGetInfo", [&] { return CallByName(p, "EventGetInfo", h, command, type, buffer, size); }},
        {"EventFlush", [&] { return CallByName(p, "EventFlush", h); }},
        {"EventKill", [&] { return CallByName(p, "EventKill", h); }},
        {"TLOpen", [&] { return CallByName(p, "TLOpen", handleOut); }},
        {"TLClose", [&] { return CallByName(p, "TLClose", h); }},
        {"TLGetInfo", [&] { return CallByName(p, "TLGetInfo", h, command, type, buffer, size); }},
        {"TLGetNumInterfaces", [&] { return CallByName(p, "TLGetNumInterfaces", h, count); }},
        {"TLGetInterfaceID", [&] { return CallByName(p, "TLGetInterfaceID", h, index, text, size); }},
        {"TLGetInterfaceInfo",
         [&] {
             return CallByName(p, "TLGetInterfaceInfo", h, static_cast<const char*>(nullptr), command, type, buffer,
                               size);
         }},
        {"TLOpenInterface", [&] { return CallByName(p, "TLOpenInterface", h, "SIM-IF-0", handleOut); }},
        {"TLUpdateInterfaceList",
         [&] { return CallByName(p, "TLUpdateInterfaceList", h, static_cast<bool8_t*>(nullptr), uint64_t{0}); }},
        {"IFClose", [&] { return CallByName(p, "IFClose", h); }},
        {"IFGetInfo", [&] { return CallByName(p, "IFGetInfo", h, command, type, buffer, size); }},
        {"IFGetNumDevices", [&] { return CallByName(p, "IFGetNumDevices", h, count); }},
        {"IFGetDeviceID", [&] { return CallByName(p, "IFGetDeviceID", h, index, text, size); }},
        {"IFUpdateDeviceList",
         [&] { return CallByName(p, "IFUpdateDeviceList", h, static_cast<bool8_t*>(nullptr), uint64_t{0}); }},
        {"IFGetDeviceInfo",
         [&] { return CallByName(p, "IFGetDeviceInfo", h, "SIM-SN0001", command, type, buffer, size); }},
        {"IFOpenDevice",
         [&] { return CallByName(p, "IFOpenDevice", h, "SIM-SN0001", int32_t{DEVICE_ACCESS_EXCLUSIVE}, handleOut); }},
        {"DevGetPort", [&] { return CallByName(p, "DevGetPort", h, handleOut); }},
        {"DevGetNumDataStreams", [&] { return CallByName(p, "DevGetNumDataStreams", h, count); }},
        {"DevGetDataStreamID", [&] { return CallByName(p, "DevGetDataStreamID", h, index, text, size); }},
        {"DevOpenDataStream", [&] { return CallByName(p, "DevOpenDataStream", h, "Stream0", handleOut); }},
        {"DevGetInfo", [&] { return CallByName(p, "DevGetInfo", h, command, type, buffer, size); }},
        {"DevClose", [&] { return CallByName(p, "DevClose", h); }},
        {"DSAnnounceBuffer",
         [&] { return CallByName(p, "DSAnnounceBuffer", h, buffer, size_t{0}, buffer, handleOut); }},
        {"DSAllocAndAnnounceBuffer",
         [&] { return CallByName(p, "DSAllocAndAnnounceBuffer", h, size_t{0}, buffer, handleOut); }},
        {"DSFlushQueue", [&] { return CallByName(p, "DSFlushQueue", h, command); }},
        {"DSStartAcquisition", [&] { return CallByName(p, "DSStartAcquisition", h, command, uint64_t{0}); }},
        {"DSStopAcquisition", [&] { return CallByName(p, "DSStopAcquisition", h, command); }},
        {"DSGetInfo", [&] { return CallByName(p, "DSGetInfo", h, command, type, buffer, size); }},
        {"DSGetBufferID", [&] { return CallByName(p, "DSGetBufferID", h, index, handleOut); }},
        {"DSClose", [&] { return CallByName(p, "DSClose", h); }},
        {"DSRevokeBuffer", [&] { return CallByName(p, "DSRevokeBuffer", h, h, handleOut, handleOut); }},
        {"DSQueueBuffer", [&] { return CallByName(p, "DSQueueBuffer", h, h); }},
        {"DSGetBufferInfo", [&] { return CallByName(p, "DSGetBufferInfo", h, h, command, type, buffer, size); }},
        {"GCGetNumPortURLs", [&] { return CallByName(p, "GCGetNumPortURLs", h, count); }},
        {"GCGetPortURLInfo", [&] { return CallByName(p, "GCGetPortURLInfo", h, index, command, type, buffer, size); }},
        {"GCReadPortStacked",
         [&] { return CallByName(p, "GCReadPortStacked", h, static_cast<PORT_REGISTER_STACK_ENTRY*>(nullptr), size); }},
        {"GCWritePortStacked",
         [&] {
             return CallByName(p, "GCWritePortStacked", h, static_cast<PORT_REGISTER_STACK_ENTRY*>(nullptr), size);
         }},
        {"DSGetBufferChunkData",
         [&] { return CallByName(p, "DSGetBufferChunkData", h, h, static_cast<SINGLE_CHUNK_DATA*>(nullptr), size); }},
        {"IFGetParentTL", [&] { return CallByName(p, "IFGetParentTL", h, handleOut); }},
        {"DevGetParentIF", [&] { return CallByName(p, "DevGetParentIF", h, handleOut); }},
        {"DSGetParentDev", [&] { return CallByName(p, "DSGetParentDev", h, handleOut); }},
        {"DSGetNumBufferParts", [&] { return CallByName(p, "DSGetNumBufferParts", h, h, count); }},
        {"DSGetBufferPartInfo",
         [&] { return CallByName(p, "DSGetBufferPartInfo", h, h, index, command, type, buffer, size); }},
        {"DSAnnounceCompositeBuffer",
         [&] { return CallByName(p, "DSAnnounceCompositeBuffer", h, size_t{0}, handleOut, size, buffer, handleOut); }},
        {"DSGetBufferInfoStacked", [&] { return CallByName(p, "DSGetBufferInfoStacked", h, h, buffer, size_t{0}); }},
        {"DSGetBufferPartInfoStacked",
         [&] { return CallByName(p, "DSGetBufferPartInfoStacked", h, h, buffer, size_t{0}); }},
        {"DSGetNumFlows", [&] { return CallByName(p, "DSGetNumFlows", h, count); }},
        {"DSGetFlowInfo", [&] { return CallByName(p, "DSGetFlowInfo", h, index, command, type, buffer, size); }},
        {"DSGetNumBufferSegments", [&] { return CallByName(p, "DSGetNumBufferSegments", h, h, count); }},
        {"DSGetBufferSegmentInfo",
         [&] { return CallByName(p, "DSGetBufferSegmentInfo", h, h, index, command, type, buffer, size); }},
        {"DPEnterUpgradeMode",
         [&] { return CallByName(p, "DPEnterUpgradeMode", h, uint32_t{1000}, uint32_t{0}, uint32_t{20}); }},
        {"DPWriteUpgradeFile",
         [&] {
             return CallByName(p, "DPWriteUpgradeFile", h, uint64_t{0x1200000}, static_cast<const void*>(buffer), size,
                               uint32_t{4096}, uint32_t{32}, uint32_t{0}, uint32_t{1});
         }},
        {"DPLeaveUpgradeMode", [&] { return CallByName(p, "DPLeaveUpgradeMode", h); }},
    };
    // The table holds every exported entry point but GCCloseLib, which ends the test.
    std::set<std::string> names{"GCCloseLib"};
    for (const EntryCall& c : calls) {
        names.insert(c.name);
    }
    ASSERT_EQ(names, ExportedEntryPoints(BinDir() / "ZvU3VTL.cti"));

    std::vector<std::pair<std::string, int>> expected;
    TL_HANDLE tl = nullptr;
    expected.emplace_back("TLOpen", p.TLOpen(&tl));  // before GCInitLib
    expected.emplace_back("GCInitLib", p.GCInitLib());
    ASSERT_EQ(expected.back().second, GC_ERR_SUCCESS) << p.LastErrorText();
    for (const EntryCall& c : calls) {
        const GC_ERROR result = c.call();
        EXPECT_NE(result, GC_ERR_SUCCESS) << c.name << " accepted a call without a valid handle or argument";
        expected.emplace_back(c.name, result);
    }
    expected.emplace_back("GCCloseLib", p.GCCloseLib());
    uint32_t n = 0;
    expected.emplace_back("TLGetNumInterfaces", p.TLGetNumInterfaces(tl, &n));  // after GCCloseLib
    EXPECT_EQ(expected.front().second, GC_ERR_NOT_INITIALIZED);
    EXPECT_EQ(expected.back().second, GC_ERR_NOT_INITIALIZED);

    EXPECT_EQ(RecordedCalls(sim), expected);
}

TEST(Producer, TheGettersOfAnEnumerationAreRecordedWithTheirAnswers) {
    SimulatedCameras sim(Description({Camera("SN0001"), Camera("SN0002")}));
    Producer p;
    {
        Session s(p);
        ASSERT_EQ(s.DeviceIds(), (std::vector<std::string>{"SIM-SN0001", "SIM-SN0002"}));
        uint32_t interfaces = 0;
        ASSERT_EQ(p.TLGetNumInterfaces(s.tl, &interfaces), GC_ERR_SUCCESS);
        char name[64] = {};
        size_t size = sizeof name;
        INFO_DATATYPE type = 0;
        ASSERT_EQ(p.TLGetInfo(s.tl, TL_INFO_VENDOR, &type, name, &size), GC_ERR_SUCCESS);
        size = sizeof name;
        ASSERT_EQ(p.TLGetInterfaceInfo(s.tl, "SIM-IF-0", INTERFACE_INFO_DISPLAYNAME, &type, name, &size),
                  GC_ERR_SUCCESS);
    }
    const std::vector<std::pair<std::string, int>> expected = {{"GCInitLib", 0},
                                                               {"TLOpen", 0},
                                                               {"TLUpdateInterfaceList", 0},
                                                               {"TLGetInterfaceID", 0},
                                                               {"TLGetInterfaceID", 0},
                                                               {"TLOpenInterface", 0},
                                                               {"IFUpdateDeviceList", 0},
                                                               {"IFGetNumDevices", 0},
                                                               {"IFGetDeviceID", 0},
                                                               {"IFGetDeviceID", 0},
                                                               {"TLGetNumInterfaces", 0},
                                                               {"TLGetInfo", 0},
                                                               {"TLGetInterfaceInfo", 0},
                                                               {"TLClose", 0},
                                                               {"GCCloseLib", 0}};
    EXPECT_EQ(RecordedCalls(sim), expected);
    const std::vector<json> ids = sim.Events({.call = "IFGetDeviceID"});
    ASSERT_EQ(ids.size(), 2u);
    EXPECT_EQ(ids[0]["device_id"], "SIM-SN0001");
    EXPECT_EQ(ids[1]["index"], 1);
    EXPECT_EQ(ids[1]["device_id"], "SIM-SN0002");
    EXPECT_EQ(sim.Events({.call = "IFGetNumDevices"})[0]["devices"], 2);
    EXPECT_EQ(sim.Events({.call = "TLGetNumInterfaces"})[0]["interfaces"], 1);
    EXPECT_EQ(sim.Events({.call = "TLGetInfo"})[0]["command"], TL_INFO_VENDOR);
    EXPECT_EQ(sim.Events({.call = "TLGetInterfaceInfo"})[0]["interface"], "SIM-IF-0");
}

namespace {

// xmllint's verdicts on device XML files against the restated GenApi rules. A
// Windows test program under Wine cannot start the host's xmllint and wait for
// it, so there FLASHWRIGHT_XML_CHECK_FOLDER names a folder the files and the
// verdict expected of each are handed over in, and tests/sim/check-device-xml
// has the host's xmllint check them once the program has ended.
class GenApiRulesCheck {
public:
    void ExpectAccepted(const fs::path& file) { Check(file, "accepted", ""); }
    // Refused with a message that names the cause.
    void ExpectRefused(const fs::path& file, const std::string& cause) { Check(file, "refused", cause); }

private:
    void Check(const fs::path& file, const std::string& verdict, const std::string& cause) {
        SCOPED_TRACE(file.filename().string());
        if (m_handOver) {
            const fs::path folder(*m_handOver);
            ASSERT_TRUE(fs::copy_file(file, folder / file.filename(), fs::copy_options::overwrite_existing));
            std::ofstream expected(folder / "expected.txt", std::ios::app | std::ios::binary);
            expected << file.filename().string() << ' ' << verdict << ' ' << cause << '\n';
            ASSERT_TRUE(expected.flush()) << folder;
            return;
        }
        ProcessOptions options;
        options.errorIntoOutput = true;
        const ProcessResult result =
            RunProcess("xmllint", {"--noout", "--schema", ZVSIM_XML_RULES, file.string()}, options);
        ASSERT_EQ(result.startError, "") << "(a Windows build is checked through tests/sim/check-device-xml)";
        ASSERT_TRUE(result.Exited()) << result.out;
        if (verdict == "accepted") {
            EXPECT_EQ(result.exitCode, 0) << result.out;
        } else {
            EXPECT_NE(result.exitCode, 0) << result.out;
            EXPECT_NE(result.out.find(cause), std::string::npos) << result.out;
        }
    }

    const std::optional<std::string> m_handOver = GetEnv("FLASHWRIGHT_XML_CHECK_FOLDER");
};

// The device XML as a GenICam consumer gets it: URL from the port, then the bytes it names.
std::string ReadDeviceXml(const Producer& p, PORT_HANDLE port) {
    char url[256] = {};
    size_t size = sizeof url;
    EXPECT_EQ(p.GCGetPortURL(port, url, &size), GC_ERR_SUCCESS) << p.LastErrorText();
    const char* tail = std::strchr(url, ';');
    unsigned long long address = 0;
    unsigned long long length = 0;
    if (tail == nullptr || std::sscanf(tail, ";%llx;%llx", &address, &length) != 2) {
        ADD_FAILURE() << "not a local URL: " << url;
        return "";
    }
    std::string xml(length, '\0');
    size = length;
    EXPECT_EQ(p.GCReadPort(port, address, xml.data(), &size), GC_ERR_SUCCESS) << p.LastErrorText();
    return xml;
}

}  // namespace

TEST(Producer, DeviceXmlFollowsTheGenApiSchemaRules) {
    json awkward = Camera("SN0003", "2X cam/\xC3\xA9\x01");
    awkward["vendor"] = "Zorvan & Co.";
    SimulatedCameras sim(Description({Camera("SN0001"), Camera("SN0002", "ORV-2M-L"), awkward}));
    Producer p;
    Session s(p);
    ASSERT_EQ(s.DeviceIds().size(), 3u);
    struct Case {
        const char* deviceId;
        const char* modelName;
        const char* vendorName;
        const char* toolTip;
    };
    const Case cases[] = {
        {"SIM-SN0001", "ORV_2C", "Zorvan", "Zorvan ORV-2C"},
        {"SIM-SN0002", "ORV_2M_L", "Zorvan", "Zorvan ORV-2M-L"},
        {"SIM-SN0003", "Model_2X_cam____", "Zorvan___Co_", "Zorvan &amp; Co. 2X cam/\xC3\xA9?"},
    };
    GenApiRulesCheck rules;
    std::string firstXml;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.deviceId);
        const std::string xml = ReadDeviceXml(p, s.Open(c.deviceId).port);
        if (firstXml.empty()) {
            firstXml = xml;
        }
        EXPECT_NE(xml.find("ModelName=\"" + std::string(c.modelName) + "\""), std::string::npos) << xml;
        EXPECT_NE(xml.find("VendorName=\"" + std::string(c.vendorName) + "\""), std::string::npos) << xml;
        EXPECT_NE(xml.find("ToolTip=\"" + std::string(c.toolTip) + "\""), std::string::npos) << xml;
        const fs::path file = sim.Root() / (std::string(c.deviceId) + ".xml");
        std::ofstream(file, std::ios::binary) << xml;
        rules.ExpectAccepted(file);
    }

    // The rules do catch the raw model name.
    std::string raw = firstXml;
    const std::string valid = "ModelName=\"ORV_2C\"";
    ASSERT_NE(raw.find(valid), std::string::npos);
    raw.replace(raw.find(valid), valid.size(), "ModelName=\"ORV-2C\"");
    const fs::path file = sim.Root() / "raw-model-name.xml";
    std::ofstream(file, std::ios::binary) << raw;
    rules.ExpectRefused(file, "ModelName");
}
