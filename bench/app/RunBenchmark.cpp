// One whole upgrade run as flashwright-cli upgrade --all drives it, with the
// program's own timing: workers, re-enumeration watcher, producer release and
// parameter import pass, against simulated cameras that write and reboot at
// their own speeds. The physical limit of such a run is the slowest camera's
// writing plus the slowest reboot; ratio_to_limit is the run's wall time over
// that limit (1.0 would be a run with no cost of its own).
//
//   build/bin/run_bench
//
// Cases: the demo description (four cameras of the package, one it does not
// serve), and sixteen cameras with mixed write speeds and reboot times.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "camera/DeviceManager.h"
#include "camera/U3VDevice.h"
#include "package/BurnPlans.h"
#include "package/PackageConfig.h"
#include "package/UpgradeFile.h"
#include "run/CameraRows.h"
#include "run/CameraSession.h"
#include "run/RunReport.h"
#include "run/UpgradeRun.h"
#include "sdk/APIDeviceManager.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"

namespace {

using testbed::json;

json DemoDescription() {
    std::ifstream in(FLASHWRIGHT_DEMO_DESCRIPTION);
    return json::parse(in);
}

// Sixteen cameras of the four models, 1.5 to 6 MB/s, rebooting in 3 to 6 s.
json MixedDescription() {
    const char* models[] = {"ORV-2C", "ORV-2C-L", "ORV-2M", "ORV-2M-L"};
    std::vector<json> cameras;
    for (int i = 0; i < 16; ++i) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "M%03d", i);
        json camera = testbed::Camera(serial, models[i % 4]);
        camera["write_bytes_per_second"] = 1.5e6 + (i % 6) * 0.9e6;
        camera["reboot_seconds"] = 3.0 + (i % 4);
        cameras.push_back(camera);
    }
    return testbed::Description(cameras);
}

// Bytes one camera of the model writes.
double PlanBytes(const std::string& model) {
    std::wstring path;
    if (package::WriteRunPackageConfig(path) != package::ERunConfigResult::kWritten)
        throw std::runtime_error("cannot write the run's package configuration");
    CBurnPlanSet plans;
    const auto plan = plans.GetPlan(platform::AnsiToWide(model));
    if (!plan) throw std::runtime_error("no plan for " + model);
    std::vector<CRegion*> regions;
    plan->GetRegions(regions);
    double bytes = 0;
    for (const CRegion* region : regions) bytes += region->GetSize();
    return bytes;
}

// The slowest writing plus the slowest reboot of the cameras with these serials.
double PhysicalLimitSeconds(const json& description, const std::vector<std::string>& serials) {
    double slowestWrite = 0, slowestReboot = 0;
    for (const json& interface : description["interfaces"]) {
        for (const json& camera : interface["cameras"]) {
            if (std::find(serials.begin(), serials.end(), camera["serial"].get<std::string>()) == serials.end())
                continue;
            const double speed = camera.value("write_bytes_per_second", 4e6);
            slowestWrite = std::max(slowestWrite, PlanBytes(camera["model"]) / speed);
            slowestReboot = std::max(slowestReboot, camera.value("reboot_seconds", 5.0));
        }
    }
    return slowestWrite + slowestReboot;
}

class ImportObserver : public IUpgradeRunObserver {
public:
    void OnImportFailed(const std::wstring&) override { importFailed = true; }
    bool importFailed = false;
};

void UpgradeRun(benchmark::State& state) {
    const bool demo = state.range(0) == 0;
    state.SetLabel(demo ? "demo description" : "16 mixed cameras");
    double ratio = 0, limit = 0, watch = 0, polls = 0;
    for (auto _ : state) {
        const json description = demo ? DemoDescription() : MixedDescription();
        testbed::SimulatedCameras sim(description);
        CDeviceManager* devices = CDeviceManager::GetInstance();
        {
            CAPIDeviceManager parameters;
            CCameraSession session(*devices, parameters);
            StartFailure failure;
            if (!session.Start(EStartScope::kUpgrade, {}, failure))
                throw std::runtime_error(platform::WideToAnsi(failure.text));
            std::vector<CU3VDevice*> selected;
            std::vector<std::string> serials;
            for (CU3VDevice* camera : session.GetCameras()) {
                if (!CCameraRows::IsEligible(*camera, session.GetModels())) continue;
                selected.push_back(camera);
                serials.push_back(FieldText(camera->GetDeviceInfo().serialNumber));
            }
            limit = PhysicalLimitSeconds(description, serials);

            ImportObserver observer;
            RunReport report;
            CUpgradeRun run(session);
            const auto start = std::chrono::steady_clock::now();
            run.Run(selected, report, observer);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            state.SetIterationTime(seconds);
            if (report.Summary().upgraded != static_cast<int>(selected.size()))
                state.SkipWithError("a camera did not upgrade, come back or get its parameters back");
            if (observer.importFailed) state.SkipWithError("the import pass failed");
            ratio = seconds / limit;
            watch = std::chrono::duration<double>(run.GetWatchDuration()).count();
            polls = run.GetPollCount();
            state.counters["cameras"] = static_cast<double>(selected.size());
        }
        CDeviceManager::ReleaseInstance();
    }
    state.counters["limit_s"] = limit;
    state.counters["ratio_to_limit"] = ratio;
    state.counters["watch_s"] = watch;
    state.counters["polls"] = polls;
}

BENCHMARK(UpgradeRun)->ArgName("case")->DenseRange(0, 1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
