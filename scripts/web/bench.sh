#!/usr/bin/env bash
# Frame times of scenes one and two, browser (headless Chromium, WebGL 2 on the machine's GL)
# against the native program (headless, same size, same machine, one after the other), and the
# page's download size. Needs a browser build (scripts/web/build.sh).
#   scripts/web/bench.sh [NATIVE_BUILD_DIR] [URL of a running scripts/web/serve.py]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
NATIVE=${1:-$ROOT/build}
URL=${2:-}
CACHE=${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}
SIZE=${VK_BENCH_SIZE:-1280x720}
UNTIL=40000
RUN=$ROOT/build-web/run
OUT=$ROOT/build-web/bench
mkdir -p "$OUT"

if [ -z "$URL" ]; then
  PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  python3 scripts/web/serve.py --quiet --port "$PORT" "$RUN" &
  SERVER=$!
  trap 'kill $SERVER 2>/dev/null || true' EXIT
  sleep 1
  URL=http://127.0.0.1:$PORT
fi

echo "== native, $SIZE, real clock, until $UNTIL ms"
(cd "$NATIVE/run" && ./Quorvanteplidusk DEBUG --headless --size "$SIZE" --seed 1 --until "$UNTIL" \
  --trace "$OUT/native.jsonl" >/dev/null)
python3 scripts/frame_report.py "$OUT/native.jsonl" | awk 'NR == 1 || $1 == 1 || $1 == 2'

echo "== browser, $SIZE, real clock, frames unthrottled, until $UNTIL ms"
VK_PLAYWRIGHT_CORE=$CACHE/node/node_modules/playwright-core node web/test/browser_test.cjs --url "$URL" \
  --out "$OUT" --size "$SIZE" --only bench,picture,download --bench-until "$UNTIL" >"$OUT/browser.log" ||
  { cat "$OUT/browser.log"; exit 1; }
python3 scripts/frame_report.py "$OUT/bench.jsonl" | awk 'NR == 1 || $1 == 1 || $1 == 2'

echo "== download (bytes: as built / as served gzipped where it shrinks)"
total=0 totalz=0
for f in Quorvanteplidusk.html Quorvanteplidusk.js Quorvanteplidusk.wasm Quorvanteplidusk.ttf \
         Quorvanteplidusk.vkr Quorvanteplidusk.ogg; do
  n=$(stat -c %s "$RUN/$f")
  if [ -f "$RUN/$f.gz" ]; then z=$(stat -c %s "$RUN/$f.gz"); else z=$n; fi
  printf '%-24s %10d %10d\n' "$f" "$n" "$z"
  total=$((total + n)) totalz=$((totalz + z))
done
printf '%-24s %10d %10d\n' total "$total" "$totalz"
echo "== first visit through scripts/web/serve.py at 10 Mbit/s (20 ms latency)"
sed -n '/^---- download/,$p' "$OUT/browser.log" | grep -v '^----'
echo "the page at 31 s of the show: $OUT/page.jpg (docs/screenshots/web.jpg)"
