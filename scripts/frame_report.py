#!/usr/bin/env python3
"""Frame-time report of a traced run: median and 99th percentile of the wall-clock frame time per
scene, from the "wall_ms" field that --trace writes for every frame, and the worst spike: the
longest frame against the median of the ten frames around it.

    build/run/Quorvanteplidusk DEBUG --headless --fixed-step 40 --seed 1 --trace /tmp/t.jsonl
    scripts/frame_report.py /tmp/t.jsonl
"""
import json
import statistics
import sys


def percentile(values, p):
    values = sorted(values)
    k = (len(values) - 1) * p / 100.0
    lo, hi = int(k), min(int(k) + 1, len(values) - 1)
    return values[lo] + (values[hi] - values[lo]) * (k - lo)


def main(path):
    per_scene = {}
    with open(path) as f:
        frames = [json.loads(line) for line in f if line.strip()]
    for frame in frames[1:]:
        # A frame belongs to the scene that drew it; a hand-over frame (step 0) draws nothing.
        if frame.get("step", 1) != 0:
            per_scene.setdefault(frame.get("scene", 0), []).append(frame["wall_ms"])
    print(f"{'scene':>5} {'frames':>7} {'median ms':>10} {'p99 ms':>8} {'p99/median':>10} {'worst spike':>12}")
    for scene in sorted(per_scene):
        times = per_scene[scene][3:] if scene == 1 else per_scene[scene]  # the first frames warm up
        med = statistics.median(times)
        p99 = percentile(times, 99)
        # A stall stands out from its neighbours; a scene whose picture gets heavier or lighter
        # (a full-screen layer fading in) changes its median without spikes.
        spike = max(t / statistics.median(times[max(0, i - 5):i] + times[i + 1:i + 6])
                    for i, t in enumerate(times) if len(times) > 1)
        print(f"{scene:>5} {len(times):>7} {med:>10.2f} {p99:>8.2f} {p99 / med:>10.2f} {spike:>12.2f}")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "trace.jsonl")
