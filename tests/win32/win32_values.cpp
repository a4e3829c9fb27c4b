// The Windows side of the facts test: values and packing as Windows' own headers give them. Kept
// in a file of its own because the os layer's names (WM_KEYDOWN, VK_ESCAPE ...) are macros here.

#include "tests/win32/win32_values.h"

#include <windows.h>
#include <windowsx.h>
#include <mmsystem.h>

namespace win32 {

#define VALUE(name) {#name, static_cast<uint32_t>(name)}
const std::vector<std::pair<std::string, uint32_t>>& Constants() {
  static const std::vector<std::pair<std::string, uint32_t>> values = {
      VALUE(WM_NULL), VALUE(WM_DESTROY), VALUE(WM_PAINT), VALUE(WM_CLOSE), VALUE(WM_QUIT),
      VALUE(WM_ACTIVATEAPP), VALUE(WM_SETCURSOR), VALUE(WM_KEYDOWN), VALUE(WM_KEYUP), VALUE(WM_CHAR),
      VALUE(WM_SYSCOMMAND), VALUE(WM_MOUSEMOVE), VALUE(WM_LBUTTONDOWN), VALUE(WM_LBUTTONUP),
      VALUE(WM_LBUTTONDBLCLK), VALUE(WM_RBUTTONDOWN), VALUE(WM_RBUTTONUP), VALUE(WM_RBUTTONDBLCLK),
      VALUE(WM_MBUTTONDOWN), VALUE(WM_MBUTTONUP), VALUE(WM_MOUSEWHEEL), VALUE(SC_MINIMIZE), VALUE(SC_CLOSE),
      VALUE(SC_RESTORE), VALUE(MK_LBUTTON), VALUE(MK_RBUTTON), VALUE(MK_SHIFT), VALUE(MK_CONTROL),
      VALUE(MK_MBUTTON), VALUE(PM_NOREMOVE), VALUE(PM_REMOVE), VALUE(VK_BACK), VALUE(VK_TAB), VALUE(VK_RETURN),
      VALUE(VK_SHIFT), VALUE(VK_CONTROL), VALUE(VK_MENU), VALUE(VK_PAUSE), VALUE(VK_CAPITAL), VALUE(VK_ESCAPE),
      VALUE(VK_SPACE), VALUE(VK_PRIOR), VALUE(VK_NEXT), VALUE(VK_END), VALUE(VK_HOME), VALUE(VK_LEFT),
      VALUE(VK_UP), VALUE(VK_RIGHT), VALUE(VK_DOWN), VALUE(VK_INSERT), VALUE(VK_DELETE), VALUE(VK_NUMPAD0),
      VALUE(VK_NUMPAD9), VALUE(VK_MULTIPLY), VALUE(VK_ADD), VALUE(VK_SUBTRACT), VALUE(VK_DECIMAL),
      VALUE(VK_DIVIDE), VALUE(VK_F1), VALUE(VK_LSHIFT), VALUE(VK_RSHIFT), VALUE(VK_LCONTROL),
      VALUE(VK_RCONTROL), VALUE(VK_LMENU), VALUE(VK_RMENU), VALUE(MB_OK), VALUE(MB_ICONERROR),
      VALUE(MB_ICONWARNING), VALUE(MB_ICONINFORMATION), VALUE(IDOK)};
  return values;
}
#undef VALUE

int XOfLParam(intptr_t lParam) { return GET_X_LPARAM(static_cast<LPARAM>(lParam)); }
int YOfLParam(intptr_t lParam) { return GET_Y_LPARAM(static_cast<LPARAM>(lParam)); }
int WheelDelta(uintptr_t wParam) { return GET_WHEEL_DELTA_WPARAM(static_cast<WPARAM>(wParam)); }
unsigned KeyState(uintptr_t wParam) { return GET_KEYSTATE_WPARAM(static_cast<WPARAM>(wParam)); }
intptr_t MakeLParam(int low, int high) { return MAKELPARAM(low, high); }
uint32_t TimeGetTime() { return timeGetTime(); }

}  // namespace win32
