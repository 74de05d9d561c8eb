"""Reading: vellum.open() and BlpFile."""
from __future__ import annotations

import builtins
import os
import warnings
from dataclasses import dataclass
from typing import IO, TYPE_CHECKING, Optional, Tuple, Union

import numpy as np

from . import _vellum
from ._errors import BlpError, DamagedError, DamageWarning

if TYPE_CHECKING:
    from PIL import Image

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, IO[bytes]]

_LAYOUT_NAMES = {code: name for name, code in _vellum.LAYOUT.items()}
_STATES = ("stored", "absent", "repeated", "empty")
_OK = _vellum.STATUS["OK"]
_WARNING = _vellum.STATUS["WARNING"]
_DAMAGED = _vellum.STATUS["DAMAGED"]


@dataclass(frozen=True)
class LevelInfo:
    """One entry of the mipmap table."""

    index: int
    width: int
    height: int
    offset: int     # the table entry as stored
    length: int     # bytes the entry gives the level
    state: str      # "stored", "absent", "repeated" (the entry repeats the one before) or "empty"
    layout: str     # what the level holds: "P", "PA" (paletted with alpha), "RGB" or "RGBA"
    damage: int     # DAMAGE bits found from the table and the file's length, without decoding

    @property
    def size(self) -> Tuple[int, int]:
        return (self.width, self.height)


@dataclass(frozen=True)
class Info:
    """What a BLP file holds, from its header and mipmap table."""

    signature: str          # "BLP0", "BLP1" or "BLP2"
    content: str            # "JPEG", "paletted", "DXT1", "DXT3", "DXT5" or "raw"
    alpha_depth: int        # as stored
    alpha_bits: int         # alpha bits a pixel of level 0 decodes with: 0, 1, 2, 4 or 8
    width: int
    height: int
    level_count: int        # levels stored from level 0 on
    chain_length: int       # levels of a full chain down to 1 x 1 (at most 16)
    layout: str             # what level 0 holds: "P", "PA", "RGB" or "RGBA"
    jpeg_header_size: int   # JPEG content: bytes of the shared header; else 0
    file_size: int
    levels: Tuple[LevelInfo, ...]  # the table's entries down to 1 x 1

    @property
    def size(self) -> Tuple[int, int]:
        return (self.width, self.height)

    @property
    def format(self) -> Optional[str]:
        """The save format that writes files of this kind (a name of vellum.FORMATS), or
        None for kinds Vellum reads but does not write (BLP0, DXT3, raw, 2-bit alpha)."""
        if self.signature == "BLP1":
            return {"JPEG": "blp1-jpeg", "paletted": "blp1-paletted"}.get(self.content)
        if self.signature != "BLP2":
            return None
        if self.content == "JPEG":
            return "blp2-jpeg"
        if self.content in ("DXT1", "DXT5"):
            return "blp2-dxt"
        if self.content == "paletted":
            return {0: "blp2-paletted8", 8: "blp2-paletted8", 4: "blp2-paletted4", 1: "blp2-paletted1"}.get(
                self.alpha_depth)
        return None


def _raise_for(status: int, damage: dict, pixels: Optional[np.ndarray]) -> None:
    message = damage["message"] or _vellum.status_text(status)
    if status == _DAMAGED:
        raise DamagedError(status, message, pixels, damage["flags"], damage["level"], damage["blocks_decoded"],
                           damage["blocks_total"])
    if status < 0:
        raise BlpError(status, message)
    if status == _WARNING:
        warnings.warn(f"level {damage['level']}: {message}", DamageWarning, stacklevel=3)


def _layout_code(layout: str) -> int:
    try:
        return _vellum.LAYOUT[layout]
    except KeyError:
        raise ValueError(f"unknown layout {layout!r}: one of {', '.join(_vellum.LAYOUT)}") from None


