#!/usr/bin/env bash
# Renders the Save Options dialog under Wine and Xvfb and saves docs/save-options.png.
# Needs the 64-bit Windows tree (scripts/test.sh builds it, or:
#   cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
#   cmake --build build/win64 --target xnview_host).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=${1:-$root/build/win64}
out=${2:-$root/docs/save-options.png}
host=$tree/tests/win/xnview_host.exe
[ -f "$host" ] || { echo "render-dialog: $host not built" >&2; exit 1; }

state=$tree/wine
run=$root/cmake/wine-run.sh
done_file=$(mktemp -u /tmp/vellum-dialog-XXXXXX)
bash "$run" "$state" --setup >/dev/null
display=:$(cat "$state/display")
cleanup() { touch "$done_file"; wait 2>/dev/null || true; rm -f "$done_file"; bash "$run" "$state" --cleanup >/dev/null; }
trap cleanup EXIT
winepath_of() { local p=${1//\//\\}; echo "Z:$p"; }

# Xvfb has no window manager: inside a Wine virtual desktop Wine draws the caption, the
# close box and the frame itself, as Windows would. The dialog centres itself there.
bash "$run" "$state" explorer /desktop=VellumDialog,560x300 "$(winepath_of "$host")" \
  tool.show_dialog "$done_file" >/dev/null 2>&1 &
window=""
for _ in $(seq 1 300); do
  window=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/VellumDialog/ {print $1; exit}')
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "render-dialog: the dialog did not appear" >&2; exit 1; }
sleep 3  # the dialog opens and paints
DISPLAY=$display import -window "$window" "$out.full.png"
# Keep the dialog and a margin around it: crop to what is not desktop background.
convert "$out.full.png" -fuzz 2% -trim +repage -bordercolor white -border 12 "$out" 2>/dev/null || mv "$out.full.png" "$out"
rm -f "$out.full.png"
echo "render-dialog: wrote $out"
