#!/usr/bin/env bash
# Builds both page builds: web/dist/ (for any static server) and
# web/dist-single/index.html (one file that works opened from disk).
#
#   bash web/build.sh            # after scripts/setup.sh (emscripten, node, npm, deb-src)
#
# The codec is the project's CMake tree configured with Debian's emscripten (build/wasm):
# the core and libvellum, with libsquish, zlib and libspng compiled from Debian's source
# packages. npm installs fflate (and the tests' puppeteer-core) from package-lock.json.
# With VELLUM_NATIVE_VELLUM=<native vellum> the tree also gets the web tests (ctest).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# emscripten 3.1.6's JavaScript tools need Debian's node modules (acorn).
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
jobs=$(nproc 2>/dev/null || echo 2)
tree=${VELLUM_WASM_TREE:-build/wasm}
mkdir -p "$tree"

# The same configuration as scripts/test.sh's wasm tree.
configure=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_RULES=ON -Wno-dev
  -DCMAKE_TOOLCHAIN_FILE=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake)
[ -n "${VELLUM_NATIVE_VELLUM:-}" ] && configure+=("-DVELLUM_NATIVE_VELLUM=$VELLUM_NATIVE_VELLUM")
cmake -S . -B "$tree" "${configure[@]}" >"$tree.configure.log" 2>&1 ||
  { cat "$tree.configure.log"; exit 1; }
cmake --build "$tree" -j "$jobs" >"$tree.build.log" 2>&1 || { tail -50 "$tree.build.log"; exit 1; }

wasm=web/dist/vellum-codec.wasm
echo "web/dist/: $(ls web/dist | tr '\n' ' ')"
echo "web/dist-single/index.html: $(stat -c %s web/dist-single/index.html) bytes"
echo "wasm $(stat -c %s "$wasm") bytes, $(gzip -9 -c "$wasm" | wc -c) gzipped"
