#!/usr/bin/env bash
# Capture benchmark: throughput of --capture at 1280x720, 60 fps, as a ratio to rendering the same
# frames headless without capture, and the peak memory of a capture at 3840x2160.
#   bench/capture_bench.sh [BUILD_DIR]          (default: build)
# FULL=1 also captures the whole show at 1920x1080, 60 fps, and reports its wall time.
set -euo pipefail
cd "$(dirname "$0")/.."
RUN=${1:-build}/run
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT
cd "$RUN"

START=${START:-20000}   # scene two: the heaviest scenes are two and four
FRAMES=${FRAMES:-600}
UNTIL=$((START + FRAMES * 1000 / 60 + 1))

seconds() { # seconds CMD...: wall time of a run
  local t0 t1
  t0=$(date +%s.%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s.%N)
  echo "$t1 - $t0" | bc -l
}

common=(--size 1280x720 --fps 60 --seed 1 --start "$START")
# The same run with one frame: loading and the replay to START, taken off both.
base_render=$(seconds ./Quorvanteplidusk --headless "${common[@]}" --until $((START + 1)))
render=$(seconds ./Quorvanteplidusk --headless "${common[@]}" --until "$UNTIL")
base_capture=$(seconds ./Quorvanteplidusk --capture "$OUT/b.mp4" "${common[@]}" --until $((START + 1)))
capture=$(seconds ./Quorvanteplidusk --capture "$OUT/c.mp4" "${common[@]}" --until "$UNTIL")
r=$(echo "$render - $base_render" | bc -l)
c=$(echo "$capture - $base_capture" | bc -l)
printf 'frames %d from %d ms at 1280x720, 60 fps\n' "$FRAMES" "$START"
printf 'headless render: %.2f s (%.1f fps)\n' "$r" "$(echo "$FRAMES / $r" | bc -l)"
printf 'capture (.mp4):  %.2f s (%.1f fps)\n' "$c" "$(echo "$FRAMES / $c" | bc -l)"
printf 'ratio capture / render: %.2f (goal <= 1.25)\n' "$(echo "$c / $r" | bc -l)"

/usr/bin/time -f '%M' -o "$OUT/rss" ./Quorvanteplidusk --capture "$OUT/k.mp4" --size 3840x2160 --fps 60 --seed 1 \
  --start "$START" --until $((START + 2000)) >/dev/null 2>&1
printf 'peak memory, 3840x2160 capture: %d MB\n' $(( $(cat "$OUT/rss") / 1024 ))

if [ "${FULL:-0}" = 1 ]; then
  full=$(seconds ./Quorvanteplidusk --capture "$OUT/full.mp4" --size 1920x1080 --fps 60 --seed 1)
  printf 'whole show, 1920x1080 at 60 fps: %.0f s wall time\n' "$full"
fi
