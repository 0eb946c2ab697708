#include <fstream>

#include "SimulatorLibraries.h"

using namespace simtest;

namespace {

constexpr uint32_t kExposure = 0x30001770;  // one of the factory parameters

int64_t LiveParameter(const SimulatedCameras& sim, const std::string& id, uint32_t feature) {
    char key[16];
    std::snprintf(key, sizeof key, "0x%x", feature);
    return sim.CameraState(id)["parameters"]["live"][key].get<int64_t>();
}

std::vector<std::string> SdkCalls(const SimulatedCameras& sim, const std::string& id) {
    std::vector<std::string> calls;
    for (const json& event : sim.Events()) {
        if (event["source"] == "sdk" && event["device_id"] == id) {
            calls.push_back(event["call"].get<std::string>() +
                            (event.contains("feature") ? ":" + event["feature"].get<std::string>() : ""));
        }
    }
    return calls;
}

}  // namespace

TEST(Sdk, ListsTheSameCamerasAsTheProducer) {
    json odd = Camera("SN0003", "ORV-2M");
    odd["sdk_identity"] = "ZV-Identity-3";
    SimulatedCameras sim(Description({Camera("SN0001"), Camera("SN0002", "ORV-2C-L"), odd}));
    Producer p;
    std::vector<std::string> serials;
    {
        Session s(p);
        for (const std::string& id : s.DeviceIds()) {
            serials.push_back(s.ReadText(s.Open(id).port, 0x144, 64));
        }
    }
    Sdk sdk;
    ASSERT_EQ(sdk.open(), ZV_OK);
    const std::vector<Sdk::Entry> entries = sdk.List();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(serials, (std::vector<std::string>{"SN0001", "SN0002", "SN0003"}));
    EXPECT_EQ(entries[0].identity, "SN0001");
    EXPECT_EQ(entries[1].identity, "SN0002");
    EXPECT_EQ(entries[1].model, "ORV-2C-L");
    EXPECT_EQ(entries[2].identity, "ZV-Identity-3");
    for (const Sdk::Entry& entry : entries) {
        EXPECT_EQ(entry.classCode, 3);
        EXPECT_NE(sdk.OpenCamera(entry.identity), 0u) << entry.identity;
    }
    EXPECT_EQ(sdk.close(), ZV_OK);
    EXPECT_EQ(sdk.close(), ZV_ERR_NOT_OPEN);
}

// The backup round trip the upgrade tool makes: export, upgrade (which resets
// the parameters to factory values), import.
TEST(Sdk, UserParametersSurviveAnUpgradeThroughTheirFile) {
    SimulatedCameras sim(Description({Camera("SN0001"), Camera("SN0002")}));
    const std::string file = (sim.Root() / "SN0001.ini").string();
    Sdk sdk;
    ASSERT_EQ(sdk.open(), ZV_OK);
    ASSERT_EQ(sdk.List().size(), 2u);
    uint32_t handle = sdk.OpenCamera("SN0001");
    ASSERT_NE(handle, 0u);
    ASSERT_EQ(sdk.setInteger(handle, kExposure, 25000), ZV_OK);  // the operator's setting
    ASSERT_EQ(sdk.setInteger(handle, kFeatureUserSetSelector, 1), ZV_OK);
    ASSERT_EQ(sdk.execute(handle, kFeatureUserSetSave), ZV_OK);
    ASSERT_EQ(sdk.save(handle, file.c_str()), ZV_OK);
    ASSERT_EQ(sdk.closeCamera(handle), ZV_OK);
    ASSERT_EQ(sdk.close(), ZV_OK);
    ASSERT_TRUE(fs::exists(file));

    {
        Producer p;
        Session s(p);
        const Session::Opened cam = s.Open("SIM-SN0001");
        ASSERT_EQ(p.DPEnterUpgradeMode(cam.port, 1000, 0, 20), GC_ERR_SUCCESS);
        const std::vector<uint8_t> bytes = Pattern(256, 1);
        size_t size = bytes.size();
        ASSERT_EQ(p.DPWriteUpgradeFile(cam.port, 0x13e0000, bytes.data(), &size, 4096, 32, 0, 1), GC_ERR_SUCCESS);
        ASSERT_EQ(p.DPLeaveUpgradeMode(cam.port), GC_ERR_SUCCESS);
        ASSERT_EQ(p.DevClose(cam.device), GC_ERR_SUCCESS);
        ASSERT_TRUE(s.WaitUntilListed("SIM-SN0001", 30.0));
    }
    EXPECT_EQ(LiveParameter(sim, "SIM-SN0001", kExposure), 10000);  // factory value after the reboot

    ASSERT_EQ(sdk.open(), ZV_OK);
    ASSERT_EQ(sdk.List().size(), 2u);
    handle = sdk.OpenCamera("SN0001");
    ASSERT_EQ(sdk.load(handle, file.c_str(), 1), ZV_OK);
    ASSERT_EQ(sdk.setInteger(handle, kFeatureUserSetSelector, 1), ZV_OK);
    ASSERT_EQ(sdk.execute(handle, kFeatureUserSetLoad), ZV_OK);
    ASSERT_EQ(sdk.setInteger(handle, kFeatureUserSetSelector, 0), ZV_OK);
    ASSERT_EQ(sdk.execute(handle, kFeatureUserSetSave), ZV_OK);
    ASSERT_EQ(sdk.close(), ZV_OK);  // closes the camera as well

    EXPECT_EQ(LiveParameter(sim, "SIM-SN0001", kExposure), 25000);
    const json state = sim.CameraState("SIM-SN0001");
    EXPECT_EQ(state["parameters"]["sets"][0]["0x30001770"], 25000);  // the power-on set
    EXPECT_EQ(LiveParameter(sim, "SIM-SN0002", kExposure), 10000);
    EXPECT_EQ(SdkCalls(sim, "SIM-SN0001"),
              (std::vector<std::string>{"ZvIAPI_301", "ZvIAPI_412:0x30001770", "ZvIAPI_412:0x30001b58",
                                        "ZvIAPI_421:0x70001b59", "ZvIAPI_700", "ZvIAPI_302", "ZvIAPI_301", "ZvIAPI_701",
                                        "ZvIAPI_412:0x30001b58", "ZvIAPI_421:0x70001b5a", "ZvIAPI_412:0x30001b58",
                                        "ZvIAPI_421:0x70001b59"}));
}