class BlpFile:
    """An open BLP file. Levels are decoded on request; use it as a context manager or call
    close(). One BlpFile may be shared by threads (their calls take turns); distinct files
    decode in parallel."""

    def __init__(self, handle: _vellum.File, name: Optional[str]) -> None:
        self._handle = handle
        self.name = name
        raw = handle.info()
        levels = []
        for k in range(raw["chain_length"]):
            li = handle.level_info(k)
            levels.append(LevelInfo(k, li["width"], li["height"], li["offset"], li["size"], _STATES[li["state"]],
                                    _LAYOUT_NAMES[li["layout"]], li["damage"]))
        self.info = Info(raw["signature"], raw["content_name"], raw["alpha_depth"], raw["alpha_bits"], raw["width"],
                         raw["height"], raw["level_count"], raw["chain_length"], _LAYOUT_NAMES[raw["layout"]],
                         raw["jpeg_header_size"], raw["file_size"], tuple(levels))
        self._palette = handle.palette()

    @property
    def palette(self) -> Optional[np.ndarray]:
        """256 x 4 entries of paletted files: red, green, blue and the fourth byte as stored
        (not the alpha: that is a plane of its own). None for other content."""
        return None if self._palette is None else self._palette.copy()

    @property
    def closed(self) -> bool:
        return self._handle.closed

    def level(self, k: int = 0, layout: str = "RGBA") -> np.ndarray:
        """Mipmap level k as a uint8 array: H x W x C for "RGBA", "RGB" and "BGRA" (an
        opaque level has alpha 255), H x W palette indices for "P" and H x W x 2 (index,
        alpha) for "PA" (paletted files only; see .palette).

        Raises DamagedError (with .recovered) when pixels were lost, BlpError when the level
        cannot be decoded (not stored, over max_pixels ...); repaired damage gives a
        DamageWarning."""
        if layout in ("P", "PA") and self.info.content != "paletted":
            raise ValueError(f"layout {layout!r} needs a paletted file; this one holds {self.info.content}")
        status, pixels, damage = self._handle.decode(k, _layout_code(layout))
        _raise_for(status, damage, pixels)
        return pixels

    def thumbnail(self, n: int, layout: str = "RGBA") -> np.ndarray:
        """A thumbnail whose longer side is at most n: the smallest stored level whose
        longer side is at least n, box-filtered down (a file no larger than n comes whole)."""
        if layout not in ("RGB", "RGBA", "BGRA"):
            raise ValueError("thumbnails come as 'RGB', 'RGBA' or 'BGRA'")
        if n < 1:
            raise ValueError("thumbnail side must be at least 1")
        status, pixels, damage = self._handle.thumbnail(n, _layout_code(layout))
        _raise_for(status, damage, pixels)
        return pixels

    def to_pil(self, k: int = 0) -> "Image.Image":
        """Level k as a Pillow image: "P" with the palette for paletted levels without alpha,
        "RGBA" for levels with alpha, "RGB" otherwise."""
        from PIL import Image

        layout = self.info.levels[k].layout if 0 <= k < len(self.info.levels) else "RGBA"
        if layout == "P":
            indices = self.level(k, "P")
            image = Image.frombytes("P", (indices.shape[1], indices.shape[0]), indices.tobytes())
            image.putpalette(self._palette[:, :3].tobytes())
            return image
        mode = "RGB" if layout == "RGB" else "RGBA"
        pixels = self.level(k, mode)
        return Image.frombytes(mode, (pixels.shape[1], pixels.shape[0]), pixels.tobytes())

    def close(self) -> None:
        self._handle.close()

    def __enter__(self) -> "BlpFile":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def __repr__(self) -> str:
        i = self.info
        name = f" {self.name!r}" if self.name else ""
        return f"<vellum.BlpFile{name} {i.signature} {i.content} {i.width}x{i.height} levels={i.level_count}>"


def open(source: Source, *, max_pixels: int = 0) -> BlpFile:  # noqa: A001 - the module's verb
    """Opens a BLP file: a path (levels are read from disk as they are decoded), bytes, or a
    binary file object (read whole). max_pixels refuses larger levels before any memory is
    taken (0: no limit beyond the format's 32768 x 32768)."""
    name: Optional[str] = None
    if isinstance(source, (str, os.PathLike)):
        name = os.fsdecode(source)
        # Python's own open gives the usual FileNotFoundError / PermissionError.
        with builtins.open(name, "rb"):
            pass
        status, handle = _vellum.open_path(name)
    else:
        if isinstance(source, bytes):
            data = source
        elif isinstance(source, (bytearray, memoryview)):
            data = bytes(source)
        elif hasattr(source, "read"):
            data = source.read()
            name = getattr(source, "name", None) if isinstance(getattr(source, "name", None), str) else None
            if not isinstance(data, bytes):
                raise TypeError("the file object must be opened in binary mode")
        else:
            raise TypeError(f"cannot open a BLP file from {type(source).__name__}")
        status, handle = _vellum.open_memory(data)
    if status != _OK:
        text = _vellum.status_text(status)
        raise BlpError(status, f"{name}: {text}" if name else text)
    if max_pixels:
        handle.set_max_pixels(max_pixels)
    return BlpFile(handle, name)
