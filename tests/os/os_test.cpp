#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "platform/os/clock.h"
#include "platform/os/internal.h"
#include "platform/os/messages.h"
#include "platform/os/system.h"
#include "tests/support/os_fixture.h"

namespace {

struct Seen {
  HWND window;
  uint32_t message;
  os::WPARAM wParam;
  os::LPARAM lParam;
};
std::vector<Seen> g_seen;

os::LRESULT RecordingProc(HWND window, uint32_t message, os::WPARAM wParam, os::LPARAM lParam) {
  g_seen.push_back({window, message, wParam, lParam});
  if (message == os::WM_DESTROY) os::PostQuitMessage(7);
  return os::DefWindowProc(window, message, wParam, lParam);
}

class OsTest : public vktest::HeadlessOsTest {
 protected:
  void SetUp() override {
    HeadlessOsTest::SetUp();
    if (HasFatalFailure()) return;
    g_seen.clear();
    os::RegisterClass({"osTest", 0, RecordingProc, os::Cursor::Arrow});
    window = os::CreateWindow("osTest", "Caption", os::WS_VISIBLE, 0, 0, 0, 320, 200);
    ASSERT_NE(window, nullptr);
  }
  std::vector<os::Message> Drain() {
    std::vector<os::Message> out;
    os::Message msg;
    while (os::PeekMessage(msg, nullptr, 0, 0, os::PM_REMOVE)) out.push_back(msg);
    return out;
  }

  HWND window = nullptr;
};

TEST_F(OsTest, APopupOfTheScreenSizeIsAFullScreenWindow) {
  HWND full = os::CreateWindow("osTest", "", os::WS_POPUP, 0, 0, 0, os::ScreenWidth(), os::ScreenHeight());
  EXPECT_TRUE(os::WindowFullScreen(full));
  EXPECT_FALSE(os::WindowFullScreen(window));
  EXPECT_EQ(os::CreateWindow("no such class", "", 0, 0, 0, 0, 10, 10), nullptr);
}

TEST_F(OsTest, WithoutADisplayNoModeIsSetAndNothingNeedsRestoring) {
  // Headless there is no display to switch: the window keeps its size and the picture is scaled.
  HWND full = os::CreateWindow("osTest", "", os::WS_POPUP, 0, 0, 0, os::ScreenWidth(), os::ScreenHeight());
  EXPECT_FALSE(os::SetFullScreenMode(full, 1024, 768, 60));
  EXPECT_FALSE(os::InFullScreenMode(full));
  EXPECT_EQ(os::ClientWidth(full), os::ScreenWidth());
  os::RestoreDesktopMode(full);
  os::RestoreDesktopMode(nullptr);
  EXPECT_FALSE(os::SetFullScreenMode(nullptr, 1024, 768, 60));
}

TEST_F(OsTest, QueueKeepsOrderAndPeekWithoutRemoveLeavesTheMessage) {
  os::PostMessage(window, os::WM_KEYDOWN, 1, 0);
  os::PostMessage(window, os::WM_CHAR, 2, 0);
  os::Message msg;
  ASSERT_TRUE(os::PeekMessage(msg, nullptr, 0, 0, os::PM_NOREMOVE));
  EXPECT_EQ(msg.message, os::WM_KEYDOWN);
  EXPECT_EQ(os::QueuedMessageCount(), 2);
  // A range filter skips earlier messages without disturbing them.
  ASSERT_TRUE(os::PeekMessage(msg, nullptr, os::WM_CHAR, os::WM_CHAR, os::PM_REMOVE));
  EXPECT_EQ(msg.wParam, 2u);
  ASSERT_TRUE(os::GetMessage(msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, os::WM_KEYDOWN);
  EXPECT_FALSE(os::PeekMessage(msg, nullptr, 0, 0, os::PM_NOREMOVE));
}

TEST_F(OsTest, CloseGoesThroughDestroyToQuit) {
  os::PostMessage(window, os::WM_CLOSE, 0, 0);
  os::Message msg;
  ASSERT_TRUE(os::GetMessage(msg, nullptr, 0, 0));
  os::DispatchMessage(msg);  // DefWindowProc destroys the window, WM_DESTROY posts WM_QUIT
  EXPECT_FALSE(os::IsWindow(window));
  ASSERT_GE(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].message, os::WM_CLOSE);
  EXPECT_EQ(g_seen[1].message, os::WM_DESTROY);
  EXPECT_FALSE(os::GetMessage(msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, os::WM_QUIT);
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(OsTest, DestroyedWindowGetsNoMoreMessages) {
  os::PostMessage(window, os::WM_PAINT, 0, 0);
  EXPECT_TRUE(os::DestroyWindow(window));
  EXPECT_FALSE(os::DestroyWindow(window));  // only once
  // Its queued messages are gone, and new ones are refused; the handle itself stays usable.
  os::Message msg;
  ASSERT_TRUE(os::PeekMessage(msg, nullptr, 0, 0, os::PM_REMOVE));
  EXPECT_EQ(msg.message, os::WM_QUIT);
  EXPECT_FALSE(os::PostMessage(window, os::WM_PAINT, 0, 0));
  g_seen.clear();
  EXPECT_EQ(os::SendMessage(window, os::WM_PAINT, 0, 0), 0);
  EXPECT_TRUE(g_seen.empty());
  EXPECT_EQ(os::ClientWidth(window), 320);
}

TEST_F(OsTest, SystemCloseCommandClosesTheWindow) {
  os::SendMessage(window, os::WM_SYSCOMMAND, os::SC_CLOSE | 0x3, 0);
  auto msgs = Drain();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, os::WM_CLOSE);
}

TEST_F(OsTest, TranslateAddsCharactersForControlKeysOnly) {
  os::Message key{window, os::WM_KEYDOWN, os::VK_ESCAPE, 0, 0};
  EXPECT_TRUE(os::TranslateMessage(key));
  key.wParam = 'A';
  EXPECT_FALSE(os::TranslateMessage(key));
  auto msgs = Drain();
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].message, os::WM_CHAR);
  EXPECT_EQ(msgs[0].wParam, 27u);
}

