#pragma once

#include <cstdint>

namespace zvsim {

int64_t NowMicros();  // CLOCK_REALTIME, so deadlines hold across processes
int64_t ThreadId();   // the OS thread id
void SleepSeconds(double seconds);

}  // namespace zvsim
