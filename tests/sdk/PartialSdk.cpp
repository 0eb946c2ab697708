// An SDK build that exports only opening and closing: the parameter manager
// must report the missing entry points instead of calling through them.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::int32_t ZvIAPI_100() { return 0; }
extern "C" __attribute__((visibility("default"))) std::int32_t ZvIAPI_101() { return 0; }
