// Time sources: the millisecond tick count since system start.
#ifndef ZEL_PLATFORM_CLOCK_H_
#define ZEL_PLATFORM_CLOCK_H_

#include <cstdint>

namespace zel::platform {

// Milliseconds since system start; wraps after 49.7 days like GetTickCount.
std::uint32_t TickCountMs();
// Whole seconds since system start (the statistics' time base).
std::uint32_t SecondsSinceBoot();
void SleepMs(std::uint32_t ms);

// Test hook: replaces the tick source (nullptr restores the system's).
using TickSource = std::uint32_t (*)();
void SetTickSourceForTesting(TickSource source);

}  // namespace zel::platform

#endif  // ZEL_PLATFORM_CLOCK_H_
