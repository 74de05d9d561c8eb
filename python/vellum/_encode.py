"""Writing: vellum.encode() and vellum.save().

Sources are handed to libvellum the way `vellum encode` hands it a PNG, so that the same
pixels and choices give the same bytes: grey images and palette images (Pillow "L", "LA",
"1", "P", "PA", 2-D arrays, arrays with a palette) go as indices with their palette, which
paletted formats keep as it is; true colour ("RGB", "RGBA", H x W x 3 or 4 arrays) goes as
pixels, and paletted formats build a palette with the chosen quantizer.
"""
from __future__ import annotations

import os
import secrets
import sys
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Optional, Tuple, Union

import numpy as np

from . import _vellum
from ._errors import BlpError

if TYPE_CHECKING:
    from PIL import Image

# The seven save formats in libvellum's order (vellum_content_type), with the Save Options
# dialog's labels; either spelling is accepted, in any case.
FORMATS = ("blp1-jpeg", "blp1-paletted", "blp2-jpeg", "blp2-paletted8", "blp2-dxt", "blp2-paletted4",
           "blp2-paletted1")
FORMAT_LABELS = ("BLP1 JPEG", "BLP1 Paletted", "BLP2 JPEG", "BLP2 Paletted 8-bit alpha", "BLP2 DirX Compress",
                 "BLP2 Paletted 4-bit alpha", "BLP2 Paletted 1-bit alpha")
QUANTIZERS = ("neuquant100", "neuquant128", "dl3-fast", "dl3-slow", "mediancut")
QUANTIZER_LABELS = ("NeuQuant 100", "NeuQuant 128", "Dennis Lee3 fast", "Dennis Lee3 slow", "Mediancut")
_JPEG_FORMATS = (0, 2)

ImageSource = Union[np.ndarray, "Image.Image", Any]

_GREY_RAMP = bytes(b for i in range(256) for b in (i, i, i, 255))


@dataclass(frozen=True)
class EncodeChoices:
    """The Save Options dialog's choices."""

    format: str = "blp1-jpeg"
    quality: int = 100
    progressive: bool = False
    quantizer: str = "neuquant100"
    mips: int = 16

    @property
    def options_word(self) -> int:
        """The dialog's packed options word (0x10000064 for the defaults)."""
        return _vellum.options_word(FORMATS.index(self.format), self.quality, self.progressive,
                                    QUANTIZERS.index(self.quantizer), self.mips)


def _lookup(value: Union[str, int], names: Tuple[str, ...], labels: Tuple[str, ...], what: str) -> int:
    if isinstance(value, int) and not isinstance(value, bool) and 0 <= value < len(names):
        return value
    if isinstance(value, str):
        folded = value.casefold()
        for k, (name, label) in enumerate(zip(names, labels)):
            if folded in (name, label.casefold()):
                return k
    raise ValueError(f"unknown {what} {value!r}: one of {', '.join(names)}")


def choices(format: Union[str, int, None] = None, *, quality: Optional[int] = None,
            progressive: Optional[bool] = None, quantizer: Union[str, int, None] = None, mips: Optional[int] = None,
            options: Optional[int] = None) -> EncodeChoices:
    """Resolves save choices as `vellum encode` does: the options word (or the defaults),
    then every choice given by name over it. As in the dialog, progressive is kept only
    with a JPEG format."""
    word = 0x10000064
    if options is not None:
        # Bits 13-15 are never set by the dialog; the library checks every other field.
        if not isinstance(options, int) or not 0 <= options <= 0xFFFFFFFF or options & 0xE000:
            raise ValueError(f"invalid options word {options!r}")
        word = options
    status, fields = _vellum.options_from_word(word)
    if status != 0:
        raise ValueError(f"invalid options word {options:#010x}")
    content, q, prog, quant, levels = fields
    if format is not None:
        content = _lookup(format, FORMATS, FORMAT_LABELS, "format")
    if quality is not None:
        if not isinstance(quality, int) or not 1 <= quality <= 100:
            raise ValueError(f"quality must be 1 to 100, not {quality!r}")
        q = quality
    if quantizer is not None:
        quant = _lookup(quantizer, QUANTIZERS, QUANTIZER_LABELS, "quantizer")
    if mips is not None:
        if not isinstance(mips, int) or not 1 <= mips <= 16:
            raise ValueError(f"mips must be 1 to 16, not {mips!r}")
        levels = mips
    if progressive is not None:
        prog = bool(progressive)
    if progressive is not None or format is not None:
        prog = prog and content in _JPEG_FORMATS
    return EncodeChoices(FORMATS[content], q, prog, QUANTIZERS[quant], levels)


def _as_uint8(array: Any) -> np.ndarray:
    a = np.asarray(array)
    if a.dtype != np.uint8:
        raise TypeError(f"pixels must be uint8, not {a.dtype} (convert with .astype(numpy.uint8))")
    return np.ascontiguousarray(a)


