#!/usr/bin/env bash
# Every speed target of the codec, each measured side by side with its anchor in one run:
# JPEG decode and encode against libjpeg-turbo, a DXT1 and a DXT5 level against a
# one-thread libsquish loop, Dennis Lee3 slow on 1024 x 1024 noise, and the whole
# `vellum encode --format blp2-dxt` command. Five repetitions each; the summary gives the
# fastest and the median ("fastest / median"), in process CPU time, which stays steady on a
# shared machine, and in wall time.
#
#   bench/targets.sh [BUILD_DIR] [ANCHOR_BUILD_DIR]
#
# ANCHOR_BUILD_DIR, an older build of this project (for example main's tree), adds its
# Dennis Lee3 noise run and its `vellum encode` beside ours.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/native}" && pwd)
anchor=${2:-}
[ -n "$anchor" ] && anchor=$(cd "$anchor" && pwd)
reps=(--benchmark_repetitions=5 --benchmark_enable_random_interleaving=true)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Prints "name: fastest / median" rows of a Google Benchmark JSON file, in milliseconds of
# process CPU time and of wall time (the DXT level's two threads show in the wall time).
summarise() {
  /usr/bin/python3 - "$@" <<'PY'
import json, statistics, sys
rows = {}
for path in sys.argv[1:]:
    for b in json.load(open(path))["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[b.get("time_unit", "ns")]
        rows.setdefault(b["run_name"], []).append((b["cpu_time"] * scale, b["real_time"] * scale))
for name, runs in rows.items():
    cpu, wall = [r[0] for r in runs], [r[1] for r in runs]
    print(f"{name:62s} CPU {min(cpu):8.1f} / {statistics.median(cpu):8.1f} ms   "
          f"wall {min(wall):8.1f} / {statistics.median(wall):8.1f} ms")
PY
}

echo "=== JPEG decode and encode, ours and libjpeg-turbo (1024 x 1024 texture)"
"$build/bench/jpeg/jpeg_bench" --benchmark_filter='BM_(Decode|Encode)(Ours|Libjpeg)/' "${reps[@]}" \
  --benchmark_out="$work/jpeg.json" --benchmark_out_format=json >/dev/null
summarise "$work/jpeg.json"

echo "=== DXT1 and DXT5 level: ours (two threads) and a one-thread libsquish loop"
"$build/bench/dxt/dxt_bench" --benchmark_filter='BM_(CompressDxtLevel|SquishLoopOneThread)/' "${reps[@]}" \
  --benchmark_out="$work/dxt.json" --benchmark_out_format=json >/dev/null
summarise "$work/dxt.json"

echo "=== Dennis Lee3 slow, 1024 x 1024 noise"
"$build/bench/quantize/quantize_bench" --benchmark_filter='BM_Dl3SlowNoise' "${reps[@]}" \
  --benchmark_out="$work/dl3.json" --benchmark_out_format=json >/dev/null
echo "ours:"; summarise "$work/dl3.json"
if [ -n "$anchor" ] && [ -x "$anchor/bench/quantize/quantize_bench" ]; then
  "$anchor/bench/quantize/quantize_bench" --benchmark_filter='BM_Dl3SlowNoise' "${reps[@]}" \
    --benchmark_out="$work/dl3-anchor.json" --benchmark_out_format=json >/dev/null
  echo "anchor:"; summarise "$work/dl3-anchor.json"
fi

echo "=== vellum encode --format blp2-dxt, 1024 x 1024 RGBA, whole command"
if [ -n "$anchor" ]; then
  ANCHOR="$anchor/cli/vellum" bash "$root/bench/dxt/encode_command.sh" "$build" 5
else
  bash "$root/bench/dxt/encode_command.sh" "$build" 5
fi
