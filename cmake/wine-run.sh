#!/usr/bin/env bash
# Runs a Windows test program under Wine for the Windows build trees (the trees'
# CMAKE_CROSSCOMPILING_EMULATOR).
#
#   wine-run.sh STATE_DIR program.exe [arguments...]   run one program
#   wine-run.sh STATE_DIR --setup                      create the prefix, start the display
#   wine-run.sh STATE_DIR --cleanup                    stop the display and the wineserver
#
# STATE_DIR (inside the build tree) holds the tree's own WINEPREFIX, created once and
# quietly, and the X display: an Xvfb started once for the test run, shared by every
# program of the tree that opens a window, and stopped by --cleanup. Nothing outside the
# build tree is touched, so a fresh machine (root, no display) works as well as a desktop.
set -euo pipefail

state=${1:?state directory}
shift
mkdir -p "$state"
state=$(cd "$state" && pwd)
export WINEPREFIX=$state/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
unset WINEARCH
# One locale for every run: Unix file names in UTF-8, Windows ANSI code page 1252.
export LC_ALL=C.UTF-8

log=$state/wine-run.log

# Debian's `wine` starts the 32-bit loader whenever it is installed, which fails on a kernel
# that runs no i386 programs. There the 64-bit loader serves every 64-bit program (and the
# prefix's own tools): a `wine` in front of PATH that calls it.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ]; then
  mkdir -p "$state/bin"
  # Tests run side by side: each shim is written once, under a new name, and renamed into
  # place, so that no run rewrites a file another run is executing.
  for name in wine wine-stable; do
    [ -x "$state/bin/$name" ] && continue
    printf '#!/bin/sh\nexport WINELOADER=/usr/lib/wine/wine64\nexec /usr/lib/wine/wine64 "$@"\n' >"$state/bin/$name.$$"
    chmod +x "$state/bin/$name.$$"
    mv -f "$state/bin/$name.$$" "$state/bin/$name"
  done
  export PATH=$state/bin:$PATH
fi

lock() { exec 9>"$state/lock"; flock 9; }
unlock() { flock -u 9; exec 9>&-; }

display_alive() {
  [ -f "$state/xvfb.pid" ] && [ -f "$state/display" ] || return 1
  local pid
  pid=$(cat "$state/xvfb.pid")
  kill -0 "$pid" 2>/dev/null || return 1
  [ -S "/tmp/.X11-unix/X$(cat "$state/display")" ]
}

start_display() {
  display_alive && return 0
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  # setsid: the server must outlive the program that started it (CTest kills groups).
  setsid Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp -noreset >>"$log" 2>&1 </dev/null &
  echo $! >"$state/xvfb.pid"
  echo "$n" >"$state/display"
  for _ in $(seq 1 100); do
    [ -S "/tmp/.X11-unix/X$n" ] && return 0
    sleep 0.1
  done
  echo "wine-run: Xvfb :$n did not start (see $log)" >&2
  return 1
}

ensure_prefix() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine-run: creating $WINEPREFIX" >>"$log"
    DISPLAY=:$(cat "$state/display") wineboot -i >>"$log" 2>&1 || true
    wineserver -w >>"$log" 2>&1 || true
  fi
  # A persistent server for the run: each program then starts in a fraction of a second
  # instead of bringing the prefix's services up again. --cleanup stops it.
  wineserver -p >>"$log" 2>&1 || true
}

# Starts the prefix's background services now, with their output going to the log: a
# service started by a test program would keep that test's output pipe open (and CTest
# waiting) for as long as the server lives.
start_services() {
  DISPLAY=:$(cat "$state/display") wineboot >>"$log" 2>&1 </dev/null || true
}

case "${1:-}" in
  --setup)
    lock; start_display; ensure_prefix; start_services; unlock
    echo "wine-run: prefix $WINEPREFIX, display :$(cat "$state/display")"
    exit 0 ;;
  --cleanup)
    lock
    wineserver -k >/dev/null 2>&1 || true
    if [ -f "$state/xvfb.pid" ]; then
      pid=$(cat "$state/xvfb.pid")
      if kill -0 "$pid" 2>/dev/null; then kill "$pid" 2>/dev/null || true; fi
      rm -f "$state/xvfb.pid" "$state/display"
    fi
    unlock
    exit 0 ;;
esac

lock; start_display; ensure_prefix; unlock
export DISPLAY=:$(cat "$state/display")
# The program's output goes through a file: Wine may start helper processes (the desktop
# window's explorer.exe, services) from any program, and they inherit its output handles;
# CTest would otherwise wait for its pipe until the persistent server ends.
out=$(mktemp "$state/output.XXXXXX")
rc=0
wine "$@" >"$out" 2>&1 </dev/null || rc=$?
cat "$out"
rm -f "$out"
exit "$rc"
