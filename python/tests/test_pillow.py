"""The Pillow plug-in, through Pillow's public calls, against Pillow's own BLP reader and
files written by Pillow's own BLP writer."""
import io
import struct

import numpy as np
import pytest
from conftest import palette_image, pillow_own_blp, psnr, texture
from PIL import Image, ImageFile, UnidentifiedImageError

import vellum
import vellum.pillow  # noqa: F401 - registers the plug-in


def pil_open(data):
    return Image.open(io.BytesIO(data))


def paletted_pil(width, height):
    indices, palette = palette_image(width, height, colours=256)
    image = Image.frombytes("P", (width, height), indices.tobytes())
    image.putpalette(palette.tobytes())
    return image


# format, source -> mode of every level
MODES = [
    ("blp1-jpeg", "RGBA", "RGBA"), ("blp1-paletted", "RGB", "P"), ("blp1-paletted", "RGBA", "RGBA"),
    ("blp2-jpeg", "RGB", None), ("blp2-paletted8", "P", "P"), ("blp2-paletted4", "RGBA", "RGBA"),
    ("blp2-paletted1", "RGBA", "RGBA"), ("blp2-dxt", "RGB", "RGB"), ("blp2-dxt", "RGBA", "RGBA"),
]


@pytest.mark.parametrize("fmt,source,mode", MODES)
def test_open_every_type(fmt, source, mode):
    image = paletted_pil(40, 24) if source == "P" else Image.fromarray(texture(40, 24, len(source)))
    data = vellum.encode(image, fmt, mips=4)
    blp = vellum.open(data)
    im = pil_open(data)
    assert (im.format, im.n_frames, im.info["blp_format"]) == ("BLP", 4, blp.info.format)
    assert im.info["blp_content"] == blp.info.content
    mode = mode or blp.to_pil().mode
    for k in range(4):
        im.seek(k)
        assert (im.mode, im.size, im.tell()) == (mode, blp.info.levels[k].size, k)
        assert im.tobytes() == blp.to_pil(k).tobytes()
        if mode == "P":
            assert im.getpalette() == blp.palette[:, :3].ravel().tolist()
    with pytest.raises(EOFError):
        im.seek(4)


# format, source -> tolerance against Pillow's own reader (the formats it reads). Pillow widens
# DXT's 5- and 6-bit colours without repeating their high bits (255 reads as 248).
PILLOW_READS = [("blp1-paletted", "P", 0), ("blp2-paletted8", "P", 0), ("blp2-dxt", "RGB", 7),
                ("blp2-dxt", "RGBA", 7), ("blp1-jpeg", "RGB", 1)]


@pytest.mark.parametrize("fmt,source,tolerance", PILLOW_READS)
def test_pillow_reader_agrees(fmt, source, tolerance):
    image = paletted_pil(48, 32) if source == "P" else Image.fromarray(texture(48, 32, len(source)))
    data = vellum.encode(image, fmt, quality=90)
    ours = np.asarray(pil_open(data).convert("RGBA"), dtype=int)
    with pillow_own_blp():
        theirs = np.asarray(pil_open(data).convert("RGBA"), dtype=int)
    channels = 4 if fmt == "blp2-dxt" and source == "RGBA" else 3
    assert np.abs(ours - theirs)[:, :, :channels].max() <= tolerance


@pytest.mark.parametrize("version", ["BLP1", "BLP2"])
def test_files_pillow_wrote(version):
    image = paletted_pil(24, 20)
    out = io.BytesIO()
    with pillow_own_blp():
        image.save(out, "BLP", blp_version=version)
    data = out.getvalue()
    im = pil_open(data)
    # The header declares alpha, the level holds indices only: an opaque "P" image.
    assert (im.mode, im.size, im.getpalette()) == ("P", (24, 20), image.getpalette())
    offset = struct.unpack_from("<I", data, 28 if version == "BLP1" else 20)[0]
    # The level is read where the table puts it (Pillow's BLP1 offset is 8 bytes short).
    assert im.tobytes() == data[offset:offset + 24 * 20]
    if version == "BLP2":
        assert im.tobytes() == image.tobytes()


def test_draft_and_thumbnail():
    source = texture(256, 128, 3)
    data = vellum.encode(source, "blp2-dxt")
    im = pil_open(data)
    assert im.draft(None, (60, 30)) == ("RGB", (0, 0, 64, 32))
    assert (im.size, im.tell()) == ((64, 32), 2)
    assert im.tobytes() == vellum.open(data).level(2, "RGB").tobytes()
    im = pil_open(data)
    im.thumbnail((32, 32))
    assert im.size == (32, 16)
    assert psnr(np.asarray(im), np.asarray(Image.fromarray(source).resize((32, 16), Image.BOX))) > 30


def test_damage_and_unreadable_files(monkeypatch):
    data = vellum.encode(texture(64, 64, 3), "blp2-paletted8", mips=1)
    cut = data[: len(data) - 64 * 20]
    with pytest.raises(vellum.DamagedError) as damaged:
        vellum.open(cut).level(0, "RGB")
    im = pil_open(cut)
    with pytest.raises(OSError):
        im.load()
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    im = pil_open(cut)
    im.load()
    assert im.convert("RGB").tobytes() == damaged.value.recovered.tobytes()
    unknown = bytearray(data)
    unknown[4:6] = b"\x01\x09"   # direct storage of an encoding nobody knows
    for bad in (b"BLP2" + bytes(100), b"BLP9" + data[4:], bytes(unknown)):
        with pytest.raises(UnidentifiedImageError):
            pil_open(bad)


# Pillow's save: each format and option reaches the encoder.
@pytest.mark.parametrize("options", [dict(blp_format="blp2-paletted4", quantizer="dl3-fast", mips=3),
                                     dict(blp_format="blp1-jpeg", quality=60, progressive=True),
                                     dict(options=0x02000464)])
def test_save(tmp_path, options):
    image = Image.fromarray(texture(40, 36))
    image.save(tmp_path / "x.blp", **options)
    named = {"format" if k == "blp_format" else k: v for k, v in options.items()}
    assert (tmp_path / "x.blp").read_bytes() == vellum.encode(image, **named)
    assert Image.open(tmp_path / "x.blp").format == "BLP"
