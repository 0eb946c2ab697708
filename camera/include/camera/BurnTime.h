// A camera's burn timing: elapsed seconds accumulated from laps of a
// monotonic counter. The worker start resets it while a reader may be adding
// laps, so every field is atomic.
#pragma once

#include <atomic>
#include <cstdint>

class CBurnTime {
public:
    CBurnTime();
    virtual ~CBurnTime() = default;
    CBurnTime(const CBurnTime&) = delete;
    CBurnTime& operator=(const CBurnTime&) = delete;

    // Seconds since the last counter value; the current reading becomes the last.
    double Lap();
    // Elapsed seconds 0 and a fresh last counter value.
    void Reset();
    void AddElapsedSeconds(double seconds);
    double GetElapsedSeconds() const { return m_elapsedSeconds.load(); }

    static std::int64_t ReadCounter();
    static std::int64_t CounterFrequency();

private:
    std::atomic<double> m_elapsedSeconds{0.0};
    std::atomic<std::int64_t> m_lastCounter;
    std::atomic<std::int64_t> m_currentCounter{0};
};
