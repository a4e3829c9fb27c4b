#include <deque>

#include "platform/os/clock.h"
#include "platform/os/internal.h"
#include "platform/os/system.h"

namespace os {
namespace {

std::deque<Message> g_queue;
uint8_t g_keys[256] = {};

bool Matches(const Message& m, HWND window, uint32_t first, uint32_t last) {
  if (window && m.hwnd != window) return false;
  if (first == 0 && last == 0) return true;
  return m.message >= first && m.message <= last;
}

bool TakeFirst(Message& msg, HWND window, uint32_t first, uint32_t last, bool remove) {
  for (auto it = g_queue.begin(); it != g_queue.end(); ++it) {
    if (!Matches(*it, window, first, last)) continue;
    msg = *it;
    if (remove) g_queue.erase(it);
    return true;
  }
  return false;
}

}  // namespace

bool PostMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (window && !IsWindow(window)) return false;
  g_queue.push_back(Message{window, message, wParam, lParam, TimeGetTime()});
  return true;
}

LRESULT SendMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  if (!IsWindow(window) || !window->proc) return 0;
  return window->proc(window, message, wParam, lParam);
}

void PostQuitMessage(int exitCode) {
  g_queue.push_back(Message{nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0, TimeGetTime()});
}

bool PeekMessage(Message& msg, HWND window, uint32_t first, uint32_t last, uint32_t removeFlags) {
  detail::PumpEvents();
  return TakeFirst(msg, window, first, last, (removeFlags & PM_REMOVE) != 0);
}

bool GetMessage(Message& msg, HWND window, uint32_t first, uint32_t last) {
  for (;;) {
    detail::PumpEvents();
    if (TakeFirst(msg, window, first, last, true)) return msg.message != WM_QUIT;
    if (VideoAvailable())
      SDL_WaitEventTimeout(nullptr, 10);
    else
      Sleep(1);
  }
}

bool TranslateMessage(const Message& msg) {
  if (msg.message != WM_KEYDOWN) return false;
  switch (msg.wParam) {
    case VK_ESCAPE:
    case VK_RETURN:
    case VK_BACK:
    case VK_TAB:
      return PostMessage(msg.hwnd, WM_CHAR, msg.wParam, msg.lParam);
    default:
      return false;
  }
}

LRESULT DispatchMessage(const Message& msg) {
  if (!msg.hwnd) return 0;
  return SendMessage(msg.hwnd, msg.message, msg.wParam, msg.lParam);
}

LRESULT DefWindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0u) == SC_CLOSE) PostMessage(window, WM_CLOSE, 0, 0);
      return 0;
    case WM_SETCURSOR:
      if (IsWindow(window)) SetCursor(window->cursor);
      return 1;
    default:
      return 0;
  }
}

int QueuedMessageCount() { return static_cast<int>(g_queue.size()); }

void ClearMessageQueue() { g_queue.clear(); }

void GetKeyboardState(uint8_t state[256]) {
  for (int i = 0; i < 256; ++i) state[i] = g_keys[i];
}

namespace detail {

void DropMessagesFor(HWND window) {
  std::erase_if(g_queue, [window](const Message& m) { return m.hwnd == window; });
}

void SetKeyDown(uint32_t vk, bool down) {
  if (vk < 256) g_keys[vk] = down ? 0x80 : 0x00;
}

}  // namespace detail
}  // namespace os
