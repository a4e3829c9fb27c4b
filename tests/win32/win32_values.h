#pragma once
// What Windows' own headers say (win32_values.cpp), for comparing the os layer's model with it.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace win32 {

// Message numbers, flags, key codes and message-box values, by their Windows names.
const std::vector<std::pair<std::string, uint32_t>>& Constants();
// The windowsx.h / winuser.h unpacking and packing macros.
int XOfLParam(intptr_t lParam);
int YOfLParam(intptr_t lParam);
int WheelDelta(uintptr_t wParam);
unsigned KeyState(uintptr_t wParam);
intptr_t MakeLParam(int low, int high);
uint32_t TimeGetTime();

}  // namespace win32
