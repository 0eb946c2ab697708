#include "camera/BurnProgress.h"

#include <algorithm>

void CBurnProgress::Plan(std::uint64_t totalBytes) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_total = totalBytes;
    m_written = 0;
    m_regionSize = 0;
    m_inRegion = false;
    m_timedBytes = 0;
    m_timedDuration = Clock::duration::zero();
    m_reported = 0;
}

void CBurnProgress::Reset() { Plan(0); }

void CBurnProgress::BeginRegion(std::uint64_t size, Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_regionSize = size;
    m_regionStart = now;
    m_inRegion = true;
}

void CBurnProgress::EndRegion(Clock::time_point now) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_inRegion) return;
    m_inRegion = false;
    m_written = std::min(m_total, m_written + m_regionSize);
    m_timedBytes += m_regionSize;
    m_timedDuration += std::max(Clock::duration::zero(), now - m_regionStart);
}

CBurnProgress::Snapshot CBurnProgress::Read(Clock::time_point now) const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::uint64_t bytes = m_written;
    if (m_inRegion && m_regionSize > 1 && m_timedBytes > 0 && m_timedDuration > Clock::duration::zero()) {
        const double seconds = std::chrono::duration<double>(now - m_regionStart).count();
        const double rate = static_cast<double>(m_timedBytes) / std::chrono::duration<double>(m_timedDuration).count();
        const double estimate = std::max(0.0, rate * seconds);
        // Short of the region's end: only the producer's answer completes a region.
        const std::uint64_t within = std::min<std::uint64_t>(m_regionSize - 1, static_cast<std::uint64_t>(estimate));
        bytes += within;
    }
    Snapshot snapshot;
    snapshot.total = m_total;
    snapshot.complete = m_total > 0 && m_written >= m_total;
    if (!snapshot.complete) bytes = std::min(bytes, m_total > 0 ? m_total - 1 : 0);
    // A reader never sees the progress go back, whatever the clock did.
    m_reported = std::max(m_reported, bytes);
    snapshot.bytes = m_reported;
    if (snapshot.complete)
        snapshot.percent = 100;
    else if (m_total > 0)
        snapshot.percent = static_cast<int>(std::min<std::uint64_t>(99, snapshot.bytes * 100 / m_total));
    return snapshot;
}
