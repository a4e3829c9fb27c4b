#!/usr/bin/env bash
# Installs the Debian packages the browser build and its test need: the emscripten toolchain,
# fonttools (cuts the font down to the glyphs the show draws),
# Chromium (driven headless by the test), Node.js with npm, and what `apt-get source` needs (the
# deb-src line for the configured mirror is added when missing); then playwright-core from npm
# (the test's driver; it drives Debian's chromium, it downloads no browser) into the cache folder
# ${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}/node.
set -euo pipefail

PACKAGES=(emscripten chromium nodejs npm dpkg-dev xz-utils fonts-dejavu-core fonttools python3)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${PACKAGES[@]}"; do
  # A package providing the command is enough (e.g. Node.js from another packager).
  case $p in
    nodejs) command -v node >/dev/null && continue ;;
    npm) command -v npm >/dev/null && continue ;;
  esac
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

CACHE=${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}
PLAYWRIGHT_VERSION=1.65.2
if [ ! -f "$CACHE/node/node_modules/playwright-core/package.json" ] ||
   ! grep -q "\"version\": \"$PLAYWRIGHT_VERSION\"" "$CACHE/node/node_modules/playwright-core/package.json"; then
  mkdir -p "$CACHE/node"
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --no-audit --no-fund --silent --prefix "$CACHE/node" \
    "playwright-core@$PLAYWRIGHT_VERSION"
fi
