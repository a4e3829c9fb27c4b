#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#else
#include <io.h>
#endif

#include "platform/os/internal.h"
#include "platform/os/system.h"

namespace os {
namespace {
// An output's bytes as written (Windows would translate line ends otherwise); not inherited.
#ifdef O_BINARY
constexpr int kBinary = O_BINARY;
#else
constexpr int kBinary = 0;
#endif
#ifdef O_CLOEXEC
constexpr int kCloseOnExec = O_CLOEXEC;
#else
constexpr int kCloseOnExec = 0;
#endif
}  // namespace

namespace detail {
namespace {

// The first Ctrl+C or SIGTERM, kept for the rest of the run: a request that comes before there is
// a window to close (start-up, loading) is still there when the window is.
volatile std::sig_atomic_t g_signalled = 0;
// Whether the request has been turned into a close of the windows there were.
bool g_closed = false;

LPARAM KeyLParam(const SDL_KeyboardEvent& key, bool down) {
  // Repeat count 1, the scan code in bits 16..23, "was down" in bit 30, "being released" in bit 31:
  // the packing of Win32's WM_KEYDOWN and WM_KEYUP.
  uint32_t v = 1u | ((static_cast<uint32_t>(key.keysym.scancode) & 0xFFu) << 16);
  if (!down || key.repeat) v |= 1u << 30;
  if (!down) v |= 1u << 31;
  return static_cast<LPARAM>(v);
}

void PostKey(HWND window, const SDL_KeyboardEvent& key, bool down) {
  const uint32_t vk = VirtualKeyOf(key.keysym.scancode, key.keysym.sym);
  if (vk == 0) return;
  SetKeyDown(vk, down);
  // The generic modifier codes follow their left and right keys.
  if (vk == VK_LSHIFT || vk == VK_RSHIFT) SetKeyDown(VK_SHIFT, down);
  if (vk == VK_LCONTROL || vk == VK_RCONTROL) SetKeyDown(VK_CONTROL, down);
  if (vk == VK_LMENU || vk == VK_RMENU) SetKeyDown(VK_MENU, down);
  uint32_t reported = vk;
  if (vk == VK_LSHIFT || vk == VK_RSHIFT) reported = VK_SHIFT;
  if (vk == VK_LCONTROL || vk == VK_RCONTROL) reported = VK_CONTROL;
  if (vk == VK_LMENU || vk == VK_RMENU) reported = VK_MENU;
  if (window) PostMessage(window, down ? WM_KEYDOWN : WM_KEYUP, reported, KeyLParam(key, down));
}

// Code points of a UTF-8 string; malformed bytes are passed on one by one.
void PostText(HWND window, const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (*p) {
    uint32_t cp = *p;
    int extra = 0;
    if (cp >= 0xF0 && cp < 0xF8) { cp &= 0x07; extra = 3; }
    else if (cp >= 0xE0) { cp &= 0x0F; extra = 2; }
    else if (cp >= 0xC0) { cp &= 0x1F; extra = 1; }
    int i = 1;
    for (; i <= extra && (p[i] & 0xC0) == 0x80; ++i) cp = (cp << 6) | (p[i] & 0x3F);
    if (i <= extra) { cp = *p; i = 1; }
    PostMessage(window, WM_CHAR, cp, 1);
    p += i;
  }
}

void PostMouse(HWND window, uint32_t message, int x, int y, uint32_t buttons) {
  const LPARAM lp = MakeLParam(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
  PostMessage(window, message, MouseKeyFlags(buttons), lp);
}

// The files to remove on a hard end, kept where a signal handler can read them: a slot's name is
// complete before its flag says so, and the flag is cleared before the name changes.
constexpr int kTemporarySlots = 16;
constexpr size_t kTemporaryNameSize = 4096;
char g_temporaryNames[kTemporarySlots][kTemporaryNameSize];
volatile std::sig_atomic_t g_temporaryUsed[kTemporarySlots] = {};

void RemoveTemporaryFiles() {
  for (int i = 0; i < kTemporarySlots; ++i)
    if (g_temporaryUsed[i]) unlink(g_temporaryNames[i]);
}

// Ends the process as the signal's default action would, leaving no temporary file behind.
void EndBySignal(int signal) {
  RemoveTemporaryFiles();
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(signal, &sa, nullptr);
  raise(signal);
}

void OnSignal(int signal) {
  // One request to stop closes the show like its close box; a second one, should the first not
  // be enough, ends the process the default way.
  if (g_signalled == 0) {
    g_signalled = signal;
    return;
  }
  EndBySignal(signal);
}

}  // namespace

uint32_t MouseKeyFlags(uint32_t buttons) {
  uint32_t flags = 0;
  if (buttons & SDL_BUTTON_LMASK) flags |= MK_LBUTTON;
  if (buttons & SDL_BUTTON_RMASK) flags |= MK_RBUTTON;
  if (buttons & SDL_BUTTON_MMASK) flags |= MK_MBUTTON;
  uint8_t keys[256];
  GetKeyboardState(keys);
  if (keys[VK_SHIFT] & 0x80) flags |= MK_SHIFT;
  if (keys[VK_CONTROL] & 0x80) flags |= MK_CONTROL;
  return flags;
}

uint32_t VirtualKeyOf(SDL_Scancode scancode, SDL_Keycode key) {
  if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) return 'A' + (scancode - SDL_SCANCODE_A);
  if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) return '1' + (scancode - SDL_SCANCODE_1);
  if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F12) return VK_F1 + (scancode - SDL_SCANCODE_F1);
  if (scancode >= SDL_SCANCODE_KP_1 && scancode <= SDL_SCANCODE_KP_9) return VK_NUMPAD1 + (scancode - SDL_SCANCODE_KP_1);
  switch (scancode) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_KP_0: return VK_NUMPAD0;
    case SDL_SCANCODE_ESCAPE: return VK_ESCAPE;
    case SDL_SCANCODE_RETURN: return VK_RETURN;
    case SDL_SCANCODE_KP_ENTER: return VK_RETURN;
    case SDL_SCANCODE_BACKSPACE: return VK_BACK;
    case SDL_SCANCODE_TAB: return VK_TAB;
    case SDL_SCANCODE_SPACE: return VK_SPACE;
    case SDL_SCANCODE_LSHIFT: return VK_LSHIFT;
    case SDL_SCANCODE_RSHIFT: return VK_RSHIFT;
    case SDL_SCANCODE_LCTRL: return VK_LCONTROL;
    case SDL_SCANCODE_RCTRL: return VK_RCONTROL;
    case SDL_SCANCODE_LALT: return VK_LMENU;
    case SDL_SCANCODE_RALT: return VK_RMENU;
    case SDL_SCANCODE_PAUSE: return VK_PAUSE;
    case SDL_SCANCODE_CAPSLOCK: return VK_CAPITAL;
    case SDL_SCANCODE_PAGEUP: return VK_PRIOR;
    case SDL_SCANCODE_PAGEDOWN: return VK_NEXT;
    case SDL_SCANCODE_END: return VK_END;
    case SDL_SCANCODE_HOME: return VK_HOME;
    case SDL_SCANCODE_LEFT: return VK_LEFT;
    case SDL_SCANCODE_UP: return VK_UP;
    case SDL_SCANCODE_RIGHT: return VK_RIGHT;
    case SDL_SCANCODE_DOWN: return VK_DOWN;
    case SDL_SCANCODE_INSERT: return VK_INSERT;
    case SDL_SCANCODE_DELETE: return VK_DELETE;
    case SDL_SCANCODE_KP_MULTIPLY: return VK_MULTIPLY;
    case SDL_SCANCODE_KP_PLUS: return VK_ADD;
    case SDL_SCANCODE_KP_MINUS: return VK_SUBTRACT;
    case SDL_SCANCODE_KP_PERIOD: return VK_DECIMAL;
    case SDL_SCANCODE_KP_DIVIDE: return VK_DIVIDE;
    default: break;
  }
  // Punctuation keeps no virtual-key code of its own here; the typed character arrives as WM_CHAR.
  (void)key;
  return 0;
}

