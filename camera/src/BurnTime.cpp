#include "camera/BurnTime.h"

#include <chrono>

CBurnTime::CBurnTime() : m_lastCounter(ReadCounter()) {}

std::int64_t CBurnTime::ReadCounter() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t CBurnTime::CounterFrequency() { return 1'000'000'000; }

double CBurnTime::Lap() {
    const std::int64_t now = ReadCounter();
    m_currentCounter.store(now);
    const std::int64_t last = m_lastCounter.exchange(now);
    return static_cast<double>(now - last) / static_cast<double>(CounterFrequency());
}

void CBurnTime::Reset() {
    m_elapsedSeconds.store(0.0);
    m_lastCounter.store(ReadCounter());
}

void CBurnTime::AddElapsedSeconds(double seconds) {
    double expected = m_elapsedSeconds.load();
    while (!m_elapsedSeconds.compare_exchange_weak(expected, expected + seconds)) {
    }
}
