#include "platform/os/clock.h"

#include <ctime>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#endif

namespace os {
namespace {

ClockSource g_clock = nullptr;
SleepHook g_sleep = nullptr;

uint32_t SystemMilliseconds() {
#ifdef _WIN32
  return timeGetTime();  // the clock this one stands in for
#else
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Milliseconds since boot, truncated to 32 bits: it wraps as Win32's timeGetTime does.
  const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
#endif
}

}  // namespace

uint32_t TimeGetTime() { return g_clock ? g_clock() : SystemMilliseconds(); }

void SetClockSource(ClockSource source) { g_clock = source; }

void Sleep(uint32_t ms) {
  if (g_sleep) {
    g_sleep(ms);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void SetSleepHook(SleepHook hook) { g_sleep = hook; }

}  // namespace os
