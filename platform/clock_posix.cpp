#include "platform/clock.h"

#include <time.h>

#include <atomic>
#include <cerrno>

namespace zel::platform {
namespace {

std::uint64_t BootMs() {
  struct timespec ts;
  // CLOCK_BOOTTIME keeps counting through suspend, like the Windows tick.
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0)
    clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::atomic<TickSource> g_tick_source{nullptr};

}  // namespace

std::uint32_t TickCountMs() {
  if (TickSource source = g_tick_source.load(std::memory_order_relaxed))
    return source();
  return static_cast<std::uint32_t>(BootMs());
}

void SetTickSourceForTesting(TickSource source) {
  g_tick_source.store(source);
}

std::uint32_t SecondsSinceBoot() {
  return static_cast<std::uint32_t>(BootMs() / 1000u);
}

void SleepMs(std::uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace zel::platform