TEST(Sdk, ProducerAndSdkNeverHoldACameraTogether) {
    SimulatedCameras sim(Description({Camera("SN0001"), Camera("SN0002")}));
    Producer p;
    Sdk sdk;
    {
        Session s(p);
        const Session::Opened cam = s.Open("SIM-SN0001");
        ASSERT_EQ(sdk.open(), ZV_OK);
        int32_t status = 0;
        EXPECT_EQ(sdk.OpenCamera("SN0001", &status), 0u);
        EXPECT_EQ(status, ZV_ERR_IN_USE);
        const uint32_t other = sdk.OpenCamera("SN0002");
        EXPECT_NE(other, 0u);  // a camera the producer does not hold

        DEV_HANDLE device = nullptr;
        s.DeviceIds();
        EXPECT_EQ(p.IFOpenDevice(s.iface, "SIM-SN0002", DEVICE_ACCESS_EXCLUSIVE, &device), GC_ERR_RESOURCE_IN_USE);
        int32_t access = 0;
        size_t size = sizeof access;
        INFO_DATATYPE type = 0;
        ASSERT_EQ(p.IFGetDeviceInfo(s.iface, "SIM-SN0002", DEVICE_INFO_ACCESS_STATUS, &type, &access, &size),
                  GC_ERR_SUCCESS);
        EXPECT_EQ(access, DEVICE_ACCESS_STATUS_BUSY);
        EXPECT_EQ(sdk.closeCamera(other), ZV_OK);
        EXPECT_EQ(p.DevClose(cam.device), GC_ERR_SUCCESS);
        EXPECT_NE(sdk.OpenCamera("SN0001"), 0u);  // free again
        sdk.close();
        s.Open("SIM-SN0002");
    }
    const std::vector<json> violations = sim.Events({.call = "violation"});
    ASSERT_EQ(violations.size(), 2u);
    EXPECT_EQ(violations[0]["device_id"], "SIM-SN0001");
    EXPECT_EQ(violations[0]["source"], "sdk");
    EXPECT_NE(violations[0]["detail"].get<std::string>().find("producer"), std::string::npos);
    EXPECT_EQ(violations[1]["device_id"], "SIM-SN0002");
    EXPECT_EQ(violations[1]["source"], "producer");
}

