#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the headless display need.
# Packages that are already installed are skipped; nothing else is downloaded.
set -euo pipefail

# The tests include X11's headers themselves (and XFixes' to see the cursor), the picture generator draws with DejaVu's italic
# faces (fonts-dejavu-extra), the fuzzer needs clang's libFuzzer, and scripts/frame_report.py
# needs python3. The live sync test starts a PulseAudio server of its own and records it (parec).
PACKAGES=(
  build-essential cmake pkg-config git
  libsdl2-dev libepoxy-dev libegl-dev libgl-dev libgl1-mesa-dri libegl-mesa0 libgbm1
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-dejavu-extra
  zlib1g-dev libpng-dev libjpeg62-turbo-dev
  libvorbis-dev libsndfile1-dev libopenmpt-dev libasound2-dev
  libcairo2-dev libfltk1.3-dev libx11-dev libxfixes-dev
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavutil-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-xserver-utils x11-utils
  zenity
  pulseaudio pulseaudio-utils
  clang libclang-rt-14-dev
  python3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
