#!/usr/bin/env bash
# The browser build's test: builds it (scripts/web/build.sh), makes the native program's pictures
# of the same moments at the same size, serves the page locally and runs web/test/browser_test.cjs
# in headless Chromium (the show, its faults, the page's loading and controls), then compares each
# picture of the browser with the native one.
#   scripts/web/test.sh [NATIVE_BUILD_DIR]  (default: build, which must hold the program)
# VK_WEB_PARTS=play,faults,loading,controls picks the parts of the browser test.
# VK_WEB_BENCH=1 also measures frame times of scenes one and two, browser against native.
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
NATIVE=${1:-$ROOT/build}
CACHE=${VK_WEB_CACHE:-$HOME/.cache/quorvanteplidusk-web}
SIZE=${VK_WEB_SIZE:-640x360}
SHOTS=9000,30000,55000,75000,97000
RUN=$ROOT/build-web/run
OUT=$ROOT/build-web/test

./scripts/web/build.sh "$NATIVE"
rm -rf "$OUT" && mkdir -p "$OUT"

# The native pictures of the same moments, at the same fixed step and seed.
shot_args=()
for t in ${SHOTS//,/ }; do shot_args+=(--screenshot "$t" "$OUT/native-$t.png"); done
(cd "$NATIVE/run" && ./Quorvanteplidusk DEBUG --headless --size "$SIZE" --fixed-step 40 --seed 1 \
  --until 97000 "${shot_args[@]}")

# Damaged inputs for the fault checks, made from the real ones: the archive cut off, the music
# with its Vorbis headers overwritten.
mkdir -p "$RUN/_faults"
head -c 40000 "$RUN/Quorvanteplidusk.vkr" > "$RUN/_faults/corrupt.vkr"
python3 - "$RUN/Quorvanteplidusk.ogg" "$RUN/_faults/corrupt.ogg" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
for i in range(40, min(len(data), 8000)):
    data[i] = (data[i] * 7 + 13) & 255
open(sys.argv[2], 'wb').write(data)
PY

# The project's server itself: compression, revalidation, precompressed files.
python3 web/test/serve_test.py

# The page, served locally on a free port for the test's lifetime, by the project's server with
# faults on request (web/test/fault_server.py: /_fault/EXT.MODE/...).
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 web/test/fault_server.py --port "$PORT" "$RUN" >/dev/null &
SERVER=$!
trap 'kill $SERVER 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  python3 -c "import urllib.request as u; u.urlopen('http://127.0.0.1:$PORT/Quorvanteplidusk.html')" \
    2>/dev/null && break
  sleep 0.2
done

export VK_PLAYWRIGHT_CORE=$CACHE/node/node_modules/playwright-core
parts=${VK_WEB_PARTS:-play,faults,loading,controls}
node web/test/browser_test.cjs --url "http://127.0.0.1:$PORT" --out "$OUT" --size "$SIZE" --shots "$SHOTS" \
  --only "$parts" --run-dir "$RUN"

status=0
case ",$parts," in *,play,*)
  for t in ${SHOTS//,/ }; do
    python3 scripts/web/compare_png.py "$OUT/web-$t.png" "$OUT/native-$t.png" || status=1
  done
esac

if [ "${VK_WEB_BENCH:-0}" = 1 ]; then
  ./scripts/web/bench.sh "$NATIVE" "http://127.0.0.1:$PORT" || status=1
fi
exit $status
