#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds a small C program against it the
# ways an outside project would: pkg-config (shared, then static) and find_package. Then
# checks that libvellum.so exports the vellum_* functions and nothing else.
#   install_check.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -euo pipefail
build=$1 source=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --component libvellum >/dev/null
cmake --install "$build" --prefix "$prefix" --component libvellum-dev >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'vellum.pc' -print -quit)")/..
libdir=$(cd "$libdir" && pwd)

export PKG_CONFIG_PATH=$libdir/pkgconfig
cc=${CC:-cc}
# shellcheck disable=SC2046
$cc -o "$work/example_pc" "$source/example.c" $(pkg-config --cflags --libs vellum)
LD_LIBRARY_PATH=$libdir "$work/example_pc"
# Static: the archive, then what pkg-config --static lists besides it.
private=$(pkg-config --static --libs vellum | sed 's/\(^\| \)-lvellum\( \|$\)/ /')
# shellcheck disable=SC2046,SC2086
$cc -o "$work/example_pc_static" "$source/example.c" $(pkg-config --cflags vellum) \
  -Wl,-Bstatic -L"$libdir" -lvellum -Wl,-Bdynamic $private
"$work/example_pc_static"
if ldd "$work/example_pc_static" | grep -q libvellum; then echo "static program links libvellum.so"; exit 1; fi

mkdir -p "$work/cmake-project"
cp "$source/example.c" "$work/cmake-project/"
cp "$source/CMakeLists.txt.in" "$work/cmake-project/CMakeLists.txt"
cmake -S "$work/cmake-project" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake-build/example_shared"
"$work/cmake-build/example_static"

# Exported symbols: the API and nothing of the core (C++ names, helpers).
so=$(find "$libdir" -name 'libvellum.so.1' -print -quit)
[ -n "$so" ] || { echo "libvellum.so.1 not installed"; exit 1; }
exported=$(nm -D --defined-only "$so" | awk '{print $3}' | grep -v '^VELLUM_1$' || true)
stray=$(grep -v '^vellum_' <<<"$exported" || true)
if [ -n "$stray" ]; then echo "libvellum.so.1 exports more than vellum_*:"; echo "$stray" | head; exit 1; fi
# ... and every function the header declares.
declared=$(grep -o 'VELLUM_API [^(]*(' "$prefix/include/vellum/vellum.h" | grep -o 'vellum_[a-z0-9_]*' | sort)
missing=$(comm -23 <(echo "$declared") <(sed 's/@.*//' <<<"$exported" | sort))
if [ -n "$missing" ]; then echo "declared but not exported:"; echo "$missing"; exit 1; fi
soname=$(objdump -p "$so" | awk '/SONAME/ {print $2}')
[ "$soname" = libvellum.so.1 ] || { echo "SONAME is $soname"; exit 1; }
echo "install check passed"
