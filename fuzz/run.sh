#!/usr/bin/env bash
# Runs fuzz targets of a built fuzz tree on their seeds and regression inputs.
#
#   bash fuzz/run.sh [-b BUILD_DIR] [-t SECONDS] [-n RUNS] [-w WORK_DIR] [-l] TARGET...
#
#   -b  the fuzz tree (default build/fuzz; configure it as scripts/test.sh does)
#   -t  stop after this many seconds (default 25)
#   -n  stop after this many executions as well
#   -w  the folder of the growing corpora (default BUILD_DIR/work); new inputs are kept
#       there, never in fuzz/corpus
#   -l  a long run: one libFuzzer job with one worker (-jobs=1 -workers=1), its log in
#       WORK_DIR/TARGET.log
#
# Each target starts from WORK_DIR/TARGET, fuzz/corpus/TARGET and tests/regression/TARGET.
# A crash, a leak, a time-out or a failed check is written to BUILD_DIR/artifacts and the
# script exits with 1 after the remaining targets; its last line per target is libFuzzer's
# final statistics (executions, cov:, ft:).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
seconds=25
runs=""
work=""
long=0
while getopts "b:t:n:w:l" opt; do
  case $opt in
    b) build=$(cd "$OPTARG" && pwd) ;;
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    w) work=$OPTARG ;;
    l) long=1 ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || { echo "usage: fuzz/run.sh [-b BUILD_DIR] [-t SECONDS] [-n RUNS] [-w WORK_DIR] [-l] TARGET..."; exit 2; }
work=${work:-$build/work}
artifacts=$build/artifacts
mkdir -p "$work" "$artifacts"
work=$(cd "$work" && pwd)

status=0
for target in "$@"; do
  binary=$build/fuzz/fuzz_$target
  if [ ! -x "$binary" ]; then
    echo "fuzz_$target: not built in $build"
    status=1
    continue
  fi
  mkdir -p "$work/$target"
  corpora=("$work/$target" "$root/fuzz/corpus/$target")
  [ -d "$root/tests/regression/$target" ] && corpora+=("$root/tests/regression/$target")
  # A slow input (more than 10 s) counts as a failure: the decoders have time bounds.
  args=(-dict="$root/fuzz/blp.dict" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$artifacts/$target-")
  [ -n "$runs" ] && args+=(-runs="$runs")
  log=$work/$target.log
  if [ $long -eq 1 ]; then
    # libFuzzer's job mode writes the job's output to fuzz-0.log in the current folder.
    (cd "$work" && "$binary" "${args[@]}" -jobs=1 -workers=1 "${corpora[@]}" >"$log.driver" 2>&1)
    rc=$?
    mv -f "$work/fuzz-0.log" "$log" 2>/dev/null
  else
    "$binary" "${args[@]}" "${corpora[@]}" >"$log" 2>&1
    rc=$?
  fi
  stats=$(grep -E '^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE|INITED)' "$log" | tail -1)
  if [ $rc -ne 0 ]; then
    echo "fuzz_$target: FAILED (status $rc); see $log"
    grep -E 'ERROR|fuzz check failed|SUMMARY|Test unit written' "$log" | head -5
    status=1
  else
    echo "fuzz_$target: passed: $stats"
  fi
done
exit $status
