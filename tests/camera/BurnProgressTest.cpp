// The progress a worker publishes, driven with a clock of the test's own: a
// plan of regions of very different sizes written at changing speeds.
#include <gtest/gtest.h>

#include <vector>

#include "camera/BurnProgress.h"

namespace {

using Clock = CBurnProgress::Clock;
using std::chrono::milliseconds;

struct TimedRegion {
    std::uint64_t size;
    milliseconds takes;  // how long the producer's write call lasts
};

TEST(BurnProgressTest, RegionsOfVeryDifferentSizesRiseSteadilyAndReachTheEndOnce) {
    // A large first region, a tiny one, a mid-sized one written much slower
    // than the rate so far, and a large last one written much faster.
    const std::vector<TimedRegion> regions = {{3'000'000, milliseconds(750)},
                                              {16, milliseconds(1)},
                                              {65'536, milliseconds(400)},
                                              {5'000'000, milliseconds(90)}};
    std::uint64_t total = 0;
    for (const TimedRegion& region : regions) total += region.size;

    CBurnProgress progress;
    progress.Plan(total);
    Clock::time_point now{};
    std::uint64_t writtenBefore = 0;
    std::uint64_t lastBytes = 0;
    int lastPercent = 0;
    int completeReads = 0;
    for (std::size_t r = 0; r < regions.size(); ++r) {
        progress.BeginRegion(regions[r].size, now);
        // Read every 5 ms of the write call and twice as long again: the
        // estimate must not run past the region however long the call lasts.
        for (milliseconds t{0}; t <= regions[r].takes * 3; t += milliseconds(5)) {
            const CBurnProgress::Snapshot snapshot = progress.Read(now + t);
            SCOPED_TRACE(testing::Message() << "region " << r << " at " << t.count() << " ms");
            EXPECT_EQ(snapshot.total, total);
            EXPECT_GE(snapshot.bytes, lastBytes);
            EXPECT_GE(snapshot.percent, lastPercent);
            EXPECT_LT(snapshot.bytes, writtenBefore + regions[r].size);
            EXPECT_LT(snapshot.percent, 100);
            EXPECT_FALSE(snapshot.complete);
            lastBytes = snapshot.bytes;
            lastPercent = snapshot.percent;
        }
        now += regions[r].takes;
        progress.EndRegion(now);
        writtenBefore += regions[r].size;
        const CBurnProgress::Snapshot ended = progress.Read(now);
        EXPECT_EQ(ended.bytes, writtenBefore) << "region " << r;
        if (ended.complete) ++completeReads;
        EXPECT_EQ(ended.percent == 100, r + 1 == regions.size()) << "region " << r;
    }
    EXPECT_EQ(completeReads, 1);
    // The second region onwards was estimated: the progress moved inside a region.
    progress.Plan(total);
    progress.BeginRegion(regions[0].size, Clock::time_point{});
    progress.EndRegion(Clock::time_point{} + regions[0].takes);
    progress.BeginRegion(regions[3].size, Clock::time_point{} + regions[0].takes);
    const auto halfway = progress.Read(Clock::time_point{} + regions[0].takes * 2);
    EXPECT_GT(halfway.bytes, regions[0].size);
}

TEST(BurnProgressTest, ANewPlanStartsFromNothingAndAFailedRegionNeverCompletes) {
    CBurnProgress progress;
    EXPECT_EQ(progress.Read().percent, 0);
    EXPECT_FALSE(progress.Read().complete);

    const Clock::time_point start{};
    progress.Plan(200);
    progress.BeginRegion(100, start);
    progress.EndRegion(start + milliseconds(10));
    // The write of the last region fails: no EndRegion, however long one waits.
    progress.BeginRegion(100, start + milliseconds(10));
    const auto stuck = progress.Read(start + std::chrono::hours(1));
    EXPECT_FALSE(stuck.complete);
    EXPECT_EQ(stuck.bytes, 199u);
    EXPECT_EQ(stuck.percent, 99);

    progress.Reset();
    const auto fresh = progress.Read(start + std::chrono::hours(2));
    EXPECT_EQ(fresh.bytes, 0u);
    EXPECT_EQ(fresh.total, 0u);
}

}  // namespace
