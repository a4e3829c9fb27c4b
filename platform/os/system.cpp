#ifndef _WIN32
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <fstream>
#include <set>
#include <thread>

#include "platform/os/internal.h"
#include "platform/os/system.h"

namespace os {
namespace {

bool g_started = false;
bool g_video = false;
std::string g_initError;
Cursor g_cursor = Cursor::Arrow;
MessageBoxHook g_boxHook = nullptr;
SDL_Cursor* g_sdlCursors[3] = {};
std::string g_programName;

// The standard-error line of a box: "caption: text", or with the program's name set, that name
// first as every other message of the program has it ("Name: error: text", "Name: text").
std::string BoxLine(const std::string& caption, const std::string& text) {
  if (g_programName.empty()) return caption + ": " + text;
  if (caption == g_programName || caption.empty()) return g_programName + ": " + text;
  std::string lower = caption;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return g_programName + ": " + lower + ": " + text;
}

std::string ForTerminal(const std::string& text) {
  // The show separates the lines of its boxes with a bare carriage return, as Win32 boxes take
  // them; a terminal would overwrite the line with it.
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += '\n';
    } else {
      out += text[i];
    }
  }
  return out;
}

#ifdef _WIN32
// Windows shows the box in this process (MessageBox): a Ctrl+C in the console ends it with the
// process, and nothing is left behind.
void ShowBoxUntilStopped(Uint32 kind, const std::string& caption, const std::string& text, SDL_Window* parent) {
  SDL_ShowSimpleMessageBox(kind, caption.c_str(), text.c_str(), parent);
}
#else
// Processes whose parent is this one (read from /proc: SDL does not say which child shows a box).
std::set<pid_t> Children() {
  std::set<pid_t> out;
  const pid_t self = getpid();
  DIR* proc = opendir("/proc");
  if (!proc) return out;
  while (const dirent* e = readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(e->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses, the last ')' ends it.
    const auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 && ppid == self)
      out.insert(static_cast<pid_t>(pid));
  }
  closedir(proc);
  return out;
}

// SDL shows its box from a child process (zenity, or a fork for the X11 box) and waits for it, so
// a Ctrl+C or SIGTERM would either go unanswered while the box is up or end the wait and leave
// the box behind in an orphaned child. The box's child is ended at the first request instead; the
// box call then returns and the program ends the way it was going to.
void ShowBoxUntilStopped(Uint32 kind, const std::string& caption, const std::string& text, SDL_Window* parent) {
  const std::set<pid_t> before = Children();
  std::atomic<bool> shown{false};
  std::thread watcher([&] {
    while (!shown.load()) {
      if (StopRequested()) {
        for (pid_t child : Children())
          if (!before.count(child)) kill(child, SIGKILL);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  SDL_ShowSimpleMessageBox(kind, caption.c_str(), text.c_str(), parent);
  shown = true;
  watcher.join();
  // A request that interrupted SDL's own wait returns here with the box still up.
  if (StopRequested()) {
    for (pid_t child : Children())
      if (!before.count(child)) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
      }
  }
}

#endif

// Which display could not be opened, for the message that says so.
std::string DisplayNamed() {
  const char* x11 = SDL_getenv("DISPLAY");
  const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
  if (x11 && *x11) return std::string("the display \"") + x11 + "\" could not be opened; ";
  if (wayland && *wayland) return std::string("the Wayland display \"") + wayland + "\" could not be opened; ";
  return "DISPLAY is not set; ";
}

}  // namespace

bool Init() {
  if (g_started) return g_initError.empty();
  g_started = true;
  detail::InstallSignalHandlers();
  // Our own handlers turn Ctrl+C into a close. SDL's (installed by whichever subsystem starts
  // first, audio included) would post a quit request that a headless run never reads.
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (Headless()) return true;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
    g_initError = std::string("No display available (") + DisplayNamed() + SDL_GetError() +
                  "). Run with --headless to render without a display.";
    return false;
  }
  // With no display SDL may settle on a driver that shows nothing and play the whole show
  // invisibly; only someone who asked for such a driver by name gets it.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = SDL_getenv("SDL_VIDEODRIVER");
  if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
      !(asked && std::strstr(asked, driver))) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    g_initError = std::string("No display available (") + DisplayNamed() + "only SDL's \"" + driver +
                  "\" driver, which shows nothing, was left). Run with --headless to render without a display.";
    return false;
  }
  g_video = true;
  return true;
}

const std::string& InitError() { return g_initError; }

bool VideoAvailable() { return g_video; }

void Shutdown() {
  detail::FreeAllWindows();
  ClearMessageQueue();
  for (auto*& c : g_sdlCursors) {
    if (c) SDL_FreeCursor(c);
    c = nullptr;
  }
  if (g_video) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
  g_video = false;
  g_started = false;
  g_initError.clear();
}

void SetCursor(Cursor cursor) {
  g_cursor = cursor;
  if (!g_video) return;
  if (cursor == Cursor::None) {
    SDL_ShowCursor(SDL_DISABLE);
    return;
  }
  const int slot = cursor == Cursor::Wait ? 2 : 1;
  if (!g_sdlCursors[slot])
    g_sdlCursors[slot] = SDL_CreateSystemCursor(cursor == Cursor::Wait ? SDL_SYSTEM_CURSOR_WAIT : SDL_SYSTEM_CURSOR_ARROW);
  if (g_sdlCursors[slot]) SDL_SetCursor(g_sdlCursors[slot]);
  SDL_ShowCursor(SDL_ENABLE);
}

Cursor CurrentCursor() { return g_cursor; }

int MessageBox(HWND owner, const std::string& text, const std::string& caption, unsigned flags) {
  std::fprintf(stderr, "%s\n", BoxLine(caption, ForTerminal(text)).c_str());
  std::fflush(stderr);
  if (g_boxHook) return g_boxHook(text, caption, flags);
  if (Headless() || !g_video) return IDOK;
  Uint32 kind = SDL_MESSAGEBOX_INFORMATION;
  if ((flags & 0xF0u) == MB_ICONERROR) kind = SDL_MESSAGEBOX_ERROR;
  if ((flags & 0xF0u) == MB_ICONWARNING) kind = SDL_MESSAGEBOX_WARNING;
  // A box over a display in a mode of ours could be hidden or unreadable (a fatal error in the
  // middle of a full-screen show): the desktop gets its own mode back first.
  detail::RestoreAllDesktopModes();
  SDL_Window* parent = IsWindow(owner) ? owner->sdl : nullptr;
  if (StopRequested()) return IDOK;  // asked to stop already: nobody is waiting for a box
  ShowBoxUntilStopped(kind, caption, ForTerminal(text), parent);
  return IDOK;
}

void SetMessageBoxHook(MessageBoxHook hook) { g_boxHook = hook; }

void SetProgramName(const std::string& name) { g_programName = name; }

}  // namespace os

namespace os {
namespace {

std::vector<std::string>& ParamList() {
  static std::vector<std::string> params;
  return params;
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

void SetParams(const std::vector<std::string>& params) { ParamList() = params; }

const std::vector<std::string>& Params() { return ParamList(); }

bool HasParamPrefix(const std::string& name) {
  for (const auto& param : ParamList()) {
    // The first Length(name) characters, upper-cased, against the upper-cased name; a shorter
    // parameter compares what it has and so cannot match a longer name.
    if (param.size() < name.size()) continue;
    bool same = true;
    for (size_t i = 0; i < name.size() && same; ++i) same = Upper(param[i]) == Upper(name[i]);
    if (same) return true;
  }
  return false;
}

}  // namespace os
