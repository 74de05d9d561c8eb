"""Read and write BLP textures with Vellum.

    import vellum
    with vellum.open("Stone.blp") as blp:
        print(blp.info.content, blp.info.size, blp.info.level_count)
        rgba = blp.level(0)                  # numpy uint8, H x W x 4
    vellum.save("Stone2.blp", rgba, "blp2-dxt")

`import vellum.pillow` makes Pillow open and save every kind of BLP file through Vellum.
"""
from ._errors import BlpError, DamagedError, DamageWarning
from ._encode import FORMAT_LABELS, FORMATS, QUANTIZER_LABELS, QUANTIZERS, EncodeChoices, choices, encode, save
from ._file import BlpFile, Info, LevelInfo, open
from . import _vellum
from ._vellum import DAMAGE, STATUS

__version__: str = _vellum.version()

__all__ = [
    "BlpError", "DamagedError", "DamageWarning", "BlpFile", "Info", "LevelInfo", "EncodeChoices",
    "FORMATS", "FORMAT_LABELS", "QUANTIZERS", "QUANTIZER_LABELS", "DAMAGE", "STATUS",
    "open", "encode", "save", "choices",
]
