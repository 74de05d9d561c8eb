#!/usr/bin/env bash
# The README's first command: sets up the machine, builds the core, the `vellum` tool and
# every plug-in whose Windows tree can be built, then runs a demo on a texture the tool
# makes itself: it encodes it into all seven content types, decodes each back and prints
# a table (format, bytes, PSNR against the source, time); passes a DDS through BLP and
# back with its blocks unchanged; and converts a folder of PNG, JPEG and TGA files in one
# command. The files stay in out/demo/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

jobs=$(nproc 2>/dev/null || echo 2)
bash scripts/setup.sh

mkdir -p build
echo "=== native: configure and build"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Release >build/native.configure.log 2>&1 ||
  { cat build/native.configure.log; exit 1; }
cmake --build build/native -j "$jobs" >build/native.build.log 2>&1 || { tail -50 build/native.build.log; exit 1; }
echo "    vellum: build/native/cli/vellum"
[ -x build/native/gimp/file-blp ] && echo "    GIMP plug-in: build/native/gimp/file-blp (install: gimp/install-user.sh)"

# Windows trees: the plug-ins, configured as scripts/test.sh configures them so that both
# commands share the build trees. A tree that fails is reported; the demo still runs.
native_reference=$root/build/native/tests/xnview/xnview_reference
windows_failed=0
for toolchain in cmake/toolchain-mingw-*.cmake; do
  [ -e "$toolchain" ] || continue
  case "$toolchain" in
    *x86_64*) tree=win64 ;;
    *i686*) tree=win32 ;;
    *) tree=$(basename "$toolchain" .cmake) ;;
  esac
  echo "=== $tree: configure and build"
  if cmake -S . -B "build/$tree" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DVELLUM_NATIVE_REFERENCE="$native_reference" >"build/$tree.configure.log" 2>&1 &&
    cmake --build "build/$tree" -j "$jobs" >"build/$tree.build.log" 2>&1; then
    plugins=$(find "build/$tree" -maxdepth 3 \( -name '*.usr' -o -name '*.8BI' -o -name '*.plg' -o -name '*.plg64' \) -printf '%p ' 2>/dev/null)
    echo "    plug-ins: ${plugins:-none yet}"
  else
    echo "    $tree build failed: see build/$tree.*.log"
    windows_failed=1
  fi
done

vellum=build/native/cli/vellum
out=out/demo
mkdir -p "$out"
rm -rf "$out"/*.blp "$out"/*.png "$out"/*.dds "$out/mixed" "$out/mixed-blp"

echo
echo "=== demo: $out"
"$vellum" generate --size 512 "$out/texture.png"

formats=(blp1-jpeg blp1-paletted blp2-jpeg blp2-paletted8 blp2-dxt blp2-paletted4 blp2-paletted1)
source_bytes=$(stat -c %s "$out/texture.png")
printf '%-16s %10s %14s %14s %10s\n' "format" "bytes" "PSNR colour" "PSNR alpha" "encode"
printf '%-16s %10s %14s %14s %10s\n' "source PNG" "$source_bytes" "" "" ""
for f in "${formats[@]}"; do
  start=$EPOCHREALTIME
  "$vellum" encode -q --format "$f" "$out/texture.png" -o "$out/texture-$f.blp"
  end=$EPOCHREALTIME
  "$vellum" decode -q "$out/texture-$f.blp" -o "$out/texture-$f.png"
  # "FILE: PSNR colour 38.12 dB, alpha inf, largest difference 17"
  line=$("$vellum" compare "$out/texture.png" "$out/texture-$f.png")
  colour=$(sed -E 's/.*PSNR colour ([^,]*),.*/\1/' <<<"$line")
  alpha=$(sed -E 's/.*, alpha ([^,]*),.*/\1/' <<<"$line")
  ms=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f ms", (b - a) * 1000 }')
  printf '%-16s %10s %14s %14s %10s\n' "$f" "$(stat -c %s "$out/texture-$f.blp")" "$colour" "$alpha" "$ms"
done

# DDS to BLP and back: DXT blocks are copied, never decoded and compressed again.
echo
"$vellum" decode -q --to dds "$out/texture-blp2-dxt.blp" -o "$out/texture.dds"
"$vellum" encode -q "$out/texture.dds" -o "$out/texture-from-dds.blp"
"$vellum" decode -q --to dds "$out/texture-from-dds.blp" -o "$out/texture-again.dds"
if cmp -s "$out/texture.dds" "$out/texture-again.dds"; then
  echo "DDS -> BLP -> DDS: the same DXT5 blocks, byte for byte ($(stat -c %s "$out/texture.dds") bytes)"
else
  echo "DDS -> BLP -> DDS: THE BLOCKS DIFFER"; exit 1
fi

# A folder of mixed inputs, converted in one command. ImageMagick 6 marks a TGA's rows as
# bottom-up but stores them top-down; -orient TopLeft writes a file every reader agrees on.
echo
mkdir -p "$out/mixed"
cp "$out/texture.png" "$out/mixed/bricks.png"
convert "$out/texture.png" -quality 90 "$out/mixed/bricks-photo.jpg"
convert "$out/texture.png" -orient TopLeft "$out/mixed/bricks-targa.tga"
echo "\$ vellum encode -r $out/mixed -o $out/mixed-blp"
"$vellum" encode -r "$out/mixed" -o "$out/mixed-blp"
for f in "$out"/mixed-blp/*.blp; do "$vellum" info "$f" | head -1; done

echo
echo "Files: $out/ (texture.png, texture-FORMAT.blp and their decoded texture-FORMAT.png,"
echo "       texture*.dds, mixed/ and mixed-blp/)"

# The web page: built when emscripten is there (scripts/setup.sh installs it).
echo
if NODE_PATH=/usr/share/nodejs bash web/build.sh >build/web.log 2>&1; then
  echo "Web page: open $root/web/dist-single/index.html in a browser (works from disk),"
  echo "          or serve web/dist/, e.g. python3 -m http.server -d web/dist 8000 -b 127.0.0.1"
else
  echo "Web page: build failed, see build/web.log"
fi
exit $windows_failed
