#pragma once
// The millisecond clock the show runs on: 32 bits, wrapping after about 49.7 days exactly like
// Win32's timeGetTime, so every difference must be taken in unsigned 32-bit arithmetic.

#include <cstdint>

namespace os {

uint32_t TimeGetTime();

// Replaces the clock (tests drive the engine through a fake one); nullptr restores the system clock.
using ClockSource = uint32_t (*)();
void SetClockSource(ClockSource source);

// Blocks the thread for `ms` milliseconds, or calls the hook instead when one is set.
void Sleep(uint32_t ms);
using SleepHook = void (*)(uint32_t ms);
void SetSleepHook(SleepHook hook);

}  // namespace os
