// The display modes adapter 0 reports: SDL's modes of display 0, a fixed list
// when headless, or what a test set.

#include "platform/gfx/display_modes.h"

#include <SDL.h>

#include <algorithm>

#include "platform/gfx/backend.h"

namespace gx {

namespace {
std::vector<D3DDISPLAYMODE> g_modes;
D3DDISPLAYMODE g_desktop{};
bool g_modesSet = false;

void DefaultModes(std::vector<D3DDISPLAYMODE>& modes, D3DDISPLAYMODE& desktop) {
  modes.clear();
  if (!os::Headless() && SDL_WasInit(SDL_INIT_VIDEO)) {
    int n = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < n; ++i) {
      SDL_DisplayMode m;
      if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
      D3DDISPLAYMODE d{UINT(m.w), UINT(m.h), UINT(m.refresh_rate), D3DFMT_X8R8G8B8};
      bool dup = std::any_of(modes.begin(), modes.end(), [&](const D3DDISPLAYMODE& o) {
        return o.Width == d.Width && o.Height == d.Height && o.RefreshRate == d.RefreshRate;
      });
      if (!dup) modes.push_back(d);
    }
    // Direct3D 9 lists modes in ascending order (width, height, refresh);
    // SDL lists them largest first.
    std::sort(modes.begin(), modes.end(), [](const D3DDISPLAYMODE& a, const D3DDISPLAYMODE& b) {
      if (a.Width != b.Width) return a.Width < b.Width;
      if (a.Height != b.Height) return a.Height < b.Height;
      return a.RefreshRate < b.RefreshRate;
    });
    SDL_DisplayMode m;
    if (SDL_GetDesktopDisplayMode(0, &m) == 0) {
      desktop = {UINT(m.w), UINT(m.h), UINT(m.refresh_rate), D3DFMT_X8R8G8B8};
      if (modes.empty()) modes.push_back(desktop);
      return;
    }
  }
  // Headless (or no video subsystem): the usual modes of a 1080p monitor.
  static const UINT kSizes[][2] = {{640, 480},   {800, 600},   {1024, 768},  {1280, 720},
                                   {1280, 1024}, {1600, 900},  {1920, 1080}};
  for (const auto& s : kSizes) modes.push_back({s[0], s[1], 60, D3DFMT_X8R8G8B8});
  desktop = {1920, 1080, 60, D3DFMT_X8R8G8B8};
}
}  // namespace

void GxSetDisplayModes(const std::vector<D3DDISPLAYMODE>& modes, const D3DDISPLAYMODE& desktop) {
  if (modes.empty()) {
    GxResetDisplayModes();
    return;
  }
  g_modes = modes;
  g_desktop = desktop;
  g_modesSet = true;
}

void GxResetDisplayModes() {
  g_modes.clear();
  g_modesSet = false;
}

const std::vector<D3DDISPLAYMODE>& DisplayModes() {
  if (!g_modesSet) {
    static std::vector<D3DDISPLAYMODE> modes;
    static D3DDISPLAYMODE desktop;
    DefaultModes(modes, desktop);
    return modes;
  }
  return g_modes;
}

D3DDISPLAYMODE DesktopMode() {
  if (!g_modesSet) {
    std::vector<D3DDISPLAYMODE> modes;
    D3DDISPLAYMODE desktop{};
    DefaultModes(modes, desktop);
    return desktop;
  }
  return g_desktop;
}

}  // namespace gx