uint32_t WindowIdOf(const SDL_Event& event) {
  switch (event.type) {
    case SDL_WINDOWEVENT: return event.window.windowID;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return event.key.windowID;
    case SDL_TEXTINPUT: return event.text.windowID;
    case SDL_MOUSEMOTION: return event.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return event.button.windowID;
    case SDL_MOUSEWHEEL: return event.wheel.windowID;
    default: return 0;
  }
}

void TranslateEvent(const SDL_Event& event) {
  if (event.type == SDL_QUIT) {
    CloseAllWindows();
    return;
  }
  HWND window = WindowFromSdlId(WindowIdOf(event));
  // Keys still count for the keyboard state when no window of ours has the focus.
  if (!window && event.type != SDL_KEYDOWN && event.type != SDL_KEYUP) return;
  TranslateWindowEvent(event, window);
}

void TranslateWindowEvent(const SDL_Event& event, HWND window) {
  switch (event.type) {
    case SDL_QUIT:
      CloseAllWindows();
      break;
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE: PostMessage(window, WM_CLOSE, 0, 0); break;
        case SDL_WINDOWEVENT_EXPOSED: PostMessage(window, WM_PAINT, 0, 0); break;
        case SDL_WINDOWEVENT_FOCUS_GAINED: PostMessage(window, WM_ACTIVATEAPP, 1, 0); break;
        case SDL_WINDOWEVENT_FOCUS_LOST: PostMessage(window, WM_ACTIVATEAPP, 0, 0); break;
        case SDL_WINDOWEVENT_MINIMIZED: PostMessage(window, WM_SYSCOMMAND, SC_MINIMIZE, 0); break;
        case SDL_WINDOWEVENT_RESTORED: PostMessage(window, WM_SYSCOMMAND, SC_RESTORE, 0); break;
        default: break;
      }
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      PostKey(window, event.key, event.type == SDL_KEYDOWN);
      break;
    case SDL_TEXTINPUT:
      PostText(window, event.text.text);
      break;
    case SDL_MOUSEMOTION:
      SendMessage(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), MakeLParam(1, WM_MOUSEMOVE));
      PostMouse(window, WM_MOUSEMOVE, event.motion.x, event.motion.y, event.motion.state);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
      const bool down = event.type == SDL_MOUSEBUTTONDOWN;
      const bool twice = down && event.button.clicks == 2;
      uint32_t message = 0;
      switch (event.button.button) {
        case SDL_BUTTON_LEFT: message = twice ? WM_LBUTTONDBLCLK : down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
        case SDL_BUTTON_RIGHT: message = twice ? WM_RBUTTONDBLCLK : down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
        case SDL_BUTTON_MIDDLE: message = down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
        default: break;
      }
      // The button state after this event: SDL's own state may not have caught up.
      uint32_t buttons = VideoAvailable() ? SDL_GetMouseState(nullptr, nullptr) : 0;
      const uint32_t mask = SDL_BUTTON(event.button.button);
      buttons = down ? (buttons | mask) : (buttons & ~mask);
      if (message) PostMouse(window, message, event.button.x, event.button.y, buttons);
      break;
    }
    case SDL_MOUSEWHEEL: {
      int y = event.wheel.y;
      if (event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED) y = -y;
      int mx = 0, my = 0;
      const uint32_t buttons = VideoAvailable() ? SDL_GetMouseState(&mx, &my) : 0;
      const auto delta = static_cast<uint16_t>(static_cast<int16_t>(y * 120));
      const WPARAM wp = (static_cast<WPARAM>(delta) << 16) | MouseKeyFlags(buttons);
      PostMessage(window, WM_MOUSEWHEEL, wp, MakeLParam(static_cast<uint32_t>(mx), static_cast<uint32_t>(my)));
      break;
    }
    default:
      break;
  }
}

