// How far a camera's worker has got with its burn plan, for the front ends to
// show while it writes. The producer writes a region in one call, so within a
// region the bytes are an estimate from the rate of the regions already
// written; the estimate stays short of the region's end, so the progress
// reaches the plan's total only when the last region has been written.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

class CBurnProgress {
public:
    using Clock = std::chrono::steady_clock;

    struct Snapshot {
        std::uint64_t bytes = 0;  // written, or estimated within the region being written
        std::uint64_t total = 0;  // the bytes of the plan's regions
        int percent = 0;          // 0..99 while writing, 100 only once every region is written
        bool complete = false;
    };

    // The worker, as it goes: the plan's size, then each region's start and end.
    void Plan(std::uint64_t totalBytes);
    void BeginRegion(std::uint64_t size, Clock::time_point now = Clock::now());
    void EndRegion(Clock::time_point now = Clock::now());
    // Nothing planned, nothing written (a new worker).
    void Reset();

    // Never less than an earlier read since the last Plan or Reset.
    Snapshot Read(Clock::time_point now = Clock::now()) const;

private:
    mutable std::mutex m_mutex;
    std::uint64_t m_total = 0;
    std::uint64_t m_written = 0;  // bytes of the regions ended
    std::uint64_t m_regionSize = 0;
    bool m_inRegion = false;
    Clock::time_point m_regionStart{};
    // The regions already written: their bytes and the time they took.
    std::uint64_t m_timedBytes = 0;
    Clock::duration m_timedDuration{};
    mutable std::uint64_t m_reported = 0;
};
