"""Values with arrival time and sequence number, and scales to engineering units (methods of :class:`~nxtka.Port`).

>>> with nxtka.Port(3, device="/dev/ttyUSB0") as amp:
...     force = amp.scale_for("sensor", unit_name="N")   # reads range, rated output, capacity once
...     block = amp.wait_for_timed(1000, timeout=5, scale=force)
...     block.times[0], block.values[0], block.sequences[0]  # datetime64[ns] UTC, N, uint64
...     block.missing, amp.dropped_values                  # gaps in the sequence, the ring's count

Each value's time is when the library's read that completed its frame
returned (nanoseconds since 1970 UTC); its sequence number counts the
values stored on the port since activation, from 0. A value the full ring
dropped (or a flush discarded) keeps its number, so the loss shows as a gap.
"""

from __future__ import annotations

import ctypes
import time
from dataclasses import dataclass
from typing import Any, List, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

from ._library import library
from ._wait import wait_event
from .units import Scale, scale_for


@dataclass(frozen=True)
class TimedValues:
    """Values read together, oldest first: one entry of each array per value.

    ``values`` float64 in ``unit`` ("normalized" unless read with a scale),
    ``statuses`` uint8, ``times`` datetime64[ns] (UTC, when the value
    arrived), ``sequences`` uint64 (its number on the port since activation).
    """

    values: npt.NDArray[np.float64]
    statuses: npt.NDArray[np.uint8]
    times: npt.NDArray[np.datetime64]
    sequences: npt.NDArray[np.uint64]
    unit: str = "normalized"

    def __len__(self) -> int:
        return len(self.values)

    @property
    def gaps(self) -> List[Tuple[int, int]]:
        """``(first missing sequence number, how many)`` for each gap between neighbouring values."""
        if len(self.sequences) < 2:
            return []
        steps = np.diff(self.sequences.astype(np.int64))
        at = np.nonzero(steps != 1)[0]
        return [(int(self.sequences[i]) + 1, int(steps[i]) - 1) for i in at]

    @property
    def missing(self) -> int:
        """How many sequence numbers are missing between the first value and the last."""
        return sum(count for _, count in self.gaps)

    def __repr__(self) -> str:
        n = len(self)
        if n == 0:
            return "<TimedValues: none>"
        unit = self.unit
        gaps = f"{self.missing} missing in {len(self.gaps)} gaps" if self.gaps else "no gap"
        first, last = (np.datetime_as_string(t, unit="us") for t in (self.times[0], self.times[-1]))
        return (f"<TimedValues: {n} {unit}, sequences {self.sequences[0]}..{self.sequences[-1]} ({gaps}), "
                f"{first}Z..{last}Z, last {self.values[-1]:.6g}>")

    @classmethod
    def concatenate(cls, parts: Sequence[TimedValues], unit: str = "normalized") -> TimedValues:
        """One :class:`TimedValues` of ``parts`` in their order."""
        if not parts:
            return cls(np.empty(0), np.empty(0, np.uint8), np.empty(0, "datetime64[ns]"), np.empty(0, np.uint64), unit)
        fields = ("values", "statuses", "times", "sequences")
        return cls(*(np.concatenate([getattr(p, f) for p in parts]) for f in fields), unit=parts[0].unit)


class TimedMethods:
    """Timed reads, the ring's drop count and scales: methods of :class:`~nxtka.Port`."""

    __slots__ = ()
    _port: int

    def read_timed(self, limit: int = 4096, scale: Optional[Scale] = None) -> TimedValues:
        """What is waiting now, up to ``limit`` values with status, time and sequence number; never waits.

        With ``scale`` (from :meth:`scale_for`) the values are in its unit.
        Raises :class:`LineFailedError` when none wait and the line has failed.
        """
        if limit < 1:
            raise ValueError("limit must be at least 1")
        values = np.empty(limit, dtype=np.float64)
        statuses = np.empty(limit, dtype=np.uint8)
        times = np.empty(limit, dtype=np.int64)
        sequences = np.empty(limit, dtype=np.uint64)
        delivered = ctypes.c_int32(0)
        r = library().NXreadTimed(
            self._port,
            values.ctypes.data_as(ctypes.POINTER(ctypes.c_double)),
            statuses.ctypes.data_as(ctypes.POINTER(ctypes.c_ubyte)),
            times.ctypes.data_as(ctypes.POINTER(ctypes.c_int64)),
            sequences.ctypes.data_as(ctypes.POINTER(ctypes.c_uint64)),
            limit, ctypes.byref(delivered))
        n = delivered.value if r == 1 else 0
        read = values[:n].copy()
        return TimedValues(scale(read) if scale else read, statuses[:n].copy(),
                           times[:n].view("datetime64[ns]").copy(), sequences[:n].copy(),
                           scale.unit if scale else "normalized")

    def wait_for_timed(self, count: int, timeout: Optional[float] = None,
                       scale: Optional[Scale] = None) -> TimedValues:
        """Waits until ``count`` values have come and returns them as :meth:`read_timed` does.

        Returns fewer when ``timeout`` seconds pass first (None: no limit).
        """
        deadline = None if timeout is None else time.monotonic() + timeout
        parts: List[TimedValues] = []
        have = 0
        event = library().NXrequestEvent(self._port)
        while have < count:
            block = self.read_timed(count - have, scale)
            if len(block):
                parts.append(block)
                have += len(block)
                continue
            left = None if deadline is None else deadline - time.monotonic()
            if (left is not None and left <= 0) or not wait_event(event, left):
                break
        return TimedValues.concatenate(parts, scale.unit if scale else "normalized")

    @property
    def dropped_values(self) -> int:
        """How many values the full ring has dropped since activation."""
        dropped = ctypes.c_uint64()
        library().NXgetDroppedValues(self._port, ctypes.byref(dropped))
        return dropped.value

    def scale_for(self, unit: str = "normalized", unit_name: Optional[str] = None,
                  points: Optional[Sequence[Tuple[float, float]]] = None) -> Scale:
        """A :class:`~nxtka.units.Scale` for ``read_values(scale=)`` and ``read_timed(scale=)``.

        ``unit`` is ``"normalized"``, ``"mV/V"`` (times the input range) or
        ``"sensor"`` (to the capacity through the rated output, in
        ``unit_name``); ``points=((0, 0), (1, 500))`` is a two-point line
        that overrides the unit. Reads the amplifier once, here.
        """
        port: Any = self
        return scale_for(port, unit, unit_name, points)