TEST(Sdk, SizesBuffersAndRequestsAsAgreed) {
    SimulatedCameras sim(Description({}));
    Sdk sdk;
    ASSERT_EQ(sdk.open(), ZV_OK);
    uint32_t n = 99;
    ASSERT_EQ(sdk.count(&n, 1000), ZV_OK);
    EXPECT_EQ(n, 0u);
    uint32_t size = 0;
    std::uint8_t one = 0;
    EXPECT_EQ(sdk.entries(&one, &size), ZV_OK);  // nothing attached: an empty listing succeeds
    // A null buffer is refused even then, and recorded as the caller's fault.
    EXPECT_EQ(sdk.entries(nullptr, &size), ZV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(sim.Events({.call = "violation"}).size(), 1u);
    sdk.close();

    sim.WriteDescription(Description({Camera("SN0001"), Camera("SN0002")}));
    ASSERT_EQ(sdk.open(), ZV_OK);
    ASSERT_EQ(sdk.count(&n, 1000), ZV_OK);
    ASSERT_EQ(n, 2u);
    std::vector<uint8_t> buffer(2 * kEntrySize, 0xAA);
    size = kEntrySize;
    EXPECT_EQ(sdk.entries(buffer.data(), &size), ZV_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(size, 2 * kEntrySize);
    EXPECT_EQ(buffer[kEntrySize], 0xAA);  // nothing written past what was offered

    int32_t status = ZV_ERR_IN_USE;
    uint32_t textSize = 0;
    ASSERT_EQ(sdk.describe(&status, nullptr, &textSize), ZV_OK);
    std::string text(textSize, '\0');
    uint32_t small = 3;
    EXPECT_EQ(sdk.describe(&status, text.data(), &small), ZV_ERR_BUFFER_TOO_SMALL);
    EXPECT_EQ(sdk.Describe(ZV_ERR_IN_USE), "The camera is in use by another application");
    EXPECT_EQ(sdk.Describe(-777), "Unknown status -777");

    // The open request's layout: identity pointer, then 0, then 4.
    ZvOpenRequest request{"SN0001", 0, 3};
    uint32_t handle = 0;
    EXPECT_EQ(sdk.openCamera(&request, &handle), ZV_ERR_INVALID_PARAMETER);
    request = {"SN0001", 7, kAccessExclusive};
    EXPECT_EQ(sdk.openCamera(&request, &handle), ZV_ERR_INVALID_PARAMETER);
    request = {"SN9999", 0, kAccessExclusive};
    EXPECT_EQ(sdk.openCamera(&request, &handle), ZV_ERR_NOT_FOUND);

    handle = sdk.OpenCamera("SN0001");
    ASSERT_NE(handle, 0u);
    EXPECT_EQ(sdk.setInteger(handle, kFeatureUserSetSelector, 4), ZV_ERR_OUT_OF_RANGE);
    EXPECT_EQ(sdk.setInteger(handle, 0x3000FFFF, 1), ZV_ERR_FEATURE_NOT_AVAILABLE);
    EXPECT_EQ(sdk.execute(handle, 0x7000FFFF), ZV_ERR_FEATURE_NOT_AVAILABLE);
    EXPECT_EQ(sdk.setInteger(handle + 100, kFeatureUserSetSelector, 1), ZV_ERR_INVALID_HANDLE);
    const std::string missing = (sim.Root() / "missing.ini").string();
    EXPECT_EQ(sdk.load(handle, missing.c_str(), 1), ZV_ERR_FILE);
    EXPECT_EQ(sdk.save(handle, (sim.Root() / "no-folder" / "x.ini").string().c_str()), ZV_ERR_FILE);

    // A file of another model is refused; a value other than 1 too.
    const std::string other = (sim.Root() / "other.ini").string();
    std::ofstream(other) << json{
        {"format", "ZvUserSet"},
        {"version", 1},
        {"model", "ORV-2M"},
        {"user_set", 1},
        {"features",
         {{"0x30001770", 5}}}}.dump();
    EXPECT_EQ(sdk.load(handle, other.c_str(), 1), ZV_ERR_FILE_MISMATCH);
    const std::string own = (sim.Root() / "own.ini").string();
    ASSERT_EQ(sdk.save(handle, own.c_str()), ZV_OK);
    EXPECT_EQ(sdk.load(handle, own.c_str(), 0), ZV_ERR_INVALID_PARAMETER);
    EXPECT_EQ(sdk.load(handle, own.c_str(), 1), ZV_OK);
    EXPECT_EQ(sdk.closeCamera(handle), ZV_OK);
    EXPECT_EQ(sdk.closeCamera(handle), ZV_ERR_INVALID_HANDLE);
    sdk.close();
}