def _palette_bytes(palette: Any) -> Tuple[bytes, bool, int]:
    """(entries as red, green, blue, alpha; whether any entry is transparent; entry count)."""
    p = _as_uint8(palette)
    if p.ndim != 2 or p.shape[1] not in (3, 4) or not 1 <= p.shape[0] <= 256:
        raise ValueError("a palette is 1 to 256 entries of (red, green, blue) or (red, green, blue, alpha)")
    if p.shape[1] == 3:
        p = np.concatenate([p, np.full((p.shape[0], 1), 255, np.uint8)], axis=1)
    return p.tobytes(), bool((p[:, 3] != 255).any()), p.shape[0]


def _check_indices(indices: np.ndarray, count: int) -> None:
    if count < 256 and indices.size and int(indices.max()) >= count:
        raise ValueError(f"index {int(indices.max())} is past the palette's {count} entries")


def _from_array(a: np.ndarray, palette: Any) -> Tuple[np.ndarray, str, Optional[bytes], bool]:
    if a.ndim == 3 and a.shape[2] == 1:
        a = a[:, :, 0]
    channels = 1 if a.ndim == 2 else a.shape[2] if a.ndim == 3 else 0
    if palette is not None:
        if channels not in (1, 2):
            raise ValueError("with a palette, pixels are H x W indices or H x W x 2 (index, alpha)")
        entries, transparent, count = _palette_bytes(palette)
        _check_indices(a if channels == 1 else a[:, :, 0], count)
        if channels == 1:
            return np.ascontiguousarray(a), "P", entries, transparent
        return np.ascontiguousarray(a), "PA", entries, True
    # Grey pixels are indices into a grey ramp, as `vellum encode` reads a grey PNG.
    if channels == 1:
        return np.ascontiguousarray(a), "P", _GREY_RAMP, False
    if channels == 2:
        return np.ascontiguousarray(a), "PA", _GREY_RAMP, True
    if channels == 3:
        return a, "RGB", None, False
    if channels == 4:
        return a, "RGBA", None, True
    raise ValueError(f"pixels must be H x W (grey), H x W x 2 (grey, alpha), H x W x 3 (RGB) or H x W x 4 (RGBA), "
                     f"not shape {a.shape}")


def _pil_palette(image: "Image.Image") -> Tuple[np.ndarray, bool]:
    """The palette of a "P" or "PA" image as N x 4 (red, green, blue, alpha) and whether it
    carries transparency (a PNG's tRNS: one transparent index or an alpha per entry)."""
    mode = image.palette.mode if image.palette is not None else "RGB"
    rgb = np.frombuffer(bytes(image.getpalette("RGB") or b""), np.uint8).reshape(-1, 3)
    entries = np.concatenate([rgb, np.full((rgb.shape[0], 1), 255, np.uint8)], axis=1)
    transparent = False
    if mode == "RGBA":
        alpha = np.frombuffer(bytes(image.getpalette("RGBA")), np.uint8).reshape(-1, 4)[:, 3]
        entries[: alpha.shape[0], 3] = alpha[: entries.shape[0]]
        transparent = bool((alpha != 255).any())
    t = image.info.get("transparency")
    if isinstance(t, int) and 0 <= t < entries.shape[0]:
        entries[t, 3] = 0
        transparent = True
    elif isinstance(t, (bytes, bytearray)):
        n = min(len(t), entries.shape[0])
        entries[:n, 3] = np.frombuffer(bytes(t[:n]), np.uint8)
        transparent = True
    return entries, transparent


def _from_pil(image: "Image.Image") -> Tuple[np.ndarray, str, Optional[bytes], bool]:
    mode = image.mode
    if mode in ("P", "PA"):
        entries, transparent = _pil_palette(image)
        pixels = _as_uint8(image)
        _check_indices(pixels if mode == "P" else pixels[:, :, 0], entries.shape[0])
        return pixels, mode, entries.tobytes(), transparent or mode == "PA"
    if mode in ("1", "L"):
        grey = _as_uint8(image.convert("L") if mode == "1" else image)
        t = image.info.get("transparency")
        if isinstance(t, int) and 0 <= t < 256:
            ramp = bytearray(_GREY_RAMP)
            ramp[4 * t + 3] = 0
            return grey, "P", bytes(ramp), True
        return grey, "P", _GREY_RAMP, False
    if mode.startswith("I;16") or mode == "I":
        # 16-bit grey keeps the high byte of each sample, as `vellum encode` reads a 16-bit PNG.
        wide = np.asarray(image).astype(np.int64).clip(0, 65535)
        return np.ascontiguousarray((wide >> 8).astype(np.uint8)), "P", _GREY_RAMP, False
    if mode == "LA":
        return _as_uint8(image), "PA", _GREY_RAMP, True
    if mode == "RGB" and "transparency" not in image.info:
        return _as_uint8(image), "RGB", None, False
    if mode == "RGBA":
        return _as_uint8(image), "RGBA", None, True
    if mode in ("RGB", "RGBa", "La") or "A" in mode or "transparency" in image.info:
        return _as_uint8(image.convert("RGBA")), "RGBA", None, True
    return _as_uint8(image.convert("RGB")), "RGB", None, False