TEST_F(OsTest, KeyEventsBecomeKeyMessagesAndKeyboardState) {
  SDL_Event e{};
  e.type = SDL_KEYDOWN;
  e.key.keysym.scancode = SDL_SCANCODE_KP_8;
  os::detail::TranslateWindowEvent(e, window);
  e.key.keysym.scancode = SDL_SCANCODE_LSHIFT;
  os::detail::TranslateWindowEvent(e, window);
  uint8_t keys[256];
  os::GetKeyboardState(keys);
  EXPECT_EQ(keys[os::VK_NUMPAD8], 0x80);
  EXPECT_EQ(keys[os::VK_SHIFT], 0x80);
  EXPECT_EQ(keys[os::VK_LSHIFT], 0x80);
  e.type = SDL_KEYUP;
  os::detail::TranslateWindowEvent(e, window);
  os::GetKeyboardState(keys);
  EXPECT_EQ(keys[os::VK_SHIFT], 0);

  auto msgs = Drain();
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0].message, os::WM_KEYDOWN);
  EXPECT_EQ(msgs[0].wParam, os::VK_NUMPAD8);
  EXPECT_EQ(msgs[1].wParam, os::VK_SHIFT);  // left and right shift report the generic code
  EXPECT_EQ(msgs[2].message, os::WM_KEYUP);
  EXPECT_NE(static_cast<uint32_t>(msgs[2].lParam) & 0x80000000u, 0u);

  EXPECT_EQ(os::detail::VirtualKeyOf(SDL_SCANCODE_ESCAPE, SDLK_ESCAPE), os::VK_ESCAPE);
  EXPECT_EQ(os::detail::VirtualKeyOf(SDL_SCANCODE_Q, SDLK_q), static_cast<uint32_t>('Q'));
  EXPECT_EQ(os::detail::VirtualKeyOf(SDL_SCANCODE_0, SDLK_0), static_cast<uint32_t>('0'));
  EXPECT_EQ(os::detail::VirtualKeyOf(SDL_SCANCODE_KP_PLUS, SDLK_KP_PLUS), os::VK_ADD);
  EXPECT_EQ(os::detail::VirtualKeyOf(SDL_SCANCODE_UP, SDLK_UP), os::VK_UP);
  EXPECT_EQ(os::detail::VirtualKeyOf(SDL_SCANCODE_F12, SDLK_F12), os::VK_F1 + 11);
}

TEST_F(OsTest, TextInputBecomesOneCharacterPerCodePoint) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  std::strcpy(e.text.text, "a\xC3\xA9\xE2\x82\xAC\xFF");  // a, e-acute, euro sign, a stray byte
  os::detail::TranslateWindowEvent(e, window);
  auto msgs = Drain();
  ASSERT_EQ(msgs.size(), 4u);
  EXPECT_EQ(msgs[0].wParam, static_cast<os::WPARAM>('a'));
  EXPECT_EQ(msgs[1].wParam, 0xE9u);
  EXPECT_EQ(msgs[2].wParam, 0x20ACu);
  EXPECT_EQ(msgs[3].wParam, 0xFFu);
}

TEST_F(OsTest, MouseEventsCarryPositionFlagsAndWheelDelta) {
  SDL_Event e{};
  e.type = SDL_MOUSEBUTTONDOWN;
  e.button.button = SDL_BUTTON_LEFT;
  e.button.clicks = 1;
  e.button.x = 300;
  e.button.y = 150;
  os::detail::TranslateWindowEvent(e, window);
  e.button.clicks = 2;
  os::detail::TranslateWindowEvent(e, window);
  SDL_Event w{};
  w.type = SDL_MOUSEWHEEL;
  w.wheel.y = -2;
  os::detail::TranslateWindowEvent(w, window);

  auto msgs = Drain();
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[0].message, os::WM_LBUTTONDOWN);
  EXPECT_EQ(os::LowWord(static_cast<uintptr_t>(msgs[0].lParam)), 300u);
  EXPECT_EQ(os::HighWord(static_cast<uintptr_t>(msgs[0].lParam)), 150u);
  EXPECT_EQ(msgs[0].wParam & os::MK_LBUTTON, os::MK_LBUTTON);
  EXPECT_EQ(msgs[1].message, os::WM_LBUTTONDBLCLK);
  EXPECT_EQ(msgs[2].message, os::WM_MOUSEWHEEL);
  EXPECT_EQ(static_cast<int16_t>(os::HighWord(msgs[2].wParam)), -240);
}

