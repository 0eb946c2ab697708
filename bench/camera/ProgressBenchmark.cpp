// What reading a camera's burn progress costs the front ends: the dialog and
// the command-line tool read every camera's progress 50 times a second while
// its worker writes, so 32 cameras mean 1600 reads a second on the window's
// thread, each taking the progress's lock.
//
//   build/bin/progress_bench
#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include "camera/BurnProgress.h"

namespace {

// One read while the region is being estimated.
void BM_ReadWhileWriting(benchmark::State& state) {
    CBurnProgress progress;
    progress.Plan(1'000'000);
    const auto start = CBurnProgress::Clock::now();
    progress.BeginRegion(400'000, start);
    progress.EndRegion(start + std::chrono::milliseconds(100));
    progress.BeginRegion(600'000, start + std::chrono::milliseconds(100));
    for (auto _ : state) benchmark::DoNotOptimize(progress.Read());
}
BENCHMARK(BM_ReadWhileWriting);

// The same while a worker thread begins and ends regions as fast as it can:
// the worst case of the lock being taken by both sides.
void BM_ReadAgainstABusyWorker(benchmark::State& state) {
    CBurnProgress progress;
    progress.Plan(~0ull >> 1);
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        while (!stop.load(std::memory_order_relaxed)) {
            progress.BeginRegion(4096);
            progress.EndRegion();
        }
    });
    for (auto _ : state) benchmark::DoNotOptimize(progress.Read());
    stop = true;
    worker.join();
}
BENCHMARK(BM_ReadAgainstABusyWorker);

}  // namespace

BENCHMARK_MAIN();
