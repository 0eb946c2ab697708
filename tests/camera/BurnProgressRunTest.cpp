// The progress a real worker publishes while it writes the shipped plan (a
// binary of 466 kB next to tables of a few bytes) to a simulated camera, read
// from another thread as the front ends do.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "camera/DeviceManager.h"
#include "package/PackageConfig.h"
#include "support/Platform.h"
#include "testbed/Cameras.h"

namespace {

using testbed::Camera;
using testbed::Description;
using testbed::SimulatedCameras;

TEST(BurnProgressRunTest, ProgressOfARealWorkerRisesAndReachesTheEndOnceAfterTheLastRegion) {
    // About half a second for the plan.
    const testbed::json camera = Camera("P0001", "ORV-2C", 1.5e6);
    SimulatedCameras sim(Description({camera}));
    std::wstring configPath;
    ASSERT_EQ(package::WriteRunPackageConfig(configPath), package::ERunConfigResult::kWritten);
    CDeviceManager manager;
    ASSERT_TRUE(manager.InitEnvironment(L"ZvU3VTL.cti")) << platform::WideToAnsi(manager.GetErrorText());
    ASSERT_TRUE(manager.UpdateDeviceList());
    ASSERT_EQ(manager.GetDeviceList().size(), 1u);
    CU3VDevice& device = *manager.GetDeviceList()[0];

    device.StartUpgrade();
    std::vector<CBurnProgress::Snapshot> reads;
    // Read until the worker has ended, and once more afterwards.
    while (device.GetThread()->IsRunning() || reads.empty()) {
        reads.push_back(device.GetBurnProgress().Read());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    device.GetThread()->Join();
    reads.push_back(device.GetBurnProgress().Read());
    ASSERT_EQ(device.GetStatusCode(), StatusCode::kSuccess);

    const std::uint64_t total = reads.back().total;
    EXPECT_GT(total, 700'000u);
    std::size_t firstComplete = reads.size();
    int distinctPercents = 0;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            EXPECT_GE(reads[i].bytes, reads[i - 1].bytes);
            EXPECT_GE(reads[i].percent, reads[i - 1].percent);
            if (reads[i].percent != reads[i - 1].percent) ++distinctPercents;
            // Once complete it stays complete: the end is reached once.
            if (reads[i - 1].complete) {
                EXPECT_TRUE(reads[i].complete);
            }
        }
        EXPECT_EQ(reads[i].complete, reads[i].percent == 100);
        if (reads[i].complete && firstComplete == reads.size()) firstComplete = i;
        if (reads[i].total > 0) {
            EXPECT_EQ(reads[i].total, total);
        }
        EXPECT_LE(reads[i].bytes, total);
    }
    ASSERT_LT(firstComplete, reads.size());
    EXPECT_EQ(reads[firstComplete].bytes, total);
    // The bar moved in many steps, not in one jump at the end.
    EXPECT_GT(distinctPercents, 10);
    manager.ReleaseEnvironment();
}

}  // namespace