void InstallSignalHandlers() {
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
#ifdef _WIN32
  // The C library resets the handler once it has run: the second Ctrl+C ends the process.
  sa.sa_flags = SA_RESETHAND;
#endif
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
#ifndef _WIN32
  // A closed terminal is a request to stop, unless the program was started to ignore it (nohup).
  struct sigaction hangup {};
  if (sigaction(SIGHUP, nullptr, &hangup) == 0 && hangup.sa_handler != SIG_IGN) sigaction(SIGHUP, &sa, nullptr);
  struct sigaction quit {};
  quit.sa_handler = EndBySignal;
  sigemptyset(&quit.sa_mask);
  sigaction(SIGQUIT, &quit, nullptr);
  // A library that gives up (abort) takes the run's unfinished files with it.
  sigaction(SIGABRT, &quit, nullptr);
  // Failed writes are reported by whoever writes, with the file's name.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
  sigaction(SIGXFSZ, &ignore, nullptr);
#endif
}

void PumpEvents() {
  if (g_signalled && !g_closed) g_closed = CloseAllWindows() > 0;
  if (!VideoAvailable()) return;
  SDL_Event event;
  while (SDL_PollEvent(&event)) TranslateEvent(event);
}

}  // namespace detail

void CatchStopRequests() { detail::InstallSignalHandlers(); }

bool StopRequested() { return detail::g_signalled != 0; }

const char* StopSignalName(int signal) {
  if (signal == SIGINT) return "Ctrl+C";
#ifndef _WIN32
  if (signal == SIGHUP) return "SIGHUP";
#endif
  return "SIGTERM";
}

void AddTemporaryFile(const std::string& path) {
  if (path.empty() || path.size() >= detail::kTemporaryNameSize) return;
  for (int i = 0; i < detail::kTemporarySlots; ++i) {
    if (detail::g_temporaryUsed[i]) continue;
    std::memcpy(detail::g_temporaryNames[i], path.c_str(), path.size() + 1);
    detail::g_temporaryUsed[i] = 1;
    return;
  }
}

void RemoveTemporaryFile(const std::string& path) {
  for (int i = 0; i < detail::kTemporarySlots; ++i)
    if (detail::g_temporaryUsed[i] && path == detail::g_temporaryNames[i]) detail::g_temporaryUsed[i] = 0;
}

int CreateTemporaryFile(const std::string& finalPath, std::string& name) {
  static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 random{std::random_device{}()};
  const auto slash = finalPath.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : finalPath.substr(0, slash);
  const std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
  int error = EEXIST;
  for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
    // Hidden, and short enough for any file system however long the final name is.
    name = folder + "/." + base.substr(0, 200) + ".";
    for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
    AddTemporaryFile(name);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | kBinary | kCloseOnExec, 0666);
    if (fd >= 0) {
#ifdef __EMSCRIPTEN__
      ::fchmod(fd, 0600);  // the browser's file system reports a umask of 0777 and has no other users
#endif
      return fd;
    }
    error = errno;
    RemoveTemporaryFile(name);
  }
  name.clear();
  errno = error;
  return -1;
}
int StopSignal() { return detail::g_signalled; }

}  // namespace os
