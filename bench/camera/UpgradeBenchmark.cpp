// The worker phase of an upgrade run with 1, 4, 16 and 32 simulated cameras at
// a fixed simulated write speed: every camera's worker started 1 ms apart in
// list order with the run's shared plans (one per model), then each one waited
// for, as the run does. The workers run in parallel, so the phase should take
// about as long as one camera's upgrade; ratio_to_one is the phase's time over
// the single camera's at the same speed.
//
// Two speeds: 1 MB/s, about what a camera's flash takes, and 1 GB/s, where
// writing costs next to nothing and what remains is the processor time of
// preparing the plans and of the simulator's own bookkeeping.
//
//   build/bin/camera_bench
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "camera/DeviceManager.h"
#include "package/BurnPlans.h"
#include "package/PackageConfig.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"

namespace {

// Mean seconds of the single camera, per write speed.
std::map<std::int64_t, double> g_singleCameraSeconds;

testbed::json Cameras(int count, double bytesPerSecond) {
    const char* models[] = {"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"};
    std::vector<testbed::json> cameras;
    for (int i = 0; i < count; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "B%03d", i);
        cameras.push_back(testbed::Camera(serial, models[i % 4]));
        cameras.back()["write_bytes_per_second"] = bytesPerSecond;
    }
    return testbed::Description(cameras);
}

void UpgradeCameras(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::int64_t bytesPerSecond = state.range(1);
    double total = 0.0;
    for (auto _ : state) {
        testbed::SimulatedCameras sim(Cameras(count, static_cast<double>(bytesPerSecond)));
        std::wstring configPath;
        if (package::WriteRunPackageConfig(configPath) != package::ERunConfigResult::kWritten)
            throw std::runtime_error("cannot write the run's package configuration");
        CDeviceManager manager;
        if (!manager.InitEnvironment(L"ZvU3VTL.cti") || !manager.UpdateDeviceList())
            throw std::runtime_error("the simulated producer did not enumerate: " +
                                     platform::WideToAnsi(manager.GetErrorText()));
        const std::vector<CU3VDevice*> devices = manager.GetDeviceList();
        if (static_cast<int>(devices.size()) != count) throw std::runtime_error("cameras missing");

        const auto start = std::chrono::steady_clock::now();
        auto plans = std::make_shared<CBurnPlanSet>();
        for (CU3VDevice* device : devices) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            device->StartUpgrade(plans);
        }
        for (CU3VDevice* device : devices) device->GetThread()->Join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.SetIterationTime(seconds);
        total += seconds;

        for (CU3VDevice* device : devices)
            if (device->GetStatusCode() != 0) state.SkipWithError("a camera did not upgrade");
        manager.ReleaseEnvironment();
        std::remove(platform::ToNativePath(configPath).c_str());
    }
    const double mean = total / static_cast<double>(state.iterations());
    if (count == 1) g_singleCameraSeconds[bytesPerSecond] = mean;
    state.counters["cameras"] = count;
    state.counters["bytes_per_second"] = static_cast<double>(bytesPerSecond);
    if (g_singleCameraSeconds.count(bytesPerSecond) != 0)
        state.counters["ratio_to_one"] = mean / g_singleCameraSeconds[bytesPerSecond];
}

BENCHMARK(UpgradeCameras)
    ->ArgNames({"cameras", "bytes_per_second"})
    ->ArgsProduct({{1, 4, 16, 32}, {1'000'000, 1'000'000'000}})
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
