#!/usr/bin/env bash
# Installs the Debian packages the Windows build and its test need: the MinGW-w64 cross toolchain
# (with zlib built for it), Wine to run the result, meson (libepoxy builds with it), zip, and what
# `apt-get source` needs (the deb-src line for the configured mirror is added when missing, as for
# the browser build).
set -euo pipefail

PACKAGES=(g++-mingw-w64-x86-64 mingw-w64 libz-mingw-w64-dev wine64 wine meson ninja-build
          dpkg-dev xz-utils zip unzip python3)

source "$(dirname "$0")/../lib/debian.sh"
install_with_sources "${PACKAGES[@]}"
