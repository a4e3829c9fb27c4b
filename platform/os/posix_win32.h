#pragma once
// The Windows build includes this in every source (cmake/Windows.cmake): the few POSIX names the
// show's file and signal handling use, with their Windows meaning, so those sources keep one
// text for both systems and include no Windows header themselves. Elsewhere it is empty.
#if defined(_WIN32) && defined(__cplusplus)

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>


// Windows has no FIFOs or terminals that make an open wait for a writer: opens never block.
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif
// Not handed on to child processes, and bytes as they are (no CR-LF translation).
#ifndef O_CLOEXEC
#define O_CLOEXEC (_O_NOINHERIT | _O_BINARY)
#endif
#ifndef S_ISSOCK
#define S_ISSOCK(m) 0
#endif
#ifndef S_ISBLK
#define S_ISBLK(m) 0
#endif

// fcntl is only used to clear O_NONBLOCK again, which is never set here.
#ifndef F_GETFL
#define F_GETFL 3
#define F_SETFL 4
static inline int fcntl(int, int, ...) { return 0; }
#endif

static inline int fsync(int fd) { return _commit(fd); }

// sigaction over the C library's signal(): Ctrl+C (and Ctrl+Break) in a console arrive as SIGINT;
// the C library resets a handler to the default once it has run, as SA_RESETHAND does.
#ifndef SA_RESETHAND
#define SA_RESETHAND 0x80000000
typedef int sigset_t;
struct sigaction {
  void (*sa_handler)(int);
  sigset_t sa_mask;
  int sa_flags;
};
static inline int sigemptyset(sigset_t* set) {
  *set = 0;
  return 0;
}
static inline int sigaction(int sig, const struct sigaction* action, struct sigaction* old) {
  void (*previous)(int) = signal(sig, action ? action->sa_handler : SIG_DFL);
  if (old) {
    old->sa_handler = previous;
    old->sa_mask = 0;
    old->sa_flags = 0;
  }
  return previous == SIG_ERR ? -1 : 0;
}
#endif

#endif  // _WIN32 && __cplusplus
