#include "zvsim/Clock.h"

#include <chrono>
#include <thread>

#include "zvsim/Platform.h"

namespace zvsim {

int64_t NowMicros() {
    // The system clock is the wall clock on both systems, the same for every process.
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t ThreadId() { return platform::CurrentThreadId(); }

void SleepSeconds(double seconds) {
    if (seconds > 0.0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
}

}  // namespace zvsim
