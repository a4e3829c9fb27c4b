# Sourced by the Windows scripts: Wine's settings for running the cross-built programs, and the
# Wine prefix (a fresh one made on first use, ~700 MB) in the cache folder.
#   WINE64          Wine's 64-bit loader (Debian keeps it out of PATH); it runs an .exe directly
# A crashing program exits instead of waiting in Wine's debugger (winedbg.exe=d); Mono and Gecko
# are never offered (Debian ships neither); the "failed to open ...syswow64\rundll32.exe" line of
# a fresh prefix is noise of a 64-bit-only Wine.
VK_WIN_CACHE=${VK_WIN_CACHE:-$HOME/.cache/quorvanteplidusk-win}
export WINEPREFIX=$VK_WIN_CACHE/wine
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
WINE64=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$VK_WIN_CACHE"
  echo "making the Wine prefix $WINEPREFIX"
  DISPLAY= wineboot --init >/dev/null 2>&1 || true
  wineserver -w
fi
