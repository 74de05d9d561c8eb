"""The module API through NumPy: every save format, levels, thumbnails, sources, saving."""
import io
import os
import threading

import numpy as np
import pytest
from conftest import cli, palette_image, psnr, texture
from PIL import Image

import vellum
from vellum import _vellum

RGBA = texture(37, 50)
RGB = texture(37, 50, 3)

# format, signature, content and level-0 layout for an RGBA / an RGB source, the alpha shift of
# a paletted plane (None: lossy alpha), PSNR floor. Opaque BLP2 paletted files are all alike.
FORMATS = [
    ("blp1-jpeg", "BLP1", "JPEG", "RGBA", "RGB", None, 38),
    ("blp1-paletted", "BLP1", "paletted", "PA", "P", 0, 30),
    ("blp2-jpeg", "BLP2", "JPEG", "RGBA", "RGBA", None, 38),
    ("blp2-paletted8", "BLP2", "paletted", "PA", "P", 0, 30),
    ("blp2-dxt", "BLP2", ("DXT5", "DXT1"), "RGBA", "RGB", None, 30),
    ("blp2-paletted4", "BLP2", "paletted", "PA", "P", 4, 30),
    ("blp2-paletted1", "BLP2", "paletted", "PA", "P", 7, 30),
]


@pytest.mark.parametrize("fmt,signature,content,layout_a,layout_rgb,alpha_shift,floor", FORMATS)
def test_round_trip_every_format(fmt, signature, content, layout_a, layout_rgb, alpha_shift, floor):
    for source, layout in ((RGBA, layout_a), (RGB, layout_rgb)):
        blp = vellum.open(vellum.encode(source, fmt, quality=95))
        info = blp.info
        opaque = source.shape[2] == 3
        want = (signature, content if isinstance(content, str) else content[opaque], layout,
                "blp2-paletted8" if opaque and fmt.startswith("blp2-paletted") else fmt)
        assert (info.signature, info.content, info.layout, info.format) == want
        assert info.size == (37, 50) and info.level_count == info.chain_length == 6
        back = blp.level(0)
        assert back.shape == (50, 37, 4) and back.dtype == np.uint8
        assert psnr(back[:, :, :3], source[:, :, :3]) > floor
        alpha = back[:, :, 3].astype(int)
        if opaque:
            assert (alpha == 255).all()
        elif alpha_shift is None:
            assert np.abs(alpha - source[:, :, 3]).max() <= 8
        else:
            assert (alpha == (source[:, :, 3] >> alpha_shift) * (255 // (255 >> alpha_shift))).all()
        assert (blp.level(0, "BGRA") == back[:, :, [2, 1, 0, 3]]).all()
        assert (blp.level(0, "RGB") == back[:, :, :3]).all()


@pytest.mark.parametrize("fmt", ["blp1-paletted", "blp2-paletted8", "blp2-paletted4", "blp2-paletted1"])
def test_indexed_source_keeps_indices_and_palette(fmt):
    indices, palette = palette_image(40, 24)
    alpha = (np.arange(40)[None, :].repeat(24, 0) * 6).astype(np.uint8)
    blp = vellum.open(vellum.encode(np.stack([indices, alpha], 2), fmt, palette=palette))
    assert (blp.level(0, "PA")[:, :, 0] == indices).all()
    assert (blp.palette[:16, :3] == palette).all()
    opaque = vellum.open(vellum.encode(indices, fmt, palette=palette))
    assert opaque.info.layout == "P" and (opaque.level(0, "P") == indices).all()
    assert (opaque.to_pil().getpalette()[:48] == palette.ravel().tolist())


@pytest.mark.parametrize("width,height,mips", [(37, 50, 16), (64, 8, 3), (1, 1, 16), (300, 2, 1)])
def test_levels_match_the_cli(tmp_path, width, height, mips):
    path = tmp_path / "t.blp"
    vellum.save(path, texture(width, height), "blp2-paletted8", mips=mips)
    blp = vellum.open(path)
    chain = max(width, height).bit_length()
    assert blp.info.level_count == min(mips, chain)
    cli("decode", "--all-levels", path)
    for k in range(blp.info.level_count):
        level = blp.level(k)
        assert level.shape == (max(1, height >> k), max(1, width >> k), 4)
        assert (np.asarray(Image.open(tmp_path / f"t.mip{k}.png").convert("RGBA")) == level).all()
    with pytest.raises(vellum.BlpError) as e:
        blp.level(blp.info.level_count)
    assert e.value.status in (vellum.STATUS["NO_LEVEL"], vellum.STATUS["ARGUMENT"])


# level-0 size, thumbnail side -> level used, thumbnail size
THUMBNAILS = [((256, 128), 64, 2, (64, 32)), ((256, 128), 100, 1, (100, 50)), ((40, 20), 64, 0, (40, 20)),
              ((256, 16), 32, 3, (32, 2))]


@pytest.mark.parametrize("size,side,level,expected", THUMBNAILS)
def test_thumbnails(size, side, level, expected):
    blp = vellum.open(vellum.encode(texture(*size), "blp2-dxt"))
    assert blp._handle.thumbnail_size(side)[1:] == (level, *expected)
    thumb = blp.thumbnail(side)
    assert thumb.shape == (expected[1], expected[0], 4)
    if blp.info.levels[level].size == expected:
        assert (thumb == blp.level(level)).all()


def test_sources_and_limits(tmp_path):
    data = vellum.encode(RGBA, "blp2-paletted4")
    (tmp_path / "a.blp").write_bytes(data)
    reference = vellum.open(data).level(0)
    for source in (tmp_path / "a.blp", str(tmp_path / "a.blp"), bytearray(data), memoryview(data), io.BytesIO(data)):
        assert (vellum.open(source).level(0) == reference).all()
    limited = vellum.open(data, max_pixels=500)
    with pytest.raises(vellum.BlpError) as e:
        limited.level(0)
    assert e.value.status == vellum.STATUS["TOO_LARGE"]
    assert limited.level(2).shape == (12, 9, 4)
    with pytest.raises(FileNotFoundError):
        vellum.open(tmp_path / "missing.blp")
    with pytest.raises(ValueError):
        vellum.open(vellum.encode(RGBA, "blp2-dxt")).level(0, "P")


# encode arguments -> the exception they raise
BAD_ENCODES = [
    (dict(image=RGBA.astype(np.float32)), TypeError),
    (dict(image=np.zeros((4, 4, 5), np.uint8)), ValueError),
    (dict(image=RGBA, format="blp3"), ValueError),
    (dict(image=RGBA, quality=0), ValueError),
    (dict(image=RGBA, mips=17), ValueError),
    (dict(image=RGBA, options=0x10002064), ValueError),
    (dict(image=RGBA, options=0x10000764), ValueError),
    (dict(image=np.full((4, 4), 9, np.uint8), palette=np.zeros((8, 3), np.uint8)), ValueError),
    (dict(image=np.zeros((1, 40000, 3), np.uint8)), vellum.BlpError),
]


@pytest.mark.parametrize("kwargs,error", BAD_ENCODES)
def test_bad_encodes(kwargs, error):
    with pytest.raises(error):
        vellum.encode(**kwargs)


# options word and named choices -> resolved choices, as `vellum encode` resolves them
CHOICES = [
    (dict(), ("blp1-jpeg", 100, False, "neuquant100", 16)),
    (dict(options=0x08031455), ("blp2-dxt", 85, True, "dl3-slow", 8)),
    (dict(options=0x08031455, format="BLP2 JPEG"), ("blp2-jpeg", 85, True, "dl3-slow", 8)),
    (dict(options=0x08031455, progressive=True, format="blp2-dxt"), ("blp2-dxt", 85, False, "dl3-slow", 8)),
    (dict(options=0x10001264, quantizer="Mediancut", mips=2, quality=7), ("blp2-jpeg", 7, True, "mediancut", 2)),
]


@pytest.mark.parametrize("kwargs,expected", CHOICES)
def test_choices(kwargs, expected):
    chosen = vellum.choices(**kwargs)
    assert (chosen.format, chosen.quality, chosen.progressive, chosen.quantizer, chosen.mips) == expected
    assert vellum.choices(options=chosen.options_word) == chosen


def test_save_is_atomic(tmp_path):
    path = tmp_path / "out.blp"
    path.write_bytes(b"old")
    with pytest.raises(FileExistsError):
        vellum.save(path, RGB, overwrite=False)
    with pytest.raises(ValueError):
        vellum.save(path, RGB, "nope")
    assert path.read_bytes() == b"old"
    size = vellum.save(path, RGB, "blp2-dxt", mips=1)
    assert path.read_bytes() == vellum.encode(RGB, "blp2-dxt", mips=1) and size == path.stat().st_size
    mask = os.umask(0)
    os.umask(mask)
    assert path.stat().st_mode & 0o777 == 0o666 & ~mask
    assert sorted(p.name for p in tmp_path.iterdir()) == ["out.blp"]


def test_threads_share_and_split_files():
    files = [vellum.encode(texture(96, 64, seed=s), "blp2-paletted8", mips=4) for s in range(4)]
    expected = [[vellum.open(f).level(k) for k in range(4)] for f in files]
    shared = vellum.open(files[0])
    results, errors = {}, []

    def work(n):
        try:
            own = vellum.open(files[n % 4])
            for k in (3, 0, 2, 1):
                results[(n, k, "own")] = own.level(k)
                results[(n, k, "shared")] = shared.level(k)
        except Exception as e:  # reported below
            errors.append(e)

    threads = [threading.Thread(target=work, args=(n,)) for n in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    for (n, k, which), pixels in results.items():
        assert (pixels == expected[0 if which == "shared" else n % 4][k]).all()


def test_stub_names_the_compiled_module():
    stub = open(os.path.join(os.path.dirname(vellum.__file__), "_vellum.pyi")).read()
    compiled = {n for n in dir(_vellum) if not n.startswith("_")}
    stubbed = {line.split()[1].split("(")[0].split(":")[0] for line in stub.splitlines()
               if line.startswith(("def ", "class "))} | {line.split(":")[0] for line in stub.splitlines()
                                                          if line[:1].isupper() and ":" in line}
    assert compiled == stubbed
    methods = {n for n in dir(_vellum.File) if not n.startswith("_")}
    assert methods == {line.split()[1].split("(")[0] for line in stub.splitlines() if line.startswith("    def ")}
