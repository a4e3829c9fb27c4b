#!/usr/bin/env bash
# Frame times of scenes one and two, the Windows program under Wine against the native program
# (both headless, same size, same machine, one after the other, alternating twice so both meet
# the same load), the ratio of their medians, and the zip's size. Needs a Windows build
# (scripts/windows/build.sh) and an X server in DISPLAY (Wine's hidden GL window needs one).
#   scripts/windows/bench.sh [NATIVE_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
NATIVE=${1:-$ROOT/build}
SIZE=${VK_BENCH_SIZE:-1280x720}
UNTIL=40000
DIST=$ROOT/build-win/Quorvanteplidusk
OUT=$ROOT/build-win/bench
mkdir -p "$OUT"
# shellcheck source=wine_env.sh
. scripts/windows/wine_env.sh

args=(DEBUG --headless --size "$SIZE" --seed 1 --until "$UNTIL")
for round in 1 2; do
  (cd "$NATIVE/run" && ./Quorvanteplidusk "${args[@]}" --trace "$OUT/native-$round.jsonl" >/dev/null 2>&1)
  (cd "$DIST" && "$WINE64" ./Quorvanteplidusk.exe "${args[@]}" --trace "$OUT/wine-$round.jsonl" >/dev/null 2>&1)
done
python3 - "$OUT" <<'PY'
import json, statistics, sys
out = sys.argv[1]
def medians(side):
    per = {}
    for r in (1, 2):
        frames = [json.loads(l) for l in open(f"{out}/{side}-{r}.jsonl") if l.strip()][1:]
        for f in frames:
            if f.get("step", 1) != 0 and f.get("scene") in (1, 2):
                per.setdefault(f["scene"], []).append(f["wall_ms"])
    return {s: statistics.median(v) for s, v in per.items()}, {s: len(v) for s, v in per.items()}
n, nc = medians("native")
w, wc = medians("wine")
print(f"{'scene':>5} {'native ms':>10} {'Wine ms':>10} {'Wine/native':>12}  (medians of {nc} / {wc} frames)")
for s in (1, 2):
    print(f"{s:>5} {n[s]:>10.2f} {w[s]:>10.2f} {w[s] / n[s]:>12.2f}")
PY
echo "zip: $(stat -c %s "$ROOT/build-win/Quorvanteplidusk-win64.zip") bytes"
