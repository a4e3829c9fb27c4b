#pragma once
// The Windows build includes this in every source (cmake/Windows.cmake): the few POSIX names the
// show's file and signal handling use, with their Windows meaning, so those sources keep one
// text for both systems and include no Windows header themselves. Elsewhere it is empty.
#if defined(_WIN32) && defined(__cplusplus)

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
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
#ifndef O_NOCTTY
#define O_NOCTTY 0  // no terminals to become controlled by
#endif
#ifndef NAME_MAX
#define NAME_MAX 255  // NTFS's limit on one name
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

// Permission bits beyond read-only mean nothing to Windows' files.
static inline int fchmod(int, mode_t) { return 0; }

// A new file of a unique name made from a template ending in XXXXXX, opened for writing.
static inline int mkostemp(char* name, int flags) {
  if (_mktemp_s(name, strlen(name) + 1) != 0) return -1;
  return _open(name, _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | flags, _S_IREAD | _S_IWRITE);
}

// Windows has no symbolic links to read here; the one the show asks for, the running program's
// own file, is the C library's program path.
static inline ssize_t readlink(const char* path, char* buffer, size_t size) {
  if (strcmp(path, "/proc/self/exe") != 0 || !_pgmptr) {
    errno = EINVAL;
    return -1;
  }
  const size_t n = strlen(_pgmptr) < size ? strlen(_pgmptr) : size;
  memcpy(buffer, _pgmptr, n);
  return static_cast<ssize_t>(n);
}

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
