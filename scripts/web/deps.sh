#!/usr/bin/env bash
# Installs the Debian packages the browser build and its test need: the emscripten toolchain,
# fonttools (cuts the font down to the glyphs the show draws),
# Chromium (driven headless by the test), Node.js with npm, and what `apt-get source` needs (the
# deb-src line for the configured mirror is added when missing); then playwright-core from npm
# (the test's driver; it drives Debian's chromium, it downloads no browser) into the cache folder
# ${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}/node.
set -euo pipefail

PACKAGES=(emscripten chromium nodejs npm dpkg-dev xz-utils fonts-dejavu-core fonttools python3)

source "$(dirname "$0")/../lib/debian.sh"
install_with_sources "${PACKAGES[@]}"

CACHE=${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}
PLAYWRIGHT_VERSION=1.65.2
if [ ! -f "$CACHE/node/node_modules/playwright-core/package.json" ] ||
   ! grep -q "\"version\": \"$PLAYWRIGHT_VERSION\"" "$CACHE/node/node_modules/playwright-core/package.json"; then
  mkdir -p "$CACHE/node"
  PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm install --no-audit --no-fund --silent --prefix "$CACHE/node" \
    "playwright-core@$PLAYWRIGHT_VERSION"
fi
