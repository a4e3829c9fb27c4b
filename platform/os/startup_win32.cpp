// What the show's program does on Windows before main (it links this file by naming
// vk_os_startup, cmake/Windows.cmake):
// - Files open in binary mode unless they say otherwise, so the trace and every other file the
//   show writes hold the bytes they hold on Linux (text mode would write CR-LF line ends).
//   The console streams keep text mode, as Windows programs' do.
// - The show is a windowed program (no console window opens with it). Started from a console, it
//   still prints there: a program that was given no standard handles attaches to its parent's
//   console and writes to it. Programs started with handles (pipes, files, Wine from a terminal)
//   keep them.

#include <windows.h>

#include <fcntl.h>
#include <cstdio>
#include <cstdlib>

extern "C" int vk_os_startup = 0;

namespace {

bool HasHandle(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

struct Startup {
  Startup() {
    _fmode = _O_BINARY;
    vk_os_startup = 1;
    if (HasHandle(STD_OUTPUT_HANDLE) || HasHandle(STD_ERROR_HANDLE)) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
} g_startup;

}  // namespace
