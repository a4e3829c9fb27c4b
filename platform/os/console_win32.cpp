// The show is a windowed program (no console window opens with it). Started from a console, it
// still prints there: before main, a program that was given no standard handles attaches to its
// parent's console and writes to it. Programs started with handles (pipes, files, Wine from a
// terminal) keep them. The program links this file by naming vk_os_console_attach
// (cmake/Windows.cmake).

#include <windows.h>

#include <cstdio>

extern "C" int vk_os_console_attach = 0;

namespace {

bool HasHandle(DWORD which) {
  HANDLE h = GetStdHandle(which);
  return h != nullptr && h != INVALID_HANDLE_VALUE;
}

struct AttachConsole {
  AttachConsole() {
    if (HasHandle(STD_OUTPUT_HANDLE) || HasHandle(STD_ERROR_HANDLE)) return;
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return;
    vk_os_console_attach = 1;
    std::freopen("CONOUT$", "w", stdout);
    std::freopen("CONOUT$", "w", stderr);
  }
} g_attach;

}  // namespace
