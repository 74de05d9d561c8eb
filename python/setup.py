"""Builds vellum._vellum against libvellum, linked statically.

Where libvellum comes from, in this order:
  VELLUM_BUILD_DIR=DIR       a CMake build tree of Vellum (DIR/lib/libvellum.a; the header
                             from the tree's source folder)
  VELLUM_USE_PKG_CONFIG=1    the installed library (`cmake --install BUILD --component
                             libvellum-dev`), found with `pkg-config vellum`
  otherwise                  ../build/native, the tree the repository's scripts build, or
                             pkg-config when there is none.
"""
import os
import re
import shlex
import subprocess
from pathlib import Path

from pybind11.setup_helpers import Pybind11Extension, build_ext
from setuptools import setup

here = Path(__file__).resolve().parent


def from_build_tree(build):
    cache = (build / "CMakeCache.txt").read_text()
    source = Path(re.search(r"^Vellum_SOURCE_DIR:STATIC=(.*)$", cache, re.M).group(1))
    version = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.*)$", cache, re.M).group(1)
    archive = build / "lib" / "libvellum.a"
    if not archive.exists():
        raise SystemExit(f"{archive} is missing: build the tree first (cmake --build {build})")
    return {"include": [str(source / "include")], "archive": str(archive), "libs": ["squish"], "version": version}


def from_pkg_config():
    def ask(*args):
        return subprocess.run(["pkg-config", *args, "vellum"], check=True, capture_output=True, text=True).stdout.strip()

    try:
        libdir = ask("--variable=libdir")
        flags = shlex.split(ask("--cflags"))
        private = [f[2:] for f in shlex.split(ask("--static", "--libs")) if f.startswith("-l") and f != "-lvellum"]
        version = ask("--modversion")
    except (OSError, subprocess.CalledProcessError):
        raise SystemExit("libvellum not found: build Vellum (scripts/test.sh or cmake), set VELLUM_BUILD_DIR to the "
                         "build tree, or install libvellum-dev and set PKG_CONFIG_PATH") from None
    return {"include": [f[2:] for f in flags if f.startswith("-I")], "archive": str(Path(libdir) / "libvellum.a"),
            "libs": [name for name in private if name not in ("stdc++", "m")], "version": version}


def find_libvellum():
    if os.environ.get("VELLUM_BUILD_DIR"):
        return from_build_tree(Path(os.environ["VELLUM_BUILD_DIR"]).resolve())
    if os.environ.get("VELLUM_USE_PKG_CONFIG") != "1":
        tree = here.parent / "build" / "native"
        if (tree / "lib" / "libvellum.a").exists():
            return from_build_tree(tree)
    return from_pkg_config()


lib = find_libvellum()
setup(
    version=lib["version"],
    ext_modules=[
        Pybind11Extension(
            "vellum._vellum",
            ["src/vellum_module.cpp"],
            include_dirs=lib["include"],
            extra_objects=[lib["archive"]],
            # A rebuilt library relinks the module (setuptools otherwise watches the sources only).
            depends=[lib["archive"]] + [str(h) for d in lib["include"] if (h := Path(d) / "vellum" / "vellum.h").exists()],
            libraries=lib["libs"] + ["pthread"],
            extra_compile_args=["-ffp-contract=off"],
            # The core inside the archive stays private to the module.
            extra_link_args=["-Wl,--exclude-libs,ALL"],
            cxx_std=17,
        )
    ],
    cmdclass={"build_ext": build_ext},
)
