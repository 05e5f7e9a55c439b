"""Python access to the nxtka driver library for measuring amplifiers on a serial line.

>>> import nxtka
>>> with nxtka.Port(3, device="/dev/ttyUSB0", ring=10000) as amp:
...     amp.gain = 3
...     amp.mode.text = False
...     values = amp.wait_for_values(1000, timeout=5)   # a NumPy array of normalized values
...     block = amp.read_timed(scale=amp.scale_for("mV/V"))   # with times, sequence numbers, in mV/V
...     saved = amp.snapshot()                          # every setting; amp.restore(saved) writes them back

Values with time and sequence number, and scales to engineering units, are
in :mod:`nxtka.timed` and :mod:`nxtka.units`; the settings snapshot and
its restore in :mod:`nxtka.snapshot`.

The shared library is found through the environment variable
``NXTKA_LIBRARY``, inside this package, or by the system's loader.
"""

from ._library import ActivationParams, LinearPoint, library
from .descriptors import SamplingRate
from .errors import (
    AbortedError,
    AlreadyActiveError,
    AnswerError,
    ArgumentError,
    BusyError,
    DeviceError,
    Failure,
    LinearTableError,
    LineFailedError,
    NoAnswerError,
    NotActiveError,
    NxtkaError,
    PortRangeError,
    WriteError,
    last_failure,
)
from .memory import MemoryTransferError
from .snapshot import OtherModelError, RestoreError, RestoreReport
from .timed import TimedValues
from .units import Scale
from .port import (
    Port,
    abort_activation,
    device_name,
    request_values,
    send_bytes_to_devices,
    set_device_name,
    version,
)

__version__ = "1.53.0"

__all__ = [
    "AbortedError",
    "ActivationParams",
    "AlreadyActiveError",
    "AnswerError",
    "ArgumentError",
    "BusyError",
    "DeviceError",
    "Failure",
    "LineFailedError",
    "LinearPoint",
    "LinearTableError",
    "MemoryTransferError",
    "NoAnswerError",
    "NotActiveError",
    "NxtkaError",
    "OtherModelError",
    "Port",
    "PortRangeError",
    "RestoreError",
    "RestoreReport",
    "SamplingRate",
    "Scale",
    "TimedValues",
    "WriteError",
    "abort_activation",
    "device_name",
    "last_failure",
    "library",
    "request_values",
    "send_bytes_to_devices",
    "set_device_name",
    "version",
]
