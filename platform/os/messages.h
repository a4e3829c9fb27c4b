#pragma once
// One message queue for the whole program. Window-system events become posted messages with the
// numbers and parameter packing a Win32 window procedure expects, so a close box, Escape and
// a programmatic close all travel the same road: WM_CLOSE -> DestroyWindow -> WM_DESTROY -> WM_QUIT.

#include <cstdint>

#include "platform/os/window.h"

namespace os {

constexpr uint32_t WM_NULL = 0x0000;
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_PAINT = 0x000F;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_ACTIVATEAPP = 0x001C;
constexpr uint32_t WM_SETCURSOR = 0x0020;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_CHAR = 0x0102;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t WM_MOUSEMOVE = 0x0200;
constexpr uint32_t WM_LBUTTONDOWN = 0x0201;
constexpr uint32_t WM_LBUTTONUP = 0x0202;
constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
constexpr uint32_t WM_RBUTTONUP = 0x0205;
constexpr uint32_t WM_RBUTTONDBLCLK = 0x0206;
constexpr uint32_t WM_MBUTTONDOWN = 0x0207;
constexpr uint32_t WM_MBUTTONUP = 0x0208;
constexpr uint32_t WM_MOUSEWHEEL = 0x020A;

constexpr uint32_t SC_MINIMIZE = 0xF020;
constexpr uint32_t SC_CLOSE = 0xF060;
constexpr uint32_t SC_RESTORE = 0xF120;

// Mouse-message key flags (wParam of mouse messages).
constexpr uint32_t MK_LBUTTON = 0x0001;
constexpr uint32_t MK_RBUTTON = 0x0002;
constexpr uint32_t MK_SHIFT = 0x0004;
constexpr uint32_t MK_CONTROL = 0x0008;
constexpr uint32_t MK_MBUTTON = 0x0010;

constexpr uint32_t PM_NOREMOVE = 0x0000;
constexpr uint32_t PM_REMOVE = 0x0001;

// Virtual-key codes (wParam of key messages, index of the keyboard state).
constexpr uint32_t VK_BACK = 0x08;
constexpr uint32_t VK_TAB = 0x09;
constexpr uint32_t VK_RETURN = 0x0D;
constexpr uint32_t VK_SHIFT = 0x10;
constexpr uint32_t VK_CONTROL = 0x11;
constexpr uint32_t VK_MENU = 0x12;
constexpr uint32_t VK_PAUSE = 0x13;
constexpr uint32_t VK_CAPITAL = 0x14;
constexpr uint32_t VK_ESCAPE = 0x1B;
constexpr uint32_t VK_SPACE = 0x20;
constexpr uint32_t VK_PRIOR = 0x21;
constexpr uint32_t VK_NEXT = 0x22;
constexpr uint32_t VK_END = 0x23;
constexpr uint32_t VK_HOME = 0x24;
constexpr uint32_t VK_LEFT = 0x25;
constexpr uint32_t VK_UP = 0x26;
constexpr uint32_t VK_RIGHT = 0x27;
constexpr uint32_t VK_DOWN = 0x28;
constexpr uint32_t VK_INSERT = 0x2D;
constexpr uint32_t VK_DELETE = 0x2E;
// '0'..'9' = 0x30..0x39, 'A'..'Z' = 0x41..0x5A
constexpr uint32_t VK_NUMPAD0 = 0x60;
constexpr uint32_t VK_NUMPAD1 = 0x61;
constexpr uint32_t VK_NUMPAD2 = 0x62;
constexpr uint32_t VK_NUMPAD3 = 0x63;
constexpr uint32_t VK_NUMPAD4 = 0x64;
constexpr uint32_t VK_NUMPAD5 = 0x65;
constexpr uint32_t VK_NUMPAD6 = 0x66;
constexpr uint32_t VK_NUMPAD7 = 0x67;
constexpr uint32_t VK_NUMPAD8 = 0x68;
constexpr uint32_t VK_NUMPAD9 = 0x69;
constexpr uint32_t VK_MULTIPLY = 0x6A;
constexpr uint32_t VK_ADD = 0x6B;
constexpr uint32_t VK_SUBTRACT = 0x6D;
constexpr uint32_t VK_DECIMAL = 0x6E;
constexpr uint32_t VK_DIVIDE = 0x6F;
constexpr uint32_t VK_F1 = 0x70;  // .. VK_F12 = 0x7B
constexpr uint32_t VK_LSHIFT = 0xA0;
constexpr uint32_t VK_RSHIFT = 0xA1;
constexpr uint32_t VK_LCONTROL = 0xA2;
constexpr uint32_t VK_RCONTROL = 0xA3;
constexpr uint32_t VK_LMENU = 0xA4;
constexpr uint32_t VK_RMENU = 0xA5;

struct Message {
  HWND hwnd = nullptr;
  uint32_t message = WM_NULL;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
  uint32_t time = 0;
};

constexpr LPARAM MakeLParam(uint32_t low, uint32_t high) {
  return static_cast<LPARAM>(static_cast<uint32_t>((low & 0xFFFFu) | ((high & 0xFFFFu) << 16)));
}
constexpr uint32_t LowWord(uintptr_t v) { return static_cast<uint32_t>(v & 0xFFFFu); }
constexpr uint32_t HighWord(uintptr_t v) { return static_cast<uint32_t>((v >> 16) & 0xFFFFu); }

// Appends a message to the queue. A null window is allowed (thread message); a destroyed one is not.
bool PostMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// Calls the window procedure at once; 0 when the window is not alive.
LRESULT SendMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// Posts WM_QUIT (wParam = exit code) behind everything already queued.
void PostQuitMessage(int exitCode);

// Collects pending window-system events into the queue, then looks for the first message for
// `window` (nullptr: any) in [first, last] (0, 0: all). Never waits.
bool PeekMessage(Message& msg, HWND window, uint32_t first, uint32_t last, uint32_t removeFlags);
// Like PeekMessage with PM_REMOVE, but waits for a message. Returns false for WM_QUIT.
bool GetMessage(Message& msg, HWND window, uint32_t first, uint32_t last);
// Key downs of keys that type a control character (Escape, Enter, Backspace, Tab) also post WM_CHAR;
// printable characters arrive as WM_CHAR straight from the window system's text input.
bool TranslateMessage(const Message& msg);
// Hands the message to its window's procedure; messages to dead or null windows are dropped.
LRESULT DispatchMessage(const Message& msg);
// What happens to messages a window procedure does not handle: WM_CLOSE destroys the window,
// SC_CLOSE closes it, WM_SETCURSOR sets the class cursor; the rest is ignored.
LRESULT DefWindowProc(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);

// Number of messages waiting (without collecting new events); for tests and diagnostics.
int QueuedMessageCount();
// Drops every queued message (test set-up).
void ClearMessageQueue();

// The keyboard state as of the last key event: 256 bytes, bit 7 set while a key is down.
void GetKeyboardState(uint8_t state[256]);

}  // namespace os
