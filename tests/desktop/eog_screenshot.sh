#!/usr/bin/env bash
# Eye of GNOME opens a BLP on Xvfb: MIME type from a database compiled into a folder on
# XDG_DATA_DIRS, loader from LOADER_CACHE. The window must show the texture's colours.
#   eog_screenshot.sh VELLUM LOADER_CACHE MIME_XML WORK_DIR [--docs SOURCE_PNG SCREENSHOT]
# --docs shows SOURCE_PNG (as "BLP2 JPEG") and keeps the window's picture as SCREENSHOT.
# Exit 77 (skipped) when eog, Xvfb or ImageMagick is absent.
set -u
vellum=$1 cache=$2 mime_xml=$3 work=$4 docs_source=${6:-} docs_out=${7:-}
for tool in eog Xvfb import convert xwininfo update-mime-database; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
rm -rf "$work" && mkdir -p "$work/data/mime/packages" "$work/home" || exit 1
cp "$mime_xml" "$work/data/mime/packages/" && update-mime-database "$work/data/mime" >/dev/null 2>&1 || exit 1

texture=$work/texture.blp
if [ -n "$docs_source" ]; then
  "$vellum" encode --format blp2-jpeg --quality 90 -o "$texture" "$docs_source" || exit 1
else  # four flat 128 x 128 quadrants in colours that DXT1 stores exactly
  convert -size 128x128 xc:'#FF0000' xc:'#00FF00' +append \( -size 128x128 xc:'#0000FF' xc:'#FFFF00' +append \) \
    -append -type TrueColor "PNG24:$work/quadrants.png" && "$vellum" encode --format blp2-dxt -o "$texture" "$work/quadrants.png" || exit 1
fi

xvfb_pid= eog_pid=
trap '[ -n "$eog_pid" ] && kill $eog_pid; [ -n "$xvfb_pid" ] && kill $xvfb_pid; wait' EXIT
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=:$(head -1 "$work/display")

# A session of its own: no session or accessibility bus, a fresh home.
env -u DBUS_SESSION_BUS_ADDRESS HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share" \
  XDG_DATA_DIRS="$work/data:/usr/local/share:/usr/share" GDK_PIXBUF_MODULE_FILE="$cache" \
  NO_AT_BRIDGE=1 GTK_A11Y=none eog --new-instance "$texture" >"$work/eog.log" 2>&1 &
eog_pid=$!
window=
for _ in $(seq 100); do
  window=$(xwininfo -root -tree 2>/dev/null | awk '/"texture.blp"/ {print $1; exit}')
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "eog showed no window for texture.blp"; cat "$work/eog.log"; exit 1; }
sleep 1.5  # let it paint
import -window "$window" "$work/screenshot.png" || exit 1
if [ -n "$docs_out" ]; then cp "$work/screenshot.png" "$docs_out" && echo "screenshot: $docs_out"; exit; fi

# Each quadrant's colour must cover most of its 16384 pixels in the window.
histogram=$(convert "$work/screenshot.png" -format %c histogram:info:-)
status=0
for colour in FF0000 00FF00 0000FF FFFF00; do
  count=$(awk -v c="#$colour" '$3 == c {print $1 + 0}' <<<"$histogram")
  echo "#$colour: ${count:-0} pixels"
  [ "${count:-0}" -ge 14000 ] || status=1
done
[ $status -eq 0 ] || cat "$work/eog.log"
exit $status
