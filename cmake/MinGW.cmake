# Toolchain file for the Windows x86-64 build with Debian's MinGW-w64 cross compilers (the -posix
# ones: the win32-threads flavour has no std::thread or std::mutex). Used by scripts/windows/libs.sh
# for the libraries and by scripts/windows/build.sh for the show:
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW.cmake -DVK_WIN_SYSROOT=<cache>/sysroot ...
# Programs built here run through Wine (tests, and try_run checks).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)
set(CMAKE_AR ${_triple}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${_triple}-gcc-ranlib-posix CACHE FILEPATH "")

# try_compile projects see the sysroot too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VK_WIN_SYSROOT)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple} ${VK_WIN_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps Wine's 64-bit loader out of PATH; it runs an .exe directly.
find_program(VK_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(VK_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VK_WINE64})
endif()
