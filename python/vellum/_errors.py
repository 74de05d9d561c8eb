"""The exceptions and the warning of the vellum package."""
from __future__ import annotations

from typing import Optional

import numpy as np


class BlpError(Exception):
    """A BLP file could not be opened, decoded or written.

    ``status`` is libvellum's status code (a negative ``vellum_status``); ``str(error)`` says
    what went wrong.
    """

    def __init__(self, status: int, message: str) -> None:
        super().__init__(message)
        self.status = status


class DamagedError(BlpError):
    """A mipmap level is damaged: pixels were lost.

    ``recovered`` holds what could be decoded (bytes the file lacks are zero, JPEG blocks
    without data flat grey), in the layout that was asked for. ``flags`` are libvellum's
    ``VELLUM_DAMAGE_*`` bits; for JPEG levels ``blocks_decoded`` of ``blocks_total`` 8 x 8
    blocks were decoded before the data ended or broke.
    """

    def __init__(self, status: int, message: str, recovered: Optional[np.ndarray], flags: int, level: int,
                 blocks_decoded: int, blocks_total: int) -> None:
        super().__init__(status, message)
        self.recovered = recovered
        self.flags = flags
        self.level = level
        self.blocks_decoded = blocks_decoded
        self.blocks_total = blocks_total


class DamageWarning(UserWarning):
    """A level had damage that was repaired without losing pixels (markers out of place, a
    JPEG stream without its end marker)."""
