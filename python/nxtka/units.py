"""Engineering units: a :class:`Scale` turns normalized values (1.05 = end of scale) into a physical unit.

A scale is ``scaled = factor * normalized + offset``. It comes from the
amplifier once, through :meth:`~nxtka.Port.scale_for`, and is then given to
the reads (``amp.read_values(scale=s)``, ``amp.read_timed(scale=s)``), so no
read asks the amplifier again:

- ``unit="normalized"``: factor 1, the values as the library gives them;
- ``unit="mV/V"``: the input range is the value at normalized 1.0, so a
  value times the range is the bridge signal in mV/V;
- ``unit="sensor"``: the sensor gives its rated output (mV/V) at its
  capacity, so ``normalized * range / rated_output * capacity`` is the load
  in the sensor's unit, named by ``unit_name`` (``"N"``, ``"kg"``; without
  one the unit is called ``"sensor"``);
- ``points=((0, 0), (1, 500))``: a line through two points
  ``(normalized, scaled)`` given by the user, in ``unit_name`` (``"scaled"``
  without one); it overrides the unit and reads nothing from the amplifier.

These are the scales of the command-line tool's ``--unit``, ``--unit-name``
and ``--scale``.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from typing import Any, Optional, Sequence, Tuple

import numpy as np
import numpy.typing as npt

#: The units :meth:`~nxtka.Port.scale_for` takes.
UNITS = ("normalized", "mV/V", "sensor")


@dataclass(frozen=True)
class Scale:
    """``scaled = factor * normalized + offset`` in ``unit``; ``source`` says where the numbers came from."""

    factor: float
    offset: float
    unit: str
    source: str

    def __call__(self, normalized: Any) -> npt.NDArray[np.float64]:
        """The scaled values of ``normalized`` (a number or an array) as a float64 array."""
        return np.asarray(normalized, dtype=np.float64) * self.factor + self.offset

    def __str__(self) -> str:
        return f"{self.factor:.10g} {self.unit} at normalized 1, offset {self.offset:.10g} ({self.source})"

    @classmethod
    def normalized(cls) -> Scale:
        """The values as they are: factor 1, offset 0."""
        return cls(1.0, 0.0, "normalized", "normalized")

    @classmethod
    def two_point(cls, points: Sequence[Tuple[float, float]], unit: Optional[str] = None) -> Scale:
        """The line through ``((normalized0, scaled0), (normalized1, scaled1))``, in ``unit`` ("scaled" without)."""
        (x0, y0), (x1, y1) = ((float(x), float(y)) for x, y in points)
        if x0 == x1:
            raise ValueError(f"the two points of a scale need different normalized values, not {x0:.10g} twice")
        factor = (y1 - y0) / (x1 - x0)
        return cls(factor, y0 - factor * x0, unit or "scaled", f"two points {x0:.10g}={y0:.10g},{x1:.10g}={y1:.10g}")


def _figure(value: float, what: str, attribute: str) -> float:
    if not (math.isfinite(value) and value > 0):
        raise ValueError(f"the amplifier's {what} is {value:.10g}, not a scale (set it with amp.{attribute})")
    return value


def scale_for(port: Any, unit: str = "normalized", unit_name: Optional[str] = None,
              points: Optional[Sequence[Tuple[float, float]]] = None) -> Scale:
    """The :class:`Scale` of ``unit`` on the amplifier of ``port`` (reads what it needs once); see the module."""
    if points is not None:
        return Scale.two_point(points, unit_name)
    if unit not in UNITS:
        raise ValueError(f"unit is one of {', '.join(UNITS)}, not {unit!r} (or give points)")
    if unit_name and unit != "sensor":
        raise ValueError("a unit name goes with unit='sensor' or a two-point scale")
    if unit == "normalized":
        return Scale.normalized()
    span = _figure(port.range, "input range", "range")
    if unit == "mV/V":
        return Scale(span, 0.0, "mV/V", f"input range {span:.10g} mV/V")
    rated = _figure(port.rated_output, "rated output", "rated_output")
    capacity = _figure(port.capacity, "sensor capacity", "capacity")
    name = unit_name or "sensor"
    return Scale(span / rated * capacity, 0.0, name,
                 f"capacity {capacity:.10g} {name} at rated output {rated:.10g} mV/V, input range {span:.10g} mV/V")
