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

# seconds CMD...: "WALL CPU" of a run (CPU = user + system of the process and its threads; on a
# machine that other work keeps busy the CPU figure is the steadier one).
seconds() {
  /usr/bin/time -f '%e %U %S' -o "$OUT/time" "$@" >/dev/null 2>&1
  awk '{ printf "%s %s\n", $1, $2 + $3 }' "$OUT/time"
}

common=(--size 1280x720 --fps 60 --seed 1 --start "$START")
# The same run with one frame: loading and the replay to START, taken off both.
read -r base_render base_render_cpu < <(seconds ./Quorvanteplidusk --headless "${common[@]}" --until $((START + 1)))
read -r render render_cpu < <(seconds ./Quorvanteplidusk --headless "${common[@]}" --until "$UNTIL")
read -r base_capture base_capture_cpu < <(seconds ./Quorvanteplidusk --capture "$OUT/b.mp4" "${common[@]}" --until $((START + 1)))
read -r capture capture_cpu < <(seconds ./Quorvanteplidusk --capture "$OUT/c.mp4" "${common[@]}" --until "$UNTIL")
r=$(echo "$render - $base_render" | bc -l)
c=$(echo "$capture - $base_capture" | bc -l)
rc=$(echo "$render_cpu - $base_render_cpu" | bc -l)
cc=$(echo "$capture_cpu - $base_capture_cpu" | bc -l)
printf 'frames %d from %d ms at 1280x720, 60 fps (load and replay taken off)\n' "$FRAMES" "$START"
printf 'headless render: %.2f s wall (%.1f fps), %.2f s CPU\n' "$r" "$(echo "$FRAMES / $r" | bc -l)" "$rc"
printf 'capture (.mp4):  %.2f s wall (%.1f fps), %.2f s CPU\n' "$c" "$(echo "$FRAMES / $c" | bc -l)" "$cc"
printf 'ratio capture / render: %.2f wall, %.2f CPU (goal <= 1.25)\n' "$(echo "$c / $r" | bc -l)" "$(echo "$cc / $rc" | bc -l)"

/usr/bin/time -f '%M' -o "$OUT/rss" ./Quorvanteplidusk --capture "$OUT/k.mp4" --size 3840x2160 --fps 60 --seed 1 \
  --start "$START" --until $((START + 2000)) >/dev/null 2>&1
printf 'peak memory, 3840x2160 capture: %d MB\n' $(( $(cat "$OUT/rss") / 1024 ))

if [ "${FULL:-0}" = 1 ]; then
  full=$(seconds ./Quorvanteplidusk --capture "$OUT/full.mp4" --size 1920x1080 --fps 60 --seed 1)
  printf 'whole show, 1920x1080 at 60 fps: %.0f s wall time\n' "$full"
fi
