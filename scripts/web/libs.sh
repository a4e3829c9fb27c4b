#!/usr/bin/env bash
# Builds the libraries the browser build links, with emscripten, from Debian's source packages
# (`apt-get source`), once, into a cache folder outside the repository:
#   ${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}/{src,build,sysroot}
# sysroot/ holds the headers and static libraries (lib/*.a). A library whose stamp
# (sysroot/stamps/NAME-VERSION) exists is skipped, so a second run costs nothing.
# emscripten's own ports cannot be used here: they download their sources.
set -euo pipefail
cd "$(dirname "$0")/../.."
CACHE=${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}
JOBS=${JOBS:-$(nproc)}
SYSROOT=$CACHE/sysroot
mkdir -p "$CACHE/src" "$CACHE/build" "$SYSROOT/lib" "$SYSROOT/include" "$SYSROOT/stamps"
export NODE_PATH=/usr/share/nodejs   # emcc's optimiser needs acorn from Debian's node modules
CFLAGS_WEB="-O2"

LIB_CC=emcc LIB_CFLAGS=$CFLAGS_WEB LIB_AR=emar
source scripts/lib/debsrc.sh  # fetch, version_of, done_already, stamp, compile_lib

# emcmake_lib NAME SRCDIR CMAKE-ARGS...
emcmake_lib() {
  local name=$1 src=$2; shift 2
  local b=$CACHE/build/$name; rm -rf "$b"
  emcmake cmake -S "$src" -B "$b" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$SYSROOT" \
    -DCMAKE_PREFIX_PATH="$SYSROOT" -DCMAKE_FIND_ROOT_PATH="$SYSROOT" \
    -DCMAKE_C_FLAGS="$CFLAGS_WEB" -DBUILD_SHARED_LIBS=OFF "$@" >"$b.configure.log" 2>&1 \
    || { tail -30 "$b.configure.log"; exit 1; }
  cmake --build "$b" -j"$JOBS" >"$b.build.log" 2>&1 || { tail -30 "$b.build.log"; exit 1; }
  cmake --install "$b" >"$b.install.log" 2>&1 || { tail -30 "$b.install.log"; exit 1; }
}

# zlib
src=$(fetch zlib); v=zlib-$(version_of "$src" zlib)
if ! done_already "$v"; then
  compile_lib zlib libz.a "$src" "-DZ_HAVE_UNISTD_H" adler32.c compress.c crc32.c deflate.c \
    gzclose.c gzlib.c gzread.c gzwrite.c infback.c inffast.c inflate.c inftrees.c trees.c uncompr.c zutil.c
  cp "$src/zlib.h" "$src/zconf.h" "$SYSROOT/include/"
  stamp "$v"
fi

# libogg and libvorbis
source scripts/lib/xiph.sh  # (the working folder is the source root)

# libpng
src=$(fetch libpng1.6); v=libpng-$(version_of "$src" libpng1.6)
if ! done_already "$v"; then
  emcmake_lib libpng "$src" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DPNG_BUILD_ZLIB=OFF -DZLIB_INCLUDE_DIR="$SYSROOT/include" -DZLIB_LIBRARY="$SYSROOT/lib/libz.a" \
    -DM_LIBRARY="" -DPNG_HARDWARE_OPTIMIZATIONS=OFF -DSKIP_INSTALL_EXECUTABLES=ON
  stamp "$v"
fi

# libjpeg-turbo (no SIMD in wasm; type sizes given, CMake's checks go wrong with this toolchain)
src=$(fetch libjpeg-turbo); v=libjpeg-turbo-$(version_of "$src" libjpeg-turbo)
if ! done_already "$v"; then
  emcmake_lib libjpeg "$src" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
    -DWITH_JAVA=OFF -DHAVE_SIZE_T=1 -DSIZE_T=4 -DHAVE_UNSIGNED_LONG=1 -DUNSIGNED_LONG=4 \
    -DCMAKE_INSTALL_LIBDIR="$SYSROOT/lib" -DCMAKE_INSTALL_INCLUDEDIR="$SYSROOT/include"
  stamp "$v"
fi

# FreeType (the show renders one TrueType face): our zlib, else FreeType compiles in a copy of its
# own whose symbols clash with it; no other optional dependency.
src=$(fetch freetype); v=freetype-$(version_of "$src" freetype)-zlib
if ! done_already "$v"; then
  emcmake_lib freetype "$src" -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
    -DFT_DISABLE_BROTLI=ON -DFT_REQUIRE_ZLIB=ON -DZLIB_INCLUDE_DIR="$SYSROOT/include" \
    -DZLIB_LIBRARY="$SYSROOT/lib/libz.a" -DCMAKE_INSTALL_LIBDIR=lib
  stamp "$v"
fi

# SDL2 (window, events, clock, WebGL 2 context and Web Audio output; no threads)
src=$(fetch libsdl2); v=libsdl2-$(version_of "$src" libsdl2)
if ! done_already "$v"; then
  emcmake_lib sdl2 "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_TESTS=OFF \
    -DSDL_THREADS=OFF -DCMAKE_INSTALL_LIBDIR=lib
  stamp "$v"
fi
echo "libraries in $SYSROOT"
