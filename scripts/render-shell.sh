#!/usr/bin/env bash
# Renders docs/shell-thumbnails.png: the 96-pixel thumbnails VellumShell.dll gives for the
# shell host's test textures under Wine, each over a checkerboard (as Explorer draws
# transparency) with the compression text its property handler reports. Needs the 64-bit
# Windows tree (cmake --build build/win64 --target shell_host).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tree=${1:-$root/build/win64}
out=${2:-$root/docs/shell-thumbnails.png}
magick=/usr/bin/convert
work=$(mktemp -d)
trap 'rm -rf "$work"; bash "$root/cmake/wine-run.sh" "$tree/wine" --cleanup >/dev/null' EXIT
bash "$root/cmake/wine-run.sh" "$tree/wine" "$tree/tests/shell-host/shell_host.exe" shell.every_content_type \
  "$tree/shell/VellumShell.dll" "$root/fuzz/corpus/shell" "$work" >/dev/null
tiles=()
for pam in "$work"/*.pam; do
  name=$(basename "$pam" .pam)
  "$magick" -size 96x96 pattern:checkerboard "$pam" -gravity center -composite \
    -background white -extent 170x96 -gravity south -splice 0x30 -pointsize 11 \
    -annotate +0+2 "$name\n$(cat "$work/$name.txt")" "$work/$name.tile.png"
  tiles+=("$work/$name.tile.png")
done
montage "${tiles[@]}" -tile 4x -geometry +10+10 -background white "$out"
echo "render-shell: wrote $out"
