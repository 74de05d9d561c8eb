"""A Pillow plug-in: every kind of BLP file opens and saves through Vellum.

    import vellum.pillow                  # registers the plug-in (vellum.pillow.register())
    from PIL import Image
    im = Image.open("Stone.blp")          # "P", "RGB" or "RGBA"; n_frames mipmap levels
    im.thumbnail((64, 64))                # decodes the smallest level large enough
    im.save("Stone2.blp", blp_format="blp2-dxt", mips=8)

Opening: mode "P" for paletted levels without alpha, "RGBA" for levels with alpha (a
palette with a per-pixel alpha plane is not a "P" image), "RGB" otherwise; seek(k) moves
to mipmap level k. Damage shows at load() as OSError; with ImageFile.LOAD_TRUNCATED_IMAGES
what could be recovered is loaded instead. Saving takes blp_format, quality, progressive,
quantizer, mips and options as vellum.encode does.
"""
from __future__ import annotations

from typing import IO, Any, Optional, Tuple

from PIL import Image, ImageFile, ImagePalette

from . import _file
from ._encode import encode
from ._errors import BlpError, DamagedError

_SIGNATURES = (b"BLP0", b"BLP1", b"BLP2")
_DECODER = "vellum_blp"


def _accept(prefix: bytes) -> bool:
    return prefix[:4] in _SIGNATURES


class BlpImageFile(ImageFile.ImageFile):
    format = "BLP"
    format_description = "BLP texture (Vellum)"

    def _open(self) -> None:
        try:
            self._blp = _file.open(self.fp.read())
        except BlpError as e:
            # Pillow tries the other formats, then raises UnidentifiedImageError.
            raise SyntaxError(str(e)) from e
        info = self._blp.info
        if info.level_count == 0:
            raise SyntaxError("the file stores no level 0")
        self._n_frames = info.level_count
        self.info.update({
            "blp_signature": info.signature,
            "blp_content": info.content,
            "blp_alpha_depth": info.alpha_depth,
            "blp_alpha_bits": info.alpha_bits,
            "blp_levels": info.level_count,
        })
        if info.format is not None:
            self.info["blp_format"] = info.format
        self._frame = -1
        self._show_level(0)

    @property
    def n_frames(self) -> int:
        return self._n_frames

    @property
    def is_animated(self) -> bool:
        return self._n_frames > 1

    def tell(self) -> int:
        return self._frame

    def seek(self, frame: int) -> None:
        if not self._seek_check(frame):
            return
        self._show_level(frame)

    def _show_level(self, k: int) -> None:
        level = self._blp.info.levels[k]
        if level.layout == "P":
            mode = "P"
            self.palette = ImagePalette.raw("RGB", self._blp._palette[:, :3].tobytes())
        else:
            mode = "RGB" if level.layout == "RGB" else "RGBA"
            self.palette = None
        self._frame = k
        self._size = level.size
        _set_mode(self, mode)
        self.im = None
        self.tile = [(_DECODER, (0, 0) + level.size, 0, (self._blp, k, mode))]

    def draft(self, mode: Optional[str], size: Optional[Tuple[int, int]]) -> Optional[Tuple[str, Tuple[int, ...]]]:
        """Picks the smallest stored level that is at least `size` on both sides, so that
        Image.thumbnail() decodes no more than it needs; the mode is kept."""
        if not self.tile or not size:
            return None
        levels = self._blp.info.levels
        chosen = self._frame
        for k in range(self._frame + 1, self._n_frames):
            if levels[k].width < size[0] or levels[k].height < size[1]:
                break
            chosen = k
        if chosen == self._frame:
            return None
        self._show_level(chosen)
        return self.mode, (0, 0) + self.size

    # Levels are decoded from the whole file, read at open: the file object is not needed.
    def load_seek(self, pos: int) -> None:
        pass

    def load_read(self, size: int) -> bytes:
        return b""


class _LevelDecoder(ImageFile.PyDecoder):
    _pulls_fd = True

    def decode(self, buffer: bytes) -> Tuple[int, int]:
        blp, k, mode = self.args[:3]
        try:
            pixels = blp.level(k, mode)
        except DamagedError as e:
            if not ImageFile.LOAD_TRUNCATED_IMAGES or e.recovered is None:
                raise OSError(f"BLP level {k} is damaged: {e}") from e
            pixels = e.recovered
        except BlpError as e:
            raise OSError(f"BLP level {k}: {e}") from e
        self.set_as_raw(pixels.tobytes(), mode)
        return -1, 0


def _save(im: Image.Image, fp: IO[bytes], filename: Any) -> None:
    o = im.encoderinfo
    fp.write(encode(im, o.get("blp_format"), quality=o.get("quality"), progressive=o.get("progressive"),
                    quantizer=o.get("quantizer"), mips=o.get("mips"), options=o.get("options")))


def _set_mode(im: Image.Image, mode: str) -> None:
    # Pillow 10.1 made Image.mode a read-only property over _mode.
    if isinstance(getattr(type(im), "mode", None), property):
        im._mode = mode
    else:
        im.mode = mode


def register() -> None:
    """Registers the plug-in over Pillow's own BLP handler, for opening and saving. Pillow's
    plug-ins are loaded first (Image.init()) so that theirs cannot come back over ours."""
    Image.init()
    Image.register_open(BlpImageFile.format, BlpImageFile, _accept)
    # register_open appends the format to the list Image.open walks; one entry is enough.
    while Image.ID.count(BlpImageFile.format) > 1:
        Image.ID.remove(BlpImageFile.format)
    Image.register_save(BlpImageFile.format, _save)
    Image.register_extension(BlpImageFile.format, ".blp")
    Image.register_decoder(_DECODER, _LevelDecoder)


register()
