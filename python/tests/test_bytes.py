"""Byte identity: vellum.encode and Pillow's save write exactly what `vellum encode` writes
for the same pixels (a PNG of them) and the same choices."""
import numpy as np
import pytest
from conftest import cli, palette_image, texture
from PIL import Image

import vellum
import vellum.pillow  # noqa: F401 - registers the plug-in


def source(kind):
    if kind in ("RGB", "RGBA"):
        return Image.fromarray(texture(45, 30, len(kind)))
    if kind in ("L", "LA", "L+tRNS"):
        image = Image.fromarray(texture(45, 30, 4)[:, :, 1:4:2] if kind == "LA" else texture(45, 30, 3)[:, :, 0])
        if kind == "L+tRNS":
            image.info["transparency"] = int(np.asarray(image)[3, 3])
        return image
    if kind == "1":
        return Image.fromarray(texture(45, 30, 3)[:, :, 0]).convert("1")
    indices, palette = palette_image(45, 30, colours=16)
    image = Image.frombytes("P", (45, 30), indices.tobytes())
    image.putpalette(palette.tobytes())
    if kind == "P+tRNS":
        image.info["transparency"] = bytes(range(0, 256, 17))
    return image


# source kind, choices
CASES = [
    ("RGB", dict(format="blp1-jpeg", quality=80)),
    ("RGBA", dict(format="blp2-jpeg", quality=70, progressive=True)),
    ("RGBA", dict(format="blp2-dxt")),
    ("RGB", dict(format="blp1-paletted", quantizer="dl3-fast")),
    ("RGBA", dict(format="blp2-paletted4", quantizer="mediancut", mips=3)),
    ("P", dict(format="blp2-paletted8")),
    ("P", dict(format="blp1-jpeg", mips=2)),
    ("P+tRNS", dict(format="blp2-paletted1")),
    ("P+tRNS", dict(format="blp2-dxt")),
    ("L", dict(format="blp2-paletted8")),
    ("LA", dict(format="blp2-paletted4")),
    ("L+tRNS", dict(format="blp2-paletted8", mips=1)),
    ("1", dict(format="blp1-paletted")),
    ("L", dict(options=0x05000464, quality=50)),
]


def cli_flags(choices):
    flags = []
    for name, value in choices.items():
        if name == "progressive":
            flags.append("--progressive")
        else:
            flags.append(f"--{name}={value:#x}" if name == "options" else f"--{name}={value}")
    return flags


@pytest.mark.parametrize("kind,choices", CASES)
def test_same_bytes_as_the_cli(tmp_path, kind, choices):
    image = source(kind)
    image.save(tmp_path / "in.png")
    cli("encode", *cli_flags(choices), "-o", tmp_path / "cli.blp", tmp_path / "in.png")
    expected = (tmp_path / "cli.blp").read_bytes()
    from_png = Image.open(tmp_path / "in.png")
    assert vellum.encode(from_png, **choices) == expected
    assert vellum.encode(image, **choices) == expected
    saved = {"blp_format" if k == "format" else k: v for k, v in choices.items()}
    from_png.save(tmp_path / "pillow.blp", **saved)
    assert (tmp_path / "pillow.blp").read_bytes() == expected
    if kind in ("RGB", "RGBA", "L", "LA"):
        assert vellum.encode(np.asarray(image), **choices) == expected
    if kind.startswith("P"):
        indices, palette = palette_image(45, 30, colours=16)
        if kind == "P+tRNS":
            palette = np.concatenate([palette, np.arange(0, 256, 17, dtype=np.uint8)[:, None]], axis=1)
        assert vellum.encode(indices, palette=palette, **choices) == expected
