# The Windows build (cmake -DCMAKE_TOOLCHAIN_FILE=cmake/MinGW.cmake -DVK_WIN_SYSROOT=...): the same
# targets as the native build, with the libraries scripts/windows/libs.sh built from Debian's
# source packages into VK_WIN_SYSROOT, and zlib from Debian's MinGW package. Everything is linked
# statically, so the program is one .exe. Libraries with no Windows build here (EGL, fontconfig,
# libsndfile, libopenmpt, ALSA, Cairo, FFmpeg, X11) become empty targets; the sources that used
# them have a Windows side (*_win32.cpp, see cmake/VkLibrary.cmake) or a guard for _WIN32.
if(NOT VK_WIN_SYSROOT)
  message(FATAL_ERROR "VK_WIN_SYSROOT is not set: run scripts/windows/build.sh")
endif()

set(_S ${VK_WIN_SYSROOT})
set(_M /usr/x86_64-w64-mingw32)
# The static zlib by path: the linker would otherwise take the import library of zlib1.dll.
vk_imported_lib(PkgConfig::ZLIB INCLUDE ${_M}/include LIBS ${_M}/lib/libz.a)
vk_imported_lib(PkgConfig::SDL2 INCLUDE ${_S}/include/SDL2 LIBS ${_S}/lib/libSDL2.a
  -lm -lkernel32 -luser32 -lgdi32 -lwinmm -limm32 -lole32 -loleaut32 -lversion -luuid
  -ladvapi32 -lsetupapi -lshell32)
vk_imported_lib(PkgConfig::FREETYPE INCLUDE ${_S}/include/freetype2 LIBS ${_S}/lib/libfreetype.a ${_M}/lib/libz.a)
vk_imported_lib(PkgConfig::PNG INCLUDE ${_S}/include LIBS ${_S}/lib/libpng16.a ${_M}/lib/libz.a)
vk_imported_lib(PkgConfig::JPEG INCLUDE ${_S}/include LIBS ${_S}/lib/libjpeg.a)
vk_imported_lib(PkgConfig::VORBIS INCLUDE ${_S}/include
  LIBS ${_S}/lib/libvorbisfile.a ${_S}/lib/libvorbis.a ${_S}/lib/libogg.a)
vk_imported_lib(PkgConfig::EPOXY INCLUDE ${_S}/include LIBS ${_S}/lib/libepoxy.a -lopengl32 -lgdi32)
foreach(_none EGL FONTCONFIG SNDFILE OPENMPT CAIRO ALSA FFMPEG X11)
  vk_imported_lib(PkgConfig::${_none})
endforeach()
find_package(Threads REQUIRED)

# No DLLs to ship: the compiler's own runtime goes into the program too.
add_link_options(-static -static-libgcc -static-libstdc++)
# rename() replaces an existing file, as on POSIX (platform/os/files_win32.cpp).
add_link_options(-Wl,--wrap=rename)
# The few POSIX names the show's file and signal handling use, given their Windows meaning.
add_compile_options(-include ${CMAKE_SOURCE_DIR}/platform/os/posix_win32.h)
# Windows' headers must not define min and max as macros, and wide-character APIs are not used.
add_compile_definitions(NOMINMAX WIN32_LEAN_AND_MEAN)

# The test programs that run under Wine: archive, timeline, models, water, D3DX, picture decoders;
# win32: the os layer's Win32 facts against Windows' own headers and clock.
set(VK_WIN_TEST_AREAS resource timeline models water d3dx textures win32)
# The archive packer is a tool of the native build; its test stays there.
set(VK_WIN_TEST_LEFT_OUT ${CMAKE_SOURCE_DIR}/tests/resource/pack_test.cpp)

# The text face travels with the program (platform/gfx/d3dx/font.cpp looks in fonts\ next to it).
set(VK_WIN_FONTS /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)
file(COPY ${VK_WIN_FONTS} DESTINATION ${VK_RUN_DIR}/fonts)
file(COPY ${VK_WIN_FONTS} DESTINATION ${CMAKE_BINARY_DIR}/tests/fonts)

# Every program of ours ends with the status it gives exit and without waiting for the exit
# handlers of the host's libraries under Wine (platform/os/exit_win32.cpp).
function(vk_windows_exit target)
  target_link_libraries(${target} PRIVATE vk_os)
  target_link_options(${target} PRIVATE -Wl,--undefined=vk_os_exit -Wl,--wrap=exit)
endfunction()

# The show itself: a windowed program that still prints to the console it was started from, and
# opens files in binary mode (platform/os/startup_win32.cpp).
function(vk_windows_program target)
  target_link_options(${target} PRIVATE -mwindows -Wl,--undefined=vk_os_startup)
  vk_windows_exit(${target})
endfunction()
