// The Win32 facts the os layer models, against the real thing (Windows' headers and winmm under
// Wine): the numbers of messages, keys and flags, the packing of message parameters, and the
// 32-bit millisecond clock.

#include <gtest/gtest.h>

#include <map>

#include "platform/os/clock.h"
#include "platform/os/internal.h"
#include "platform/os/messages.h"
#include "platform/os/system.h"
#include "tests/win32/win32_values.h"

namespace {

TEST(Win32Facts, MessageKeyAndFlagNumbersAreWindowsOwn) {
#define OURS(name) {#name, static_cast<uint32_t>(os::name)}
  const std::map<std::string, uint32_t> ours = {
      OURS(WM_NULL), OURS(WM_DESTROY), OURS(WM_PAINT), OURS(WM_CLOSE), OURS(WM_QUIT), OURS(WM_ACTIVATEAPP),
      OURS(WM_SETCURSOR), OURS(WM_KEYDOWN), OURS(WM_KEYUP), OURS(WM_CHAR), OURS(WM_SYSCOMMAND),
      OURS(WM_MOUSEMOVE), OURS(WM_LBUTTONDOWN), OURS(WM_LBUTTONUP), OURS(WM_LBUTTONDBLCLK),
      OURS(WM_RBUTTONDOWN), OURS(WM_RBUTTONUP), OURS(WM_RBUTTONDBLCLK), OURS(WM_MBUTTONDOWN),
      OURS(WM_MBUTTONUP), OURS(WM_MOUSEWHEEL), OURS(SC_MINIMIZE), OURS(SC_CLOSE), OURS(SC_RESTORE),
      OURS(MK_LBUTTON), OURS(MK_RBUTTON), OURS(MK_SHIFT), OURS(MK_CONTROL), OURS(MK_MBUTTON),
      OURS(PM_NOREMOVE), OURS(PM_REMOVE), OURS(VK_BACK), OURS(VK_TAB), OURS(VK_RETURN), OURS(VK_SHIFT),
      OURS(VK_CONTROL), OURS(VK_MENU), OURS(VK_PAUSE), OURS(VK_CAPITAL), OURS(VK_ESCAPE), OURS(VK_SPACE),
      OURS(VK_PRIOR), OURS(VK_NEXT), OURS(VK_END), OURS(VK_HOME), OURS(VK_LEFT), OURS(VK_UP), OURS(VK_RIGHT),
      OURS(VK_DOWN), OURS(VK_INSERT), OURS(VK_DELETE), OURS(VK_NUMPAD0), OURS(VK_NUMPAD9), OURS(VK_MULTIPLY),
      OURS(VK_ADD), OURS(VK_SUBTRACT), OURS(VK_DECIMAL), OURS(VK_DIVIDE), OURS(VK_F1), OURS(VK_LSHIFT),
      OURS(VK_RSHIFT), OURS(VK_LCONTROL), OURS(VK_RCONTROL), OURS(VK_LMENU), OURS(VK_RMENU), OURS(MB_OK),
      OURS(MB_ICONERROR), OURS(MB_ICONWARNING), OURS(MB_ICONINFORMATION), OURS(IDOK)};
#undef OURS
  ASSERT_EQ(ours.size(), win32::Constants().size());
  for (const auto& [name, value] : win32::Constants()) {
    ASSERT_TRUE(ours.count(name)) << name;
    EXPECT_EQ(ours.at(name), value) << name;
  }
}

class Win32Messages : public ::testing::Test {
 protected:
  static os::LRESULT Proc(HWND w, uint32_t m, os::WPARAM wp, os::LPARAM lp) { return os::DefWindowProc(w, m, wp, lp); }
  void SetUp() override {
    os::SetHeadless(true);
    ASSERT_TRUE(os::Init());
    os::ClearMessageQueue();
    os::RegisterClass({"win32Facts", 0, Proc, os::Cursor::Arrow});
    window = os::CreateWindow("win32Facts", "", os::WS_VISIBLE, 0, 0, 0, 320, 200);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override { os::Shutdown(); }
  os::Message Next() {
    os::Message msg;
    EXPECT_TRUE(os::PeekMessage(msg, nullptr, 0, 0, os::PM_REMOVE));
    return msg;
  }
  HWND window = nullptr;
};

// A window procedure written for Windows unpacks our parameters with Windows' own macros.
TEST_F(Win32Messages, ParametersUnpackWithWindowsMacros) {
  SDL_Event move{};
  move.type = SDL_MOUSEMOTION;
  move.motion.x = -3;  // a captured mouse left of the window
  move.motion.y = 199;
  os::detail::TranslateWindowEvent(move, window);
  const os::Message m = Next();
  EXPECT_EQ(m.message, os::WM_MOUSEMOVE);
  EXPECT_EQ(win32::XOfLParam(m.lParam), -3);
  EXPECT_EQ(win32::YOfLParam(m.lParam), 199);
  EXPECT_EQ(os::MakeLParam(0xFFFDu, 199), win32::MakeLParam(-3, 199));

  for (int notches : {1, -2}) {
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.y = notches;
    os::detail::TranslateWindowEvent(wheel, window);
    const os::Message w = Next();
    EXPECT_EQ(w.message, os::WM_MOUSEWHEEL);
    EXPECT_EQ(win32::WheelDelta(w.wParam), notches * 120);
    EXPECT_EQ(win32::KeyState(w.wParam) & ~(os::MK_LBUTTON | os::MK_RBUTTON | os::MK_MBUTTON | os::MK_SHIFT | os::MK_CONTROL), 0u);
  }
}

// The clock is winmm's own, so it wraps at 2^32 ms exactly where Windows' own clock does.
TEST(Win32Clock, IsTimeGetTime) {
  const uint32_t before = win32::TimeGetTime();
  const uint32_t ours = os::TimeGetTime();
  const uint32_t after = win32::TimeGetTime();
  EXPECT_LE(ours - before, after - before);  // wrap-safe: ours lies between the two
  static_assert(sizeof(os::TimeGetTime()) == 4, "a 32-bit count, as timeGetTime's DWORD");
}

}  // namespace
