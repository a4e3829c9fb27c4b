#!/usr/bin/env bash
# Installs the Debian packages the Windows build and its test need: the MinGW-w64 cross toolchain
# (with zlib built for it), Wine to run the result, meson (libepoxy builds with it), zip, and what
# `apt-get source` needs (the deb-src line for the configured mirror is added when missing, as for
# the browser build).
set -euo pipefail

PACKAGES=(g++-mingw-w64-x86-64 mingw-w64 libz-mingw-w64-dev wine64 wine meson ninja-build
          dpkg-dev xz-utils zip unzip python3)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# Source packages come from the same mirror as the binary ones (the main archive only: the
# security mirror's source pool is not always reachable, and these libraries only need to build).
need_update=0
if ! grep -rqs '^\(Types:.*deb-src\|deb-src \)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  src=/etc/apt/sources.list.d/quorvanteplidusk-deb-src.sources
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    awk -v RS= -v ORS='\n\n' '!/security/' /etc/apt/sources.list.d/debian.sources \
      | sed 's/^Types: deb$/Types: deb-src/' | $SUDO tee "$src" >/dev/null
  else
    grep '^deb ' /etc/apt/sources.list | grep -v security | sed 's/^deb /deb-src /' | $SUDO tee "${src%.sources}.list" >/dev/null
  fi
  need_update=1
fi

if [ ${#missing[@]} -gt 0 ] || [ $need_update = 1 ]; then
  $SUDO apt-get update -qq
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
