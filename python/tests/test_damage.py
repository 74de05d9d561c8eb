"""Damaged and malformed files through the module: what is refused, what is recovered."""
import struct
import warnings

import numpy as np
import pytest
from conftest import texture

import vellum

S = vellum.STATUS
D = vellum.DAMAGE
PALETTED = vellum.encode(texture(64, 64, 3), "blp2-paletted8", mips=2)
JPEG = vellum.encode(texture(64, 64, 3), "blp1-jpeg", quality=90, mips=1)


def patched(data, *edits):
    out = bytearray(data)
    for offset, fmt, value in edits:
        struct.pack_into(fmt, out, offset, value)
    return bytes(out)


# bytes -> the status open() refuses them with
REFUSED = [
    (b"", S["TRUNCATED"]),
    (PALETTED[:100], S["TRUNCATED"]),
    (b"PNG\0" + PALETTED[4:], S["NOT_BLP"]),
    (patched(PALETTED, (12, "<I", 0)), S["DIMENSIONS"]),
    (patched(PALETTED, (16, "<I", 40000)), S["DIMENSIONS"]),
    (patched(PALETTED, (8, "<B", 9)), S["UNSUPPORTED"]),
]


@pytest.mark.parametrize("data,status", REFUSED)
def test_refused(data, status):
    with pytest.raises(vellum.BlpError) as e:
        vellum.open(data)
    assert e.value.status == status and str(e.value)


def test_paletted_level_cut_short():
    good = vellum.open(PALETTED)
    reference = good.level(0)
    # Cut inside row 31: rows before it survive, the missing bytes read as index 0.
    cut = vellum.open(PALETTED[: 1172 + 31 * 64 + 10])
    assert cut.info.levels[0].damage == D["PAST_END"] and cut.info.levels[1].damage == D["PAST_END"]
    with pytest.raises(vellum.DamagedError) as e:
        cut.level(0)
    assert (e.value.flags, e.value.level) == (D["PAST_END"], 0) and "past the end" in str(e.value)
    assert (e.value.recovered[:31] == reference[:31]).all()
    assert (e.value.recovered[32:, :, :3] == good.palette[0, :3]).all()
    # A size entry too small: the rows are read on from the file, but it is reported.
    short = vellum.open(patched(PALETTED, (84, "<I", 2048)))
    with pytest.raises(vellum.DamagedError) as e:
        short.level(0)
    assert e.value.flags == D["SHORT_LEVEL"] and (e.value.recovered == reference).all()


def test_jpeg_damage():
    blp = vellum.open(JPEG)
    reference = blp.level(0)
    level = blp.info.levels[0]
    end = level.offset + level.length
    with pytest.raises(vellum.DamagedError) as e:
        vellum.open(JPEG[: level.offset + level.length // 2]).level(0)
    assert e.value.flags & D["JPEG_TRUNCATED"]
    assert 0 < e.value.blocks_decoded < e.value.blocks_total == 64 * 64 // 64
    assert (e.value.recovered[:8] == reference[:8]).all()
    # A complete image without its end marker: repaired, with a warning.
    assert JPEG[end - 2:end] == b"\xff\xd9"
    no_end = patched(JPEG[: end - 2] + JPEG[end:], (92, "<I", level.length - 2))
    with pytest.warns(vellum.DamageWarning, match="end marker"):
        assert (vellum.open(no_end).level(0) == reference).all()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        blp.level(0)


def test_thumbnail_of_damaged_file():
    with pytest.raises(vellum.DamagedError) as e:
        vellum.open(PALETTED[: 1172 + 4096 + 100]).thumbnail(32)
    assert e.value.level == 1 and e.value.recovered.shape == (32, 32, 4)
    assert np.asarray(e.value.recovered).dtype == np.uint8
