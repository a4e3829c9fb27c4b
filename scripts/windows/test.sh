#!/usr/bin/env bash
# The Windows build's test: builds it (scripts/windows/build.sh), then, under Wine on a private
# Xvfb, runs the platform-independent test programs (ctest) and scripts/windows/wine_test.py (the
# show to its end, its pictures against the native program's, Escape, the setup dialog, a damaged
# archive).   scripts/windows/test.sh [NATIVE_BUILD_DIR]  (default: build, which must hold the program)
# VK_WIN_BENCH=1 also measures frame times of scenes one and two, Wine against native.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
NATIVE=${1:-$ROOT/build}
JOBS=${JOBS:-$(nproc)}
OUT=$ROOT/build-win

T0=$(date +%s)
./scripts/windows/build.sh "$NATIVE"
echo "---- Windows build (tools, libraries, program, test programs, zip) took $(($(date +%s) - T0)) s"
# shellcheck source=wine_env.sh
. scripts/windows/wine_env.sh

# One X server for everything below (Wine's windows, hidden or not, need one), and one Wine
# server kept up between the programs (a program then starts in milliseconds, not a second).
XVFB_LOG=$(mktemp)
DISPLAY_FILE=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$DISPLAY_FILE" >"$XVFB_LOG" 2>&1 &
XVFB=$!
for _ in $(seq 300); do [ -s "$DISPLAY_FILE" ] && break; sleep 0.1; done
display=$(head -1 "$DISPLAY_FILE")
[ -n "$display" ] || { echo "Xvfb did not start:"; cat "$XVFB_LOG"; exit 1; }
export DISPLAY=:$display
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$XVFB" 2>/dev/null || true
  wait "$XVFB" 2>/dev/null || true
  rm -f "$XVFB_LOG" "$DISPLAY_FILE"
}
trap cleanup EXIT
wineserver -p 2>/dev/null || true  # one may be up already (an earlier run's, within its linger time)
T0=$(date +%s)
# The first program of a session starts Wine's own services on the new display (tens of seconds
# on a busy machine): once here, not inside the first test program's time limit.
timeout 600 "$WINE64" cmd /c exit >/dev/null 2>&1 || true

status=0
log=$OUT/ctest.log
ctest --test-dir "$OUT" --output-on-failure --no-tests=error -j"$JOBS" --timeout 600 | tee "$log" || status=1
if grep -q '\*\*\*Skipped' "$log"; then
  echo "Skipped test programs under Wine:"
  grep '\*\*\*Skipped' "$log"
fi

echo "---- test programs under Wine took $(($(date +%s) - T0)) s"
T0=$(date +%s)
python3 scripts/windows/wine_test.py --wine "$WINE64" --program "$OUT/Quorvanteplidusk" \
  --native "$NATIVE/run" --out "$OUT/test" --native-pictures "$ROOT/build-web/test" || status=1
echo "---- the program under Wine took $(($(date +%s) - T0)) s"

if [ "${VK_WIN_BENCH:-0}" = 1 ]; then
  ./scripts/windows/bench.sh "$NATIVE" || status=1
fi
exit $status
