#include "zvsim/Clock.h"

#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace zvsim {

int64_t NowMicros() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t ThreadId() { return static_cast<int64_t>(::syscall(SYS_gettid)); }

void SleepSeconds(double seconds) {
    if (seconds > 0.0) {
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    }
}

}  // namespace zvsim
