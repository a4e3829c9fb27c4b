# The browser build (emcmake cmake ... -DVK_WEB_SYSROOT=...): the same targets as the native
# build, with the libraries scripts/web/libs.sh built from Debian's source packages into
# VK_WEB_SYSROOT. Native-only libraries (epoxy, EGL, fontconfig, libsndfile, libopenmpt, ALSA,
# Cairo, FLTK) become empty targets; the sources that use them are guarded for __EMSCRIPTEN__.
if(NOT VK_WEB_SYSROOT)
  message(FATAL_ERROR "VK_WEB_SYSROOT is not set: run scripts/web/build.sh")
endif()

set(_S ${VK_WEB_SYSROOT})
vk_imported_lib(PkgConfig::ZLIB INCLUDE ${_S}/include LIBS ${_S}/lib/libz.a)
vk_imported_lib(PkgConfig::SDL2 INCLUDE ${_S}/include ${_S}/include/SDL2 LIBS ${_S}/lib/libSDL2.a)
vk_imported_lib(PkgConfig::FREETYPE INCLUDE ${_S}/include/freetype2 LIBS ${_S}/lib/libfreetype.a)
vk_imported_lib(PkgConfig::PNG INCLUDE ${_S}/include LIBS ${_S}/lib/libpng16.a ${_S}/lib/libz.a)
vk_imported_lib(PkgConfig::JPEG INCLUDE ${_S}/include LIBS ${_S}/lib/libjpeg.a)
vk_imported_lib(PkgConfig::VORBIS INCLUDE ${_S}/include
  LIBS ${_S}/lib/libvorbisfile.a ${_S}/lib/libvorbis.a ${_S}/lib/libogg.a)
# WebGL 2 through emscripten's own GL library (linked with -sMAX_WEBGL_VERSION=2 by the program).
vk_imported_lib(PkgConfig::EPOXY)
foreach(_none EGL FONTCONFIG SNDFILE OPENMPT CAIRO ALSA)
  vk_imported_lib(PkgConfig::${_none})
endforeach()
vk_imported_lib(Threads::Threads)

# The show reports errors by exceptions (Delphi's way, kept): the browser build keeps them.
add_compile_options(-fexceptions)
add_link_options(-fexceptions)
