#!/usr/bin/env bash
# Builds the libraries the Windows build links, with Debian's MinGW-w64 cross toolchain, from
# Debian's source packages (`apt-get source`), once, into a cache folder outside the repository:
#   ${VK_WIN_CACHE:-$HOME/.cache/quorvanteplidusk-win}/{src,build,sysroot}
# sysroot/ holds the headers and static libraries (lib/*.a). A library whose stamp
# (sysroot/stamps/NAME-VERSION) exists is skipped, so a second run costs nothing.
# zlib comes built from Debian (libz-mingw-w64-dev). Everything is linked statically.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
CACHE=${VK_WIN_CACHE:-$HOME/.cache/quorvanteplidusk-win}
JOBS=${JOBS:-$(nproc)}
SYSROOT=$CACHE/sysroot
TOOLCHAIN=$ROOT/cmake/MinGW.cmake
HOST=x86_64-w64-mingw32
CC_WIN=$HOST-gcc-posix
MINGW=/usr/$HOST
mkdir -p "$CACHE/src" "$CACHE/build" "$SYSROOT/lib" "$SYSROOT/include" "$SYSROOT/stamps"
CFLAGS_WIN="-O2"

LIB_CC=$CC_WIN LIB_CFLAGS=$CFLAGS_WIN LIB_AR=$HOST-gcc-ar-posix
source scripts/lib/debsrc.sh  # fetch, version_of, done_already, stamp, compile_lib

# cmake_lib NAME SRCDIR CMAKE-ARGS...
cmake_lib() {
  local name=$1 src=$2; shift 2
  local b=$CACHE/build/$name; rm -rf "$b"
  cmake -S "$src" -B "$b" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DVK_WIN_SYSROOT="$SYSROOT" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$SYSROOT" -DCMAKE_PREFIX_PATH="$SYSROOT" \
    -DCMAKE_C_FLAGS="$CFLAGS_WIN" -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_LIBDIR=lib "$@" \
    >"$b.configure.log" 2>&1 || { tail -30 "$b.configure.log"; exit 1; }
  cmake --build "$b" -j"$JOBS" >"$b.build.log" 2>&1 || { tail -30 "$b.build.log"; exit 1; }
  cmake --install "$b" >"$b.install.log" 2>&1 || { tail -30 "$b.install.log"; exit 1; }
}

ZLIB_ARGS=(-DZLIB_INCLUDE_DIR="$MINGW/include" -DZLIB_LIBRARY="$MINGW/lib/libz.a")

# libogg and libvorbis
source scripts/lib/xiph.sh  # (the working folder is the source root)

# libpng
src=$(fetch libpng1.6); v=libpng-$(version_of "$src" libpng1.6)
if ! done_already "$v"; then
  cmake_lib libpng "$src" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
    -DPNG_BUILD_ZLIB=OFF "${ZLIB_ARGS[@]}" -DM_LIBRARY="" -DSKIP_INSTALL_EXECUTABLES=ON
  stamp "$v"
fi

# libjpeg-turbo (its SIMD code needs nasm; the show decodes a handful of pictures once). Its
# install folders must be absolute: on Windows it would put relative ones under the working folder.
src=$(fetch libjpeg-turbo); v=libjpeg-turbo-$(version_of "$src" libjpeg-turbo)
if ! done_already "$v"; then
  cmake_lib libjpeg "$src" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF \
    -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF -DCMAKE_INSTALL_LIBDIR="$SYSROOT/lib" \
    -DCMAKE_INSTALL_INCLUDEDIR="$SYSROOT/include" -DCMAKE_INSTALL_BINDIR="$SYSROOT/bin" \
    -DCMAKE_INSTALL_DATAROOTDIR="$SYSROOT/share"
  stamp "$v"
fi

# FreeType (the show renders one TrueType face): zlib from the toolchain, no other option.
src=$(fetch freetype); v=freetype-$(version_of "$src" freetype)
if ! done_already "$v"; then
  cmake_lib freetype "$src" -DFT_DISABLE_HARFBUZZ=ON -DFT_DISABLE_BZIP2=ON -DFT_DISABLE_PNG=ON \
    -DFT_DISABLE_BROTLI=ON -DFT_REQUIRE_ZLIB=ON "${ZLIB_ARGS[@]}"
  stamp "$v"
fi

# SDL2 (window, events, clock, WGL context, audio output)
src=$(fetch libsdl2); v=libsdl2-$(version_of "$src" libsdl2)
if ! done_already "$v"; then
  cmake_lib sdl2 "$src" -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_TESTS=OFF
  stamp "$v"
fi

# libepoxy (GL entry points through WGL), with meson and a cross file.
src=$(fetch libepoxy); v=libepoxy-$(version_of "$src" libepoxy)
if ! done_already "$v"; then
  b=$CACHE/build/epoxy; rm -rf "$b"; mkdir -p "$b"
  cat > "$b.cross" <<CROSS
[binaries]
c = '$CC_WIN'
cpp = '$HOST-g++-posix'
ar = '$HOST-gcc-ar-posix'
strip = '$HOST-strip'
windres = '$HOST-windres'
pkgconfig = 'false'
[host_machine]
system = 'windows'
cpu_family = 'x86_64'
cpu = 'x86_64'
endian = 'little'
CROSS
  meson setup "$b" "$src" --cross-file "$b.cross" --prefix "$SYSROOT" --libdir lib \
    --buildtype release --default-library static -Dtests=false -Ddocs=false -Degl=no -Dx11=false \
    >"$b.configure.log" 2>&1 || { tail -30 "$b.configure.log"; exit 1; }
  ninja -C "$b" -j"$JOBS" install >"$b.build.log" 2>&1 || { tail -30 "$b.build.log"; exit 1; }
  stamp "$v"
fi

# googletest (the test programs run under Wine)
src=$(fetch googletest); v=googletest-$(version_of "$src" googletest)
if ! done_already "$v"; then
  cmake_lib googletest "$src" -Dgtest_disable_pthreads=OFF -DINSTALL_GTEST=ON
  stamp "$v"
fi
echo "libraries in $SYSROOT"
