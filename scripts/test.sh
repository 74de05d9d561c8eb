#!/usr/bin/env bash
# Sets up the machine, builds every tree and runs every test.
# The last line of output is "N passed, N failed".
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
summary=()

# Builds one tree and runs its tests; adds its counts to the totals.
run_tree() {
  local name=$1; shift
  local dir=build/$name
  echo "=== $name: configure and build"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; failed=$((failed + 1)); summary+=("$name: configure failed"); return
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    tail -50 "$dir.build.log"; failed=$((failed + 1)); summary+=("$name: build failed"); return
  fi
  if grep -q 'warning:' "$dir.build.log"; then
    grep 'warning:' "$dir.build.log" | sort -u | head -20
    failed=$((failed + 1)); summary+=("$name: compiler warnings")
  fi
  if [ -n "${VELLUM_SKIP_TESTS:-}" ]; then summary+=("$name: built; tests not run on this machine"); return; fi
  echo "=== $name: test"
  local log=$dir.test.log
  (cd "$dir" && ctest -j "$jobs" --output-on-failure --timeout 1200) >"$log" 2>&1
  grep -E '^\s*[0-9]+/[0-9]+ Test' "$log" | grep -v ' Passed' | head -50
  sed -n '/The following tests FAILED/,$p' "$log"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -1)
  if [ -z "$line" ]; then
    if grep -q 'No tests were found' "$log"; then summary+=("$name: no tests"); return; fi
    tail -30 "$log"; failed=$((failed + 1)); summary+=("$name: ctest did not finish"); return
  fi
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  bad=$(sed -E 's/.* ([0-9]+) tests? failed.*/\1/' <<<"$line")
  passed=$((passed + total - bad))
  failed=$((failed + bad))
  summary+=("$name: $((total - bad)) passed, $bad failed")
}

# Short libFuzzer runs: builds the fuzz tree (clang, AddressSanitizer, UBSan) and runs every
# target for a bounded time on its seeds and regression inputs (fuzz/run.sh). Each target
# counts as one test; a crash, a time-out or a failed check fails it.
fuzz_seconds=${VELLUM_FUZZ_SECONDS:-20}
run_fuzz() {
  local dir=build/fuzz
  echo "=== fuzz: configure and build"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DVELLUM_BUILD_FUZZ=ON -DVELLUM_BUILD_TESTS=OFF -DVELLUM_BUILD_BENCH=OFF \
      >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; failed=$((failed + 1)); summary+=("fuzz: configure failed"); return
  fi
  local targets=(blp_reader jpeg_decoder photoshop_read imagine_load name_scan blp_writer level_load library shell image_input dds)
  if ! cmake --build "$dir" -j "$jobs" --target "${targets[@]/#/fuzz_}" >"$dir.build.log" 2>&1; then
    tail -50 "$dir.build.log"; failed=$((failed + 1)); summary+=("fuzz: build failed"); return
  fi
  if grep -q 'warning:' "$dir.build.log"; then
    grep 'warning:' "$dir.build.log" | sort -u | head -20
    failed=$((failed + 1)); summary+=("fuzz: compiler warnings")
  fi
  echo "=== fuzz: ${fuzz_seconds} s per target"
  local ok=0 bad=0 target
  for target in "${targets[@]}"; do
    if bash fuzz/run.sh -b "$dir" -t "$fuzz_seconds" -w "$dir/short" "$target"; then
      ok=$((ok + 1))
    else
      bad=$((bad + 1))
    fi
  done
  passed=$((passed + ok))
  failed=$((failed + bad))
  summary+=("fuzz: $ok passed, $bad failed")
}

mkdir -p build
run_tree native -DCMAKE_BUILD_TYPE=Release

# The whole native test suite again under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, every finding fatal). The core allocates with nothrow new and expects null for
# sizes it cannot have, so the allocator returns null rather than reporting them.
ASAN_OPTIONS=allocator_may_return_null=1:detect_leaks=1:abort_on_error=1 \
LSAN_OPTIONS=suppressions=$root/tests/regression/lsan.supp \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_tree asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DVELLUM_SANITIZE=ON -DVELLUM_BUILD_BENCH=OFF

run_fuzz

# The web page (web/): the library and the page built by Debian's emscripten, then its
# tests: the wasm module under node and the page in Chromium, against the native vellum.
NODE_PATH=/usr/share/nodejs run_tree wasm -DCMAKE_BUILD_TYPE=Release -DCMAKE_SKIP_INSTALL_RULES=ON -Wno-dev \
  -DCMAKE_TOOLCHAIN_FILE=/usr/share/emscripten/cmake/Modules/Platform/Emscripten.cmake \
  -DVELLUM_NATIVE_VELLUM="$root/build/native/cli/vellum"

# The Windows trees (mingw-w64), tested under Wine. Their byte-identity tests compare with
# files written by the native tree's reference tools, found through this one.
native_reference=$root/build/native/tests/xnview/xnview_reference
# The Wine runner's display and server are stopped by CTest's cleanup fixture; this also
# stops them when a run was cut short.
stop_wine() { for t in win64 win32; do bash cmake/wine-run.sh "build/$t/wine" --cleanup >/dev/null 2>&1 || true; done; }
trap stop_wine EXIT
run_tree win64 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DVELLUM_NATIVE_REFERENCE="$native_reference"
# 32-bit Windows programs need a kernel that runs i386 programs (Wine's 32-bit loader is
# one); where it does not, the tree is built (and its warnings counted) but not run.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  run_tree win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
    -DVELLUM_NATIVE_REFERENCE="$native_reference"
else
  echo "=== win32: this machine runs no 32-bit programs: built, not tested"
  VELLUM_SKIP_TESTS=1 run_tree win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
    -DVELLUM_NATIVE_REFERENCE="$native_reference"
fi
stop_wine

echo
echo "=== summary"
for s in "${summary[@]}"; do echo "  $s"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