def _alpha_per_pixel(pixels: np.ndarray, layout: str, entries: Optional[bytes],
                     has_alpha: bool) -> Tuple[np.ndarray, str, Optional[bytes], bool]:
    """Indices whose alpha comes from their palette entries travel as index and alpha pixels
    with an opaque palette: the form `vellum encode` gives a PNG palette with transparency,
    whose file palette keeps 255 in every fourth byte."""
    if layout != "P" or not has_alpha or entries is None:
        return pixels, layout, entries, has_alpha
    table = np.frombuffer(entries, np.uint8).reshape(-1, 4)
    opaque = table.copy()
    opaque[:, 3] = 255
    return np.stack([pixels, table[:, 3][pixels]], axis=2), "PA", opaque.tobytes(), True


def _source(image: ImageSource, palette: Any) -> Tuple[np.ndarray, str, Optional[bytes], bool]:
    pil = sys.modules.get("PIL.Image")
    if pil is not None and isinstance(image, pil.Image):
        if palette is not None:
            raise ValueError("a Pillow image brings its own palette")
        return _alpha_per_pixel(*_from_pil(image))
    return _alpha_per_pixel(*_from_array(_as_uint8(image), palette))


def encode(image: ImageSource, format: Union[str, int, None] = None, *, quality: Optional[int] = None,
           progressive: Optional[bool] = None, quantizer: Union[str, int, None] = None, mips: Optional[int] = None,
           options: Optional[int] = None, palette: Any = None) -> bytes:
    """Encodes a Pillow image or a uint8 array as a BLP file and returns its bytes.

    format: one of FORMATS or its dialog label ("blp1-jpeg" by default, as every Vellum
    host); quality 1..100 (100); progressive JPEG (False); quantizer, one of QUANTIZERS, for
    true-colour sources saved paletted ("neuquant100"); mips, most mipmap levels 1..16 (16);
    options, the dialog's packed word, under the choices given by name.
    Arrays: H x W grey, H x W x 2 grey and alpha, H x W x 3 RGB, H x W x 4 RGBA; with
    palette= (N x 3 or N x 4, N <= 256) H x W indices or H x W x 2 index and alpha.
    Raises BlpError when the library refuses (a side over 32768 ...)."""
    chosen = choices(format, quality=quality, progressive=progressive, quantizer=quantizer, mips=mips,
                     options=options)
    pixels, layout, entries, has_alpha = _source(image, palette)
    status, data = _vellum.encode(pixels, _vellum.LAYOUT[layout], entries, has_alpha, FORMATS.index(chosen.format),
                                  chosen.quality, chosen.progressive, QUANTIZERS.index(chosen.quantizer),
                                  chosen.mips)
    if status != 0:
        raise BlpError(status, _vellum.status_text(status))
    return data


def _commit(temp: str, path: str, overwrite: bool) -> None:
    if overwrite:
        os.replace(temp, path)
        return
    try:
        # A hard link puts the file in place only if the name is still free.
        os.link(temp, path)
    except FileExistsError:
        raise FileExistsError(f"{path}: already exists") from None
    except OSError:
        # No hard links on this file system: a checked rename is the best there is.
        if os.path.lexists(path):
            raise FileExistsError(f"{path}: already exists") from None
        os.rename(temp, path)
        return
    os.unlink(temp)


def save(path: Union[str, "os.PathLike[str]"], image: ImageSource, format: Union[str, int, None] = None, *,
         overwrite: bool = True, **choices_: Any) -> int:
    """Encodes like encode() and writes the file atomically, as `vellum encode` does: the
    bytes go to a temporary file beside the target, which takes the final name only when
    complete; a failed save leaves nothing behind. With overwrite=False an existing file is
    kept (FileExistsError). Returns the number of bytes written."""
    data = encode(image, format, **choices_)
    path = os.fspath(path)
    if not overwrite and os.path.lexists(path):
        raise FileExistsError(f"{path}: already exists")
    folder, base = os.path.split(path)
    temp = ""
    fd = -1
    for _ in range(100):
        temp = os.path.join(folder, f".{base}.{secrets.token_hex(6)}.tmp")
        try:
            # 0666 less the umask, as any new file.
            fd = os.open(temp, os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_CLOEXEC", 0), 0o666)
            break
        except FileExistsError:
            continue
    if fd < 0:
        raise FileExistsError(f"{folder or '.'}: no free temporary name")
    try:
        with os.fdopen(fd, "wb") as out:
            out.write(data)
            out.flush()
            os.fsync(out.fileno())
        _commit(temp, path, overwrite)
    except BaseException:
        try:
            os.unlink(temp)
        except FileNotFoundError:
            pass
        raise
    return len(data)
