// Preparing one model's burn plan from the embedded package, as the first
// worker of the model does in a run: burn list from the run's Config.ini, every
// region built (tables compiled in memory, bitstream and XML used where they
// lie), manifest completed. One benchmark per model; the median comes from the
// repetitions, the heap peak from the memory manager (max_bytes_used).
//
//   build/bin/package_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
//
// The memory manager reports the heap peak of one plan (operator new only:
// stdio and the INI parser allocate a few kilobytes more through malloc).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdlib.h>

#include <atomic>
#include <cwchar>
#include <cstdio>
#include <filesystem>
#include <new>
#include <string>

#include "package/CsvToData.h"
#include "package/PackageConfig.h"
#include "package/Resources.h"
#include "package/TempFiles.h"
#include "package/UpgradeFile.h"
#include "testbed/Folders.h"

namespace {

std::atomic<long long> g_current{0};
std::atomic<long long> g_peak{0};
std::atomic<long long> g_allocations{0};

void Track(void* p) {
    if (p == nullptr) return;
    const long long now = g_current.fetch_add(static_cast<long long>(malloc_usable_size(p))) +
                          static_cast<long long>(malloc_usable_size(p));
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    long long peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void Untrack(void* p) {
    if (p != nullptr) g_current.fetch_sub(static_cast<long long>(malloc_usable_size(p)));
}

class HeapPeak : public benchmark::MemoryManager {
public:
    void Start() override {
        m_base = g_current.load();
        g_peak.store(m_base);
        m_allocations = g_allocations.load();
    }
    void Stop(Result* result) override {
        result->max_bytes_used = g_peak.load() - m_base;
        result->num_allocs = g_allocations.load() - m_allocations;
        result->net_heap_growth = g_current.load() - m_base;
    }

private:
    long long m_base = 0;
    long long m_allocations = 0;
};

// The program's temporary folder for the run, inside folders of our own.
class PackageRun {
public:
    PackageRun() {
        std::wstring path;
        if (package::WriteRunPackageConfig(path) != package::ERunConfigResult::kWritten) std::abort();
    }

private:
    testbed::IsolatedFolders m_folders;
};

PackageRun& Run() {
    static PackageRun run;
    return run;
}

const wchar_t* const kModels[] = {L"ORV-2C", L"ORV-2C-L", L"ORV-2M", L"ORV-2M-L"};

void BM_PrepareBurnPlan(benchmark::State& state) {
    Run();
    const wchar_t* model = kModels[state.range(0)];
    state.SetLabel(std::string(model, model + std::wcslen(model)));
    for (auto _ : state) {
        CUpgradeFile plan;
        if (!plan.LoadBurnList(model, "BENCH0001") || !plan.PrepareBurnFiles()) {
            state.SkipWithError("plan preparation failed");
            break;
        }
        std::vector<CRegion*> regions;
        plan.GetRegions(regions);
        benchmark::DoNotOptimize(regions.data());
    }
}
BENCHMARK(BM_PrepareBurnPlan)->ArgName("model")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_LoadBurnList(benchmark::State& state) {
    Run();
    for (auto _ : state) {
        CUpgradeFile plan;
        if (!plan.LoadBurnList(L"ORV-2C", "BENCH0001")) state.SkipWithError("burn list failed");
        benchmark::DoNotOptimize(plan.GetItems().data());
    }
}
BENCHMARK(BM_LoadBurnList)->Unit(benchmark::kMicrosecond);

void BM_CompileFeatureTable(benchmark::State& state) {
    Run();
    CSourceFile table;
    if (!GetResourceData(L"UPGRADEFILE", 142, table)) std::abort();
    CCsvFile file(L"BENCH0001142");
    file.WriteData(table.GetData(), table.GetSize());
    for (auto _ : state) {
        CCSVOrTXTToData compiler;
        if (compiler.Convert(file.GetFilePath()) != kCsvSuccess) state.SkipWithError("compile failed");
        benchmark::DoNotOptimize(compiler.GetImage());
    }
}
BENCHMARK(BM_CompileFeatureTable)->Unit(benchmark::kMicrosecond);

// The same table as a plan compiles it now: from memory, no files.
void BM_CompileFeatureTableInMemory(benchmark::State& state) {
    Run();
    ResourceBytes table;
    if (!FindResourceBytes(L"UPGRADEFILE", 142, table)) std::abort();
    for (auto _ : state) {
        CCSVOrTXTToData compiler;
        if (compiler.ConvertText(table.data, table.size) != kCsvSuccess) state.SkipWithError("compile failed");
        benchmark::DoNotOptimize(compiler.GetImage());
    }
}
BENCHMARK(BM_CompileFeatureTableInMemory)->Unit(benchmark::kMicrosecond);

}  // namespace

// The replacements allocate with malloc and release with free throughout; GCC
// cannot see that pairing across the replaced operators.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) throw std::bad_alloc();
    Track(p);
    return p;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    void* p = std::malloc(size == 0 ? 1 : size);
    Track(p);
    return p;
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* p) noexcept {
    Untrack(p);
    std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }

int main(int argc, char** argv) {
    HeapPeak heapPeak;
    benchmark::RegisterMemoryManager(&heapPeak);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    benchmark::RegisterMemoryManager(nullptr);
    return 0;
}
