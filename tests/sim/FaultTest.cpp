#include <fstream>

#include "SimulatorLibraries.h"

using namespace simtest;

namespace {

// The camera under test is "SIM-SN0001"; a second, healthy camera "SIM-SN0002"
// shows that a fault stays with its own camera.
struct FaultCase {
    const char* name;
    std::function<void(json& description, json& camera)> configure;
    std::function<void(const Producer&, const Sdk&, const SimulatedCameras&)> check;
};

void PrintTo(const FaultCase& c, std::ostream* out) { *out << c.name; }

std::string Fault() { return "SIM-SN0001"; }

void Upgrade(const Producer& p, const Session& s, const std::string& id, GC_ERROR* enter, GC_ERROR* write,
             GC_ERROR* leave) {
    const Session::Opened cam = s.Open(id);
    *enter = p.DPEnterUpgradeMode(cam.port, 1000, 0, 20);
    *write = GC_ERR_SUCCESS;
    for (uint64_t address : {0x1200000ull, 0x12f0000ull, 0x13f7000ull}) {
        const std::vector<uint8_t> bytes = Pattern(64, static_cast<uint8_t>(address >> 12));
        size_t size = bytes.size();
        *write = p.DPWriteUpgradeFile(cam.port, address, bytes.data(), &size, 4096, 32, 0, 1);
        if (*write != GC_ERR_SUCCESS) break;
    }
    *leave = p.DPLeaveUpgradeMode(cam.port);
    p.DevClose(cam.device);
}

GC_ERROR ReadResult(const Producer& p, PORT_HANDLE port, uint64_t address, size_t width) {
    std::vector<uint8_t> buffer(width);
    size_t size = width;
    return p.GCReadPort(port, address, buffer.data(), &size);
}

// The export sequence of the parameter backup, stopping at the first failure.
int32_t Export(const Sdk& sdk, uint32_t handle, const std::string& path, std::vector<int>& ordinals) {
    ordinals.push_back(412);
    if (int32_t r = sdk.setInteger(handle, kFeatureUserSetSelector, 1)) return r;
    ordinals.push_back(421);
    if (int32_t r = sdk.execute(handle, kFeatureUserSetSave)) return r;
    ordinals.push_back(700);
    return sdk.save(handle, path.c_str());
}

int32_t Import(const Sdk& sdk, uint32_t handle, const std::string& path, std::vector<int>& ordinals) {
    ordinals.push_back(701);
    if (int32_t r = sdk.load(handle, path.c_str(), 1)) return r;
    ordinals.push_back(412);
    if (int32_t r = sdk.setInteger(handle, kFeatureUserSetSelector, 1)) return r;
    ordinals.push_back(421);
    if (int32_t r = sdk.execute(handle, kFeatureUserSetLoad)) return r;
    ordinals.push_back(412);
    if (int32_t r = sdk.setInteger(handle, kFeatureUserSetSelector, 0)) return r;
    ordinals.push_back(421);
    return sdk.execute(handle, kFeatureUserSetSave);
}

const FaultCase kCases[] = {
    {"producer.init", [](json& d, json&) { d["producer"]["init"] = -1001; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         EXPECT_EQ(p.GCInitLib(), GC_ERR_ERROR);
         EXPECT_NE(p.LastErrorText().find("simulated"), std::string::npos);
         TL_HANDLE tl = nullptr;
         EXPECT_EQ(p.TLOpen(&tl), GC_ERR_NOT_INITIALIZED);
     }},
    {"producer.tl_open", [](json& d, json&) { d["producer"]["tl_open"] = -1010; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         ASSERT_EQ(p.GCInitLib(), GC_ERR_SUCCESS);
         TL_HANDLE tl = nullptr;
         EXPECT_EQ(p.TLOpen(&tl), GC_ERR_IO);
         EXPECT_EQ(p.TLClose(tl), GC_ERR_INVALID_HANDLE);
         EXPECT_EQ(p.GCCloseLib(), GC_ERR_SUCCESS);
     }},
    {"producer.update_interfaces", [](json& d, json&) { d["producer"]["update_interfaces"] = "0x8FFF"; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         ASSERT_EQ(p.GCInitLib(), GC_ERR_SUCCESS);
         TL_HANDLE tl = nullptr;
         ASSERT_EQ(p.TLOpen(&tl), GC_ERR_SUCCESS);
         bool8_t changed = 0;
         EXPECT_EQ(p.TLUpdateInterfaceList(tl, &changed, 1000), 0x8FFF);
         p.TLClose(tl);
         p.GCCloseLib();
     }},
    {"producer.last_error", [](json& d, json&) { d["producer"]["last_error"] = false; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         DEV_HANDLE device = nullptr;
         EXPECT_EQ(p.IFOpenDevice(s.iface, "nothing", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_INVALID_ID);
         GC_ERROR code = 0;
         size_t size = 0;
         EXPECT_NE(p.GCGetLastError(&code, nullptr, &size), GC_ERR_SUCCESS);
     }},
    {"interface.open_fails",
     [](json& d, json&) {
         d["interfaces"].insert(d["interfaces"].begin(), json{{"id", "IF-BROKEN"}, {"open_fails", true}});
     },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         ASSERT_EQ(p.GCInitLib(), GC_ERR_SUCCESS);
         TL_HANDLE tl = nullptr;
         ASSERT_EQ(p.TLOpen(&tl), GC_ERR_SUCCESS);
         uint32_t n = 0;
         ASSERT_EQ(p.TLGetNumInterfaces(tl, &n), GC_ERR_SUCCESS);
         EXPECT_EQ(n, 2u);
         IF_HANDLE broken = nullptr;
         IF_HANDLE healthy = nullptr;
         EXPECT_EQ(p.TLOpenInterface(tl, "IF-BROKEN", &broken), GC_ERR_IO);
         EXPECT_EQ(p.TLOpenInterface(tl, "SIM-IF-0", &healthy), GC_ERR_SUCCESS);
         p.TLClose(tl);
         p.GCCloseLib();
     }},
    {"open (refused)", [](json&, json& c) { c["faults"]["open"] = -1005; },
     [](const Producer& p, const Sdk&, const SimulatedCameras& sim) {
         Session s(p);
         s.DeviceIds();
         DEV_HANDLE device = nullptr;
         EXPECT_EQ(p.IFOpenDevice(s.iface, Fault().c_str(), DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_ACCESS_DENIED);
         EXPECT_EQ(device, nullptr);
         EXPECT_EQ(sim.Events({.deviceId = Fault(), .call = "IFOpenDevice"}).back()["result"], GC_ERR_ACCESS_DENIED);
         s.Open("SIM-SN0002");
     }},
    {"open (-10006 still opens)", [](json&, json& c) { c["faults"]["open"] = -10006; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         s.DeviceIds();
         DEV_HANDLE device = nullptr;
         ASSERT_EQ(p.IFOpenDevice(s.iface, Fault().c_str(), DEVICE_ACCESS_EXCLUSIVE, &device), ZV_ERR_ALREADY_OPEN);
         PORT_HANDLE port = nullptr;
         ASSERT_EQ(p.DevGetPort(device, &port), GC_ERR_SUCCESS);
         EXPECT_EQ(s.ReadText(port, 0x144, 64), "SN0001");
     }},
    {"port", [](json&, json& c) { c["faults"]["port"] = true; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         s.DeviceIds();
         DEV_HANDLE device = nullptr;
         ASSERT_EQ(p.IFOpenDevice(s.iface, Fault().c_str(), DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_SUCCESS);
         PORT_HANDLE port = nullptr;
         EXPECT_EQ(p.DevGetPort(device, &port), GC_ERR_IO);
         EXPECT_EQ(p.DevClose(device), GC_ERR_SUCCESS);
     }},
    {"read_fails",
     [](json&, json& c) {
         c["faults"]["read_fails"] = {"0x144", "0xC00000"};
     },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         const Session::Opened cam = s.Open(Fault());
         EXPECT_EQ(ReadResult(p, cam.port, 0x144, 64), GC_ERR_IO);
         EXPECT_EQ(ReadResult(p, cam.port, 0xC00000, 304), GC_ERR_IO);
         EXPECT_EQ(ReadResult(p, cam.port, 0x300000, 32), GC_ERR_SUCCESS);
         EXPECT_EQ(ReadResult(p, s.Open("SIM-SN0002").port, 0x144, 64), GC_ERR_SUCCESS);
     }},
    {"vendor_read (GenCP 0x8003)", [](json&, json& c) { c["faults"]["vendor_read"] = "0x8003"; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         EXPECT_EQ(ReadResult(p, s.Open(Fault()).port, 0x300004, 4), 0x8003);
     }},
    {"vendor_read (I/O)", [](json&, json& c) { c["faults"]["vendor_read"] = -1010; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         const Session::Opened cam = s.Open(Fault());
         EXPECT_EQ(ReadResult(p, cam.port, 0x300004, 4), GC_ERR_IO);
         EXPECT_EQ(ReadResult(p, cam.port, 0x300000, 32), GC_ERR_SUCCESS);
     }},
    {"flash_vendor none", [](json&, json& c) { c["flash_vendor"] = "none"; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         EXPECT_EQ(ReadResult(p, s.Open(Fault()).port, 0x300004, 4), 0x8003);
     }},
    {"model_info", [](json&, json& c) { c["faults"]["model_info"] = true; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         s.DeviceIds();
         char text[128] = {};
         size_t size = 64;
         INFO_DATATYPE type = INFO_DATATYPE_STRING;
         EXPECT_EQ(p.IFGetDeviceInfo(s.iface, Fault().c_str(), DEVICE_INFO_MODEL, &type, text, &size), GC_ERR_IO);
         size = 128;
         EXPECT_EQ(p.IFGetDeviceInfo(s.iface, Fault().c_str(), DEVICE_INFO_DISPLAYNAME, &type, text, &size),
                   GC_ERR_SUCCESS);
         EXPECT_EQ(s.ReadText(s.Open(Fault()).port, 0x44, 64), "ORV-2C");  // the register still answers
     }},
    {"display_name", [](json&, json& c) { c["faults"]["display_name"] = true; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         s.DeviceIds();
         char text[128] = {};
         size_t size = 128;
         INFO_DATATYPE type = INFO_DATATYPE_STRING;
         EXPECT_EQ(p.IFGetDeviceInfo(s.iface, Fault().c_str(), DEVICE_INFO_DISPLAYNAME, &type, text, &size), GC_ERR_IO);
         size = 64;
         EXPECT_EQ(p.IFGetDeviceInfo(s.iface, Fault().c_str(), DEVICE_INFO_MODEL, &type, text, &size), GC_ERR_SUCCESS);
     }},
    {"url_info", [](json&, json& c) { c["faults"]["url_info"] = true; },
     [](const Producer& p, const Sdk&, const SimulatedCameras&) {
         Session s(p);
         const Session::Opened cam = s.Open(Fault());
         int32_t value = 0;
         size_t size = 4;
         INFO_DATATYPE type = INFO_DATATYPE_INT32;
         EXPECT_EQ(p.GCGetPortURLInfo(cam.port, 0, URL_INFO_FILE_VER_MAJOR, &type, &value, &size), GC_ERR_IO);
         EXPECT_EQ(ReadResult(p, cam.port, 0x300000, 32), GC_ERR_SUCCESS);
     }},
    {"enter", [](json&, json& c) { c["faults"]["enter"] = true; },
     [](const Producer& p, const Sdk&, const SimulatedCameras& sim) {
         Session s(p);
         GC_ERROR enter, write, leave;
         Upgrade(p, s, Fault(), &enter, &write, &leave);
         EXPECT_EQ(enter, GC_ERR_IO);
         EXPECT_EQ(write, GC_ERR_ACCESS_DENIED);
         EXPECT_EQ(leave, GC_ERR_ACCESS_DENIED);
         EXPECT_FALSE(fs::exists(sim.CameraFolder(Fault()) / "flash"));
     }},
    {"write_fails_at", [](json&, json& c) { c["faults"]["write_fails_at"] = "0x12f0000"; },
     [](const Producer& p, const Sdk&, const SimulatedCameras& sim) {
         Session s(p);
         GC_ERROR enter, write, leave;
         Upgrade(p, s, Fault(), &enter, &write, &leave);
         EXPECT_EQ(enter, GC_ERR_SUCCESS);
         EXPECT_EQ(write, GC_ERR_IO);
         EXPECT_EQ(leave, GC_ERR_SUCCESS);
         EXPECT_TRUE(fs::exists(sim.FlashFile(Fault(), 0x1200000)));
         EXPECT_FALSE(fs::exists(sim.FlashFile(Fault(), 0x12f0000)));
         // It reboots and comes back, but with its old firmware.
         ASSERT_TRUE(s.WaitUntilListed(Fault(), 30.0));
         EXPECT_EQ(s.ReadText(s.Open(Fault()).port, 0x300000, 32), "V01.03.001.002:V01.05");
     }},
    {"leave", [](json&, json& c) { c["faults"]["leave"] = true; },
     [](const Producer& p, const Sdk&, const SimulatedCameras& sim) {
         Session s(p);
         GC_ERROR enter, write, leave;
         Upgrade(p, s, Fault(), &enter, &write, &leave);
         EXPECT_EQ(enter, GC_ERR_SUCCESS);
         EXPECT_EQ(write, GC_ERR_SUCCESS);
         EXPECT_EQ(leave, GC_ERR_IO);
         EXPECT_EQ(sim.CameraState(Fault())["upgrade_mode"], true);
         EXPECT_EQ(s.DeviceIds().size(), 2u);  // no reboot
     }},
    {"close", [](json&, json& c) { c["faults"]["close"] = true; },
     [](const Producer& p, const Sdk& sdk, const SimulatedCameras&) {
         {
             Session s(p);
             const Session::Opened cam = s.Open(Fault());
             EXPECT_EQ(p.DevClose(cam.device), GC_ERR_IO);
             EXPECT_EQ(s.ReadText(cam.port, 0x144, 64), "SN0001");  // still open
         }
         // Closing the transport layer let go of it.
         ASSERT_EQ(sdk.open(), ZV_OK);
         EXPECT_NE(sdk.OpenCamera("SN0001"), 0u);
         sdk.close();
     }},
    {"returns", [](json&, json& c) { c["faults"]["returns"] = false; },
     [](const Producer& p, const Sdk&, const SimulatedCameras& sim) {
         Session s(p);
         GC_ERROR enter, write, leave;
         Upgrade(p, s, Fault(), &enter, &write, &leave);
         ASSERT_EQ(leave, GC_ERR_SUCCESS);
         ASSERT_TRUE(sim.WaitPastReboot(Fault()));
         EXPECT_EQ(s.DeviceIds(), std::vector<std::string>{"SIM-SN0002"});
         EXPECT_EQ(sim.CameraState(Fault())["gone"], true);
     }},
    {"sdk_open", [](json&, json& c) { c["faults"]["sdk_open"] = true; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras& sim) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         int32_t status = 0;
         EXPECT_EQ(sdk.OpenCamera("SN0001", &status), 0u);
         EXPECT_EQ(status, ZV_ERR_ACCESS_DENIED);
         EXPECT_NE(sdk.OpenCamera("SN0002"), 0u);
         EXPECT_EQ(sim.Events({.deviceId = Fault(), .call = "ZvIAPI_301"}).back()["result"], ZV_ERR_ACCESS_DENIED);
         sdk.close();
     }},
    {"sdk_export_fails 412", [](json&, json& c) { c["faults"]["sdk_export_fails"] = 412; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras& sim) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         const uint32_t handle = sdk.OpenCamera("SN0001");
         std::vector<int> ordinals;
         EXPECT_EQ(Export(sdk, handle, (sim.Root() / "p.ini").string(), ordinals), ZV_ERR_NO_RESPONSE);
         EXPECT_EQ(ordinals, std::vector<int>{412});
         ordinals.clear();
         // Importing is another phase: 412 answers there.
         EXPECT_EQ(Import(sdk, handle, (sim.Root() / "p.ini").string(), ordinals), ZV_ERR_FILE);
         EXPECT_EQ(sdk.setInteger(handle, kFeatureUserSetSelector, 1), ZV_OK);
         sdk.close();
     }},
    {"sdk_export_fails 700", [](json&, json& c) { c["faults"]["sdk_export_fails"] = 700; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras& sim) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         std::vector<int> ordinals;
         EXPECT_EQ(Export(sdk, sdk.OpenCamera("SN0001"), (sim.Root() / "p.ini").string(), ordinals),
                   ZV_ERR_NO_RESPONSE);
         EXPECT_EQ(ordinals, (std::vector<int>{412, 421, 700}));
         EXPECT_FALSE(fs::exists(sim.Root() / "p.ini"));
         sdk.close();
     }},
    {"sdk_import_fails 701", [](json&, json& c) { c["faults"]["sdk_import_fails"] = 701; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras& sim) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         const uint32_t handle = sdk.OpenCamera("SN0001");
         std::vector<int> ordinals;
         const std::string path = (sim.Root() / "p.ini").string();
         ASSERT_EQ(Export(sdk, handle, path, ordinals), ZV_OK);
         ordinals.clear();
         EXPECT_EQ(Import(sdk, handle, path, ordinals), ZV_ERR_NO_RESPONSE);
         EXPECT_EQ(ordinals, std::vector<int>{701});
         sdk.close();
     }},
    {"sdk_import_fails 421", [](json&, json& c) { c["faults"]["sdk_import_fails"] = 421; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras& sim) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         const std::string path = (sim.Root() / "p.ini").string();
         std::vector<int> ordinals;
         const uint32_t exporting = sdk.OpenCamera("SN0001");
         ASSERT_EQ(Export(sdk, exporting, path, ordinals), ZV_OK);  // 421 answers while exporting
         sdk.closeCamera(exporting);
         ordinals.clear();
         EXPECT_EQ(Import(sdk, sdk.OpenCamera("SN0001"), path, ordinals), ZV_ERR_NO_RESPONSE);
         EXPECT_EQ(ordinals, (std::vector<int>{701, 412, 421}));
         sdk.close();
     }},
    {"sdk_class_code", [](json&, json& c) { c["faults"]["sdk_class_code"] = 5; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras&) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         const std::vector<Sdk::Entry> entries = sdk.List();
         ASSERT_EQ(entries.size(), 2u);
         EXPECT_EQ(entries[0].identity, "SN0001");
         EXPECT_EQ(entries[0].classCode, 5);
         EXPECT_EQ(entries[1].classCode, 3);
         sdk.close();
     }},
    {"sdk.init", [](json& d, json&) { d["sdk"]["init"] = -1; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras&) {
         EXPECT_EQ(sdk.open(), -1);
         uint32_t n = 0;
         EXPECT_EQ(sdk.count(&n, 1000), ZV_ERR_NOT_OPEN);
     }},
    {"sdk.list", [](json& d, json&) { d["sdk"]["list"] = -12; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras&) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         uint32_t n = 0;
         EXPECT_EQ(sdk.count(&n, 1000), -12);
         sdk.close();
     }},
    {"sdk.info", [](json& d, json&) { d["sdk"]["info"] = -12; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras&) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         uint32_t n = 0;
         ASSERT_EQ(sdk.count(&n, 1000), ZV_OK);
         std::vector<uint8_t> buffer(n * kEntrySize);
         uint32_t size = static_cast<uint32_t>(buffer.size());
         EXPECT_EQ(sdk.entries(buffer.data(), &size), -12);
         sdk.close();
     }},
    {"sdk.describe", [](json& d, json&) { d["sdk"]["describe"] = false; },
     [](const Producer&, const Sdk& sdk, const SimulatedCameras&) {
         ASSERT_EQ(sdk.open(), ZV_OK);
         int32_t status = ZV_ERR_NOT_FOUND;
         uint32_t size = 0;
         EXPECT_EQ(sdk.describe(&status, nullptr, &size), ZV_OK);
         ASSERT_GT(size, 0u);
         std::string text(size, '\0');
         EXPECT_NE(sdk.describe(&status, text.data(), &size), ZV_OK);
         sdk.close();
     }},
};

}  // namespace

class DescribedFault : public testing::TestWithParam<FaultCase> {};

TEST_P(DescribedFault, ShowsItsOutcome) {
    const FaultCase& c = GetParam();
    json description = Description({Camera("SN0001"), Camera("SN0002")});
    c.configure(description, description["interfaces"][0]["cameras"][0]);
    SimulatedCameras sim(description);
    Producer producer;
    Sdk sdk;
    c.check(producer, sdk, sim);
}

INSTANTIATE_TEST_SUITE_P(EveryKey, DescribedFault, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p != '\0'; ++p) {
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             }
                             return name;
                         });
