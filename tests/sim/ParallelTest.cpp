#include <atomic>
#include <barrier>

#include "SimulatorLibraries.h"

using namespace simtest;

// Four cameras upgraded from four threads at once through one producer, while
// a fifth thread keeps enumerating: every camera ends with its own bytes and
// new versions, and the writes ran side by side, not one after the other.
TEST(ParallelUpgrade, FourCamerasFromFourThreadsAtOnce) {
    std::vector<json> cameras;
    const char* models[] = {"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"};
    for (int i = 0; i < 4; ++i) {
        json camera = Camera("SN000" + std::to_string(i), models[i]);
        camera["write_bytes_per_second"] = 200000;  // 2 x 100 kB: one second per camera
        cameras.push_back(camera);
    }
    SimulatedCameras sim(Description(cameras));
    Producer p;
    Session s(p);
    ASSERT_EQ(s.DeviceIds().size(), 4u);

    std::barrier start(4);
    std::atomic<bool> writing{true};
    std::vector<GC_ERROR> results(4, GC_ERR_ERROR);
    std::vector<std::thread> workers;
    for (int i = 0; i < 4; ++i) {
        workers.emplace_back([&, i] {
            const std::string id = "SIM-SN000" + std::to_string(i);
            DEV_HANDLE device = nullptr;
            PORT_HANDLE port = nullptr;
            GC_ERROR result = p.IFOpenDevice(s.iface, id.c_str(), DEVICE_ACCESS_EXCLUSIVE, &device);
            if (result == GC_ERR_SUCCESS) result = p.DevGetPort(device, &port);
            start.arrive_and_wait();
            if (result == GC_ERR_SUCCESS) result = p.DPEnterUpgradeMode(port, 1000, 0, 20);
            for (uint64_t address : {0x1200000ull, 0x12f0000ull}) {
                const std::vector<uint8_t> bytes = Pattern(100000, static_cast<uint8_t>(i * 16 + (address >> 20)));
                size_t size = bytes.size();
                if (result == GC_ERR_SUCCESS)
                    result = p.DPWriteUpgradeFile(port, address, bytes.data(), &size, 4096, 32, 0, 1);
            }
            if (result == GC_ERR_SUCCESS) result = p.DPLeaveUpgradeMode(port);
            if (result == GC_ERR_SUCCESS) result = p.DevClose(device);
            results[static_cast<size_t>(i)] = result;
        });
    }
    std::thread watcher([&] {
        while (writing) {
            bool8_t changed = 0;
            EXPECT_EQ(p.IFUpdateDeviceList(s.iface, &changed, 1000), GC_ERR_SUCCESS);
            uint32_t n = 0;
            EXPECT_EQ(p.IFGetNumDevices(s.iface, &n), GC_ERR_SUCCESS);
            for (uint32_t k = 0; k < n; ++k) {
                char id[256] = {};
                size_t size = sizeof id;
                if (p.IFGetDeviceID(s.iface, k, id, &size) == GC_ERR_SUCCESS) {
                    int32_t status = 0;
                    INFO_DATATYPE type = 0;
                    size = sizeof status;
                    p.IFGetDeviceInfo(s.iface, id, DEVICE_INFO_ACCESS_STATUS, &type, &status, &size);
                }
            }
        }
    });
    for (std::thread& worker : workers) {
        worker.join();
    }
    writing = false;
    watcher.join();
    EXPECT_EQ(results, std::vector<GC_ERROR>(4, GC_ERR_SUCCESS));

    // Every camera's writes overlap every other camera's: the slowest start
    // comes before the earliest end.
    int64_t latestStart = 0;
    int64_t earliestEnd = INT64_MAX;
    for (int i = 0; i < 4; ++i) {
        const std::vector<json> writes =
            sim.Events({.deviceId = "SIM-SN000" + std::to_string(i), .call = "DPWriteUpgradeFile"});
        ASSERT_EQ(writes.size(), 2u);
        latestStart = std::max(latestStart, writes.front()["start_us"].get<int64_t>());
        earliestEnd = std::min(earliestEnd, writes.back()["ts_us"].get<int64_t>());
    }
    EXPECT_LT(latestStart, earliestEnd);

    for (int i = 0; i < 4; ++i) {
        const std::string id = "SIM-SN000" + std::to_string(i);
        ASSERT_TRUE(s.WaitUntilListed(id, 30.0)) << id;
        for (uint64_t address : {0x1200000ull, 0x12f0000ull}) {
            EXPECT_EQ(ReadBytes(sim.FlashFile(id, address)),
                      Pattern(100000, static_cast<uint8_t>(i * 16 + (address >> 20))));
        }
        EXPECT_EQ(sim.CameraState(id)["firmware_version"], "V01.03.002.001:V01.06");
    }
}
