// Windows' C library refuses to rename onto an existing file, which POSIX rename replaces in one
// step. The show writes its output files under a temporary name and renames them into place, so
// the Windows build links every rename() call to this one (-Wl,--wrap=rename, cmake/Windows.cmake).

#include <windows.h>

#include <cstdio>

extern "C" int __real_rename(const char* from, const char* to);

extern "C" int __wrap_rename(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  // The C library's own attempt sets errno the usual way for whatever went wrong.
  return __real_rename(from, to);
}
