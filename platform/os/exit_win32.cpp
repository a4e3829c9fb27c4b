// How our Windows programs end (the show and the test programs link this file by naming
// vk_os_exit and wrapping exit, cmake/Windows.cmake: vk_windows_exit).
//
// Under Wine, ExitProcess ends the Windows side of a process first: the DLLs' detach calls run,
// then Wine closes the process's connection to its server and calls the host's exit(), which runs
// the exit handlers of the host libraries the process loaded. Mesa's handler waits for its shader
// cache writer, a thread of the lowest priority that may be in the middle of writing a shader
// the last draw compiled. The server counts the process as gone when the connection closes and
// kills it (SIGKILL) if it is still there about half a second later: on a busy machine that
// writer does not get the processor in time, and a test program that had printed its results
// was reported as killed.
//
// Everything of ours still happens as before: main returns, static objects are destroyed, the
// atexit handlers run. The handler installed here runs last: it flushes the streams and ends the
// process with TerminateProcess on itself and the status given to exit, which Wine carries out
// at once (_exit), without the host libraries' handlers. On Windows it leaves out the DLLs' detach
// calls, which hold nothing of ours.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

extern "C" {
int vk_os_exit = 0;
}

extern "C" [[noreturn]] void __real_exit(int status);

namespace {

volatile int g_status = 0;

void EndWithTheStatusGiven() {
  std::fflush(nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(g_status));
}

// Constructed before every other static object, so its handler is registered first and runs
// after theirs (atexit handlers run last-registered first), static destructors included.
struct Install {
  Install() {
    vk_os_exit = 1;
    std::atexit(EndWithTheStatusGiven);
  }
};
__attribute__((init_priority(101))) Install g_install;

}  // namespace

// Every exit() of the program, main's return included (the C runtime's start-up code calls
// exit with main's result), comes here first.
extern "C" [[noreturn]] void __wrap_exit(int status) {
  g_status = status;
  __real_exit(status);
}
