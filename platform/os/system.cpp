#include <cstdio>

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

std::string ForTerminal(const std::string& text) {
  // The original separated lines of its boxes with a bare carriage return; a terminal would
  // overwrite the line with it.
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
    g_initError = std::string("No display available (") + SDL_GetError() +
                  "). Run with --headless to render without a display.";
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
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), ForTerminal(text).c_str());
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
  SDL_ShowSimpleMessageBox(kind, caption.c_str(), ForTerminal(text).c_str(), parent);
  return IDOK;
}

void SetMessageBoxHook(MessageBoxHook hook) { g_boxHook = hook; }

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
