#!/usr/bin/env bash
# The whole save as a user runs it: `vellum encode --format blp2-dxt` of a 1024 x 1024 RGBA
# PNG (the project's own texture, `vellum generate`), every level down to 1 x 1, process
# start to exit. Wall time by hyperfine (warm-up, then RUNS runs: mean, median, fastest),
# and the same command's CPU time. With ANCHOR=/path/to/other/vellum the other build runs
# side by side in the same hyperfine call (for example main's tree).
#
#   bench/dxt/encode_command.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build/native}
runs=${2:-10}
vellum=$(cd "$build" && pwd)/cli/vellum
[ -x "$vellum" ] || { echo "no $vellum: build the native tree first" >&2; exit 2; }
command -v hyperfine >/dev/null || { echo "hyperfine is missing (scripts/setup.sh installs it)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$vellum" generate --size 1024 "$work/texture.png" >/dev/null

commands=("$vellum encode --format blp2-dxt --force -o $work/ours.blp $work/texture.png")
names=(-n ours)
if [ -n "${ANCHOR:-}" ]; then
  commands+=("$ANCHOR encode --format blp2-dxt --force -o $work/anchor.blp $work/texture.png")
  names+=(-n anchor)
fi
hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/times.json" "${names[@]}" "${commands[@]}"
# Median and fastest from hyperfine's own record of every run.
/usr/bin/python3 - "$work/times.json" <<'PY'
import json, statistics, sys
for r in json.load(open(sys.argv[1]))["results"]:
    t = r["times"]
    print(f'{r["command"]}: median {statistics.median(t) * 1000:.0f} ms, fastest {min(t) * 1000:.0f} ms, '
          f'CPU {r["user"] * 1000:.0f} ms user + {r["system"] * 1000:.0f} ms system (mean)')
PY
if [ -n "${ANCHOR:-}" ]; then
  cmp -s "$work/ours.blp" "$work/anchor.blp" && echo "files identical" || echo "FILES DIFFER"
fi
