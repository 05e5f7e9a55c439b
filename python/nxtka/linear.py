"""Linearization tables as NumPy arrays of ``(x, y)`` rows (methods of :class:`~nxtka.Port`).

A table is an ``(n, 2)`` float64 array of points on the normalized scale,
plus the extra record ``(x, y)`` that names the sensor range.
"""

from __future__ import annotations

import ctypes
from typing import Tuple

import numpy as np

from ._library import LinearPoint, library
from .errors import LinearTableError, error_for, last_failure

SORT = 0x4000  #: mode bit: sort the points by x before anything else.
NO_VERIFY = 0x8000  #: mode bit: write without reading the written bytes back.

_WORDS = {
    0x400: "no linearization support",
    0x800: "unknown table format",
    0xC00: "too many points, a single point, or more stored points than the amplifier holds",
    0x1100: "input cannot be encoded at point {i}",
    0x1200: "output cannot be encoded at point {i}",
    0x1300: "input and output cannot be encoded at point {i}",
    0x1500: "input not increasing between point {i} and {j}",
    0x1600: "output decreasing between point {i} and {j}",
    0x1700: "input not increasing and output decreasing between point {i} and {j}",
    0x1800: "slope after point {i} too steep",
    0x1C00: "write refused: the marker check failed",
    0x2000: "a memory transfer moved fewer bytes than asked",
    0x2400: "mode outside 0..3",
    0x2800: "extra record: input out of range",
    0x2C00: "extra record: output is not one of the amplifier's ranges",
    0x3000: "command refused by the amplifier",
}


def describe(code):
    """The words for a table error code (without bit 31)."""
    base = code & ~0xFF if 0x1100 <= code < 0x1900 else code
    i = code & 0xFF
    return f"0x{code:X}: " + _WORDS.get(base, "unknown error").format(i=i, j=i + 1)


def _call(port, table, count, info):
    pointer = table.ctypes.data_as(ctypes.POINTER(LinearPoint)) if table is not None else None
    word = ctypes.c_int32(info)
    r = library().TKAcopyLinear(port, pointer, count, ctypes.byref(word))
    if r == -1:
        code = word.value
        if code == -1:
            raise error_for("TKAcopyLinear")
        code &= 0x7FFFFFFF
        reason = last_failure()[1]
        raise LinearTableError("TKAcopyLinear", code, f"{describe(code)} ({reason})" if reason else describe(code))
    return r, word.value


def _table(points, extra):
    points = np.asarray(points, dtype=np.float64).reshape(-1, 2)
    table = np.zeros((len(points) + 1, 2), dtype=np.float64)
    table[: len(points)] = points
    table[len(points)] = extra
    return np.ascontiguousarray(table), len(points)


class LinearMethods:
    """The linearization-table methods of :class:`~nxtka.Port`."""

    __slots__ = ()
    _port: int

    def read_linear_table(self, max_points: int = 256) -> Tuple[np.ndarray, Tuple[float, float]]:
        """Reads the stored table as ``(points, extra)``: an ``(n, 2)`` array and the extra record ``(x, y)``."""
        table = np.zeros((max_points + 1, 2), dtype=np.float64)
        _, stored = _call(self._port, table, max_points + 1, 0)
        n = min(stored, max_points)
        return table[:n].copy(), (float(table[n, 0]), float(table[n, 1]))

    def write_linear_table(self, points, extra: Tuple[float, float], sort: bool = False, verify: bool = True) -> None:
        """Writes ``points`` (n rows of x, y) and checks the ``extra`` record ``(x, y)``.

        ``sort=True`` sorts the points by x first. ``verify`` (the default) reads
        every written byte back; one that differs fails with code 0x2000 and its
        address in the reason. Raises :class:`LinearTableError` with the code (and
        the point's index) when the table is refused.
        """
        table, n = _table(points, extra)
        _call(self._port, table, -n, (SORT if sort else 0) | (0 if verify else NO_VERIFY))

    def check_linear_table(self, points, extra: Tuple[float, float], mode: int = 1, sort: bool = False) -> None:
        """Checks a table without writing it (``mode`` 1..3: the amplifier's check levels)."""
        table, n = _table(points, extra)
        _call(self._port, table, -n, mode | (SORT if sort else 0))

    def probe_linear(self) -> Tuple[bool, int]:
        """Whether a table can be written now, and the most points the amplifier takes: ``(writable, max_points)``."""
        r, most = _call(self._port, None, 0, 0)
        return r == 1, most

    def read_linear_record(self) -> Tuple[Tuple[float, float], int]:
        """The second record and its byte as ``((x, y), byte)``."""
        table = np.zeros((1, 2), dtype=np.float64)
        _, byte = _call(self._port, table, 1, -1)
        return (float(table[0, 0]), float(table[0, 1])), byte

    def read_linear_flag(self) -> int:
        """The flag byte of the linearization area."""
        return _call(self._port, None, 1, 0)[1]

    def linear_command(self, number: int) -> bool:
        """Sends the single-byte command ``number`` (1..4) at the flag address; True when the amplifier took it."""
        if number not in (1, 2, 3, 4):
            raise ValueError("the command is 1..4")
        return _call(self._port, None, -number, 0)[1] == 1
