"""Shared helpers: deterministic test images and the command-line tool as the reference."""
import importlib
import os
import subprocess
from contextlib import contextmanager
from pathlib import Path

import numpy as np
import pytest

CLI = os.environ.get("VELLUM_CLI", str(Path(__file__).resolve().parents[2] / "build/native/cli/vellum"))


def texture(width, height, channels=4, seed=7):
    """Smooth gradients with a little noise; alpha a diagonal ramp."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    planes = [x * 255 // max(1, width - 1), y * 255 // max(1, height - 1), (x + y) * 127 // max(1, width + height)]
    rgb = np.stack(planes, axis=2) + rng.integers(-6, 7, (height, width, 3))
    image = np.clip(rgb, 0, 255).astype(np.uint8)
    if channels == 4:
        alpha = ((x + 2 * y) * 255 // max(1, width + 2 * height - 3)).astype(np.uint8)
        image = np.concatenate([image, alpha[:, :, None]], axis=2)
    return image


def palette_image(width, height, colours=16, seed=3):
    """(indices, N x 3 palette): every entry used."""
    rng = np.random.default_rng(seed)
    palette = rng.integers(0, 256, (colours, 3), dtype=np.uint8)
    indices = (np.arange(width * height).reshape(height, width) * 7 % colours).astype(np.uint8)
    return indices, palette


def psnr(a, b):
    error = np.mean((a.astype(np.float64) - b.astype(np.float64)) ** 2)
    return float("inf") if error == 0 else 10 * np.log10(255.0 ** 2 / error)


def cli(*args):
    """Runs `vellum`; returns its standard output, fails the test on a non-zero exit."""
    run = subprocess.run([CLI, *map(str, args)], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    return run.stdout


@contextmanager
def pillow_own_blp():
    """Pillow's own BLP handler for the duration (to write files with it or read with it)."""
    from PIL import BlpImagePlugin

    import vellum.pillow

    importlib.reload(BlpImagePlugin)
    try:
        yield BlpImagePlugin
    finally:
        vellum.pillow.register()


@pytest.fixture(scope="session", autouse=True)
def _cli_built():
    assert os.access(CLI, os.X_OK), f"{CLI}: build the native tree first"
