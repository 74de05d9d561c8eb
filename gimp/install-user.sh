#!/bin/sh
# Installs the file-blp plug-in for the current user: into the plug-ins folder of the
# user's GIMP 2.10 configuration (GIMP2_DIRECTORY when set, else
# ${XDG_CONFIG_HOME:-~/.config}/GIMP/2.10), as plug-ins/file-blp/file-blp.
#
#   sh gimp/install-user.sh build/native/gimp/file-blp
set -eu
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: install-user.sh PATH-TO-BUILT-file-blp" >&2
  exit 2
fi
if [ -n "${GIMP2_DIRECTORY:-}" ]; then
  config=$GIMP2_DIRECTORY
else
  config=${XDG_CONFIG_HOME:-$HOME/.config}/GIMP/2.10
fi
target=$config/plug-ins/file-blp
mkdir -p "$target"
# Copied under a temporary name and renamed, so that a running GIMP never sees half a file.
cp "$1" "$target/.file-blp.new"
chmod 755 "$target/.file-blp.new"
mv -f "$target/.file-blp.new" "$target/file-blp"
echo "installed $target/file-blp (restart GIMP to load it)"