TEST_F(OsTest, WindowEventsBecomeTheOriginalMessages) {
  const std::pair<SDL_WindowEventID, std::pair<uint32_t, os::WPARAM>> cases[] = {
      {SDL_WINDOWEVENT_CLOSE, {os::WM_CLOSE, 0}},
      {SDL_WINDOWEVENT_EXPOSED, {os::WM_PAINT, 0}},
      {SDL_WINDOWEVENT_FOCUS_GAINED, {os::WM_ACTIVATEAPP, 1}},
      {SDL_WINDOWEVENT_FOCUS_LOST, {os::WM_ACTIVATEAPP, 0}},
      {SDL_WINDOWEVENT_MINIMIZED, {os::WM_SYSCOMMAND, os::SC_MINIMIZE}},
      {SDL_WINDOWEVENT_RESTORED, {os::WM_SYSCOMMAND, os::SC_RESTORE}},
  };
  for (const auto& c : cases) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.event = static_cast<Uint8>(c.first);
    os::detail::TranslateWindowEvent(e, window);
    auto msgs = Drain();
    ASSERT_EQ(msgs.size(), 1u) << int(c.first);
    EXPECT_EQ(msgs[0].message, c.second.first);
    EXPECT_EQ(msgs[0].wParam, c.second.second);
  }
}

TEST_F(OsTest, QuitRequestAndTerminationSignalCloseEveryWindow) {
  HWND second = os::CreateWindow("osTest", "", 0, 0, 0, 0, 10, 10);
  SDL_Event e{};
  e.type = SDL_QUIT;
  os::detail::TranslateWindowEvent(e, nullptr);
  auto msgs = Drain();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].message, os::WM_CLOSE);
  EXPECT_EQ(msgs[1].hwnd, second);

  std::raise(SIGTERM);  // the handler only notes it; the next look at the queue closes
  msgs = Drain();
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].message, os::WM_CLOSE);
  EXPECT_EQ(msgs[0].hwnd, window);
}

TEST_F(OsTest, DefaultCursorHandlingUsesTheClassCursor) {
  os::SetCursor(os::Cursor::Wait);
  os::SendMessage(window, os::WM_SETCURSOR, 0, 0);
  EXPECT_EQ(os::CurrentCursor(), os::Cursor::Arrow);
}

int g_boxes = 0;
std::string g_boxText;
int FakeBox(const std::string& text, const std::string& caption, unsigned) {
  ++g_boxes;
  g_boxText = caption + "|" + text;
  return os::IDOK;
}

TEST_F(OsTest, MessageBoxCanBeCapturedAndAlwaysReachesStandardError) {
  os::SetMessageBoxHook(FakeBox);
  testing::internal::CaptureStderr();
  EXPECT_EQ(os::MessageBox(nullptr, "one\r two", "Cap", os::MB_OK), os::IDOK);
  const std::string err = testing::internal::GetCapturedStderr();
  os::SetMessageBoxHook(nullptr);
  EXPECT_EQ(g_boxes, 1);
  EXPECT_EQ(g_boxText, "Cap|one\r two");
  EXPECT_EQ(err, "Cap: one\n two\n");  // a bare carriage return would overwrite the line
}

uint32_t g_now = 0;
uint32_t FakeClock() { return g_now; }
uint32_t g_slept = 0;
void FakeSleep(uint32_t ms) { g_slept += ms; }

TEST(OsClock, InjectedClockAndSleepReplaceTheSystemOnes) {
  g_now = 0xFFFFFFFEu;
  os::SetClockSource(FakeClock);
  const uint32_t before = os::TimeGetTime();
  g_now += 5;  // wraps
  EXPECT_EQ(os::TimeGetTime() - before, 5u);
  os::SetClockSource(nullptr);
  const uint32_t a = os::TimeGetTime();
  os::SetSleepHook(FakeSleep);
  os::Sleep(100);
  EXPECT_EQ(g_slept, 100u);
  os::SetSleepHook(nullptr);
  os::Sleep(20);
  EXPECT_GE(os::TimeGetTime() - a, 20u);
}

TEST(OsParams, PrefixTestIgnoresCaseAndStripsNothing) {
  os::SetParams({"-SHOWFPS", "debugger", "/novsync"});
  EXPECT_TRUE(os::HasParamPrefix("DEBUG"));
  EXPECT_TRUE(os::HasParamPrefix("Debugger"));
  EXPECT_FALSE(os::HasParamPrefix("DEBUGGERS"));  // a shorter parameter cannot match a longer name
  EXPECT_FALSE(os::HasParamPrefix("SHOWFPS"));
  EXPECT_FALSE(os::HasParamPrefix("NOVSYNC"));
  os::SetParams({});
  EXPECT_FALSE(os::HasParamPrefix("DEBUG"));
}

}  // namespace
