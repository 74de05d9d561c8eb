#!/usr/bin/env bash
# Installs the package as docs/python.md says (a venv that sees Debian's packages, pip with
# no index and no build isolation, libvellum from the build tree), then imports it from
# outside the repository and converts an image both ways through Pillow.
#   install_check.sh PYTHON PACKAGE_DIR BUILD_DIR WORK_DIR
set -euo pipefail
python=$1 package=$2 build=$3 work=$4
rm -rf "$work"
mkdir -p "$work"
# pip builds in the folder it is given: build a copy, not the source tree.
cp -r "$package" "$work/package"
rm -rf "$work/package/build" "$work/package"/*.egg-info "$work/package/tests"
"$python" -m venv --system-site-packages "$work/venv"
VELLUM_BUILD_DIR=$build "$work/venv/bin/pip" install --quiet --no-build-isolation --no-index "$work/package"
cd "$work"
env -u PYTHONPATH "$work/venv/bin/python" - "$work/venv" <<'PY'
import subprocess, sys
import numpy as np
import vellum, vellum.pillow
from PIL import Image
assert vellum.__file__.startswith(sys.argv[1]), vellum.__file__
linked = subprocess.run(["ldd", vellum._vellum.__file__], capture_output=True, text=True, check=True).stdout
assert "libvellum" not in linked, linked
image = Image.fromarray(np.arange(64 * 48 * 4, dtype=np.uint32).reshape(48, 64, 4).astype(np.uint8))
image.save("x.blp", blp_format="blp2-dxt", mips=4)
im = Image.open("x.blp")
assert (im.format, im.mode, im.size, im.n_frames) == ("BLP", "RGBA", (64, 48), 4), (im.mode, im.size)
assert vellum.open("x.blp").level(3).shape == (6, 8, 4)
print("install check passed:", vellum.__version__, vellum.__file__)
PY
