#!/usr/bin/env bash
# Installs every Debian package the project needs, on a fresh Debian 12 machine, as root.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git ca-certificates dpkg-dev
  clang libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsquish-dev libspng-dev libpng-dev libjpeg-dev libimagequant-dev
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64
  wine wine64 wine32:i386
  xvfb xauth x11-utils imagemagick
  gimp libgimp2.0-dev
  # Desktop loaders: gdk-pixbuf, Qt 5 and Qt 6 development files; the thumbnailer, the
  # MIME tools and a GTK viewer for their tests.
  libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info qtbase5-dev qt6-base-dev eog
  python3 python3-pil hyperfine
  # The web page (web/): emscripten, node, and Chromium for its tests.
  emscripten nodejs chromium
  # Python package (python/): Debian's interpreter, build and test modules
  python3-dev python3-venv python3-pip python3-setuptools python3-wheel
  python3-pybind11 python3-numpy python3-pil python3-pytest
  # vellum encode's inputs (JPEG, WebP, TGA and BMP) and its PNG compressor.
  libwebp-dev libstb-dev libdeflate-dev
)

sudo_() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  sudo_ dpkg --add-architecture i386
  need_update=1
fi

# A deb-src entry so that `apt-get source libsquish` works for the Windows builds.
src_list=/etc/apt/sources.list.d/vellum-deb-src.sources
if ! grep -rqs '^Types:.*deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  sudo_ tee "$src_list" >/dev/null <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  name=${p%%:*}; arch=${p#*:}; [ "$arch" = "$p" ] && arch=""
  q=$name; [ -n "$arch" ] && q="$name:$arch"
  if ! dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

# The web page's npm (part of some node packages, its own package in Debian's).
command -v npm >/dev/null 2>&1 || missing+=(npm)

if [ ${#missing[@]} -eq 0 ] && [ $need_update -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi

export DEBIAN_FRONTEND=noninteractive
sudo_ apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_ apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
echo "setup: done"
