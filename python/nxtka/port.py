"""The :class:`Port` class: one amplifier on one serial port."""

from __future__ import annotations

import ctypes
import os
import time
from typing import Any, Callable, Iterator, Literal, Optional, Sequence, Tuple, Union, overload

import numpy as np
import numpy.typing as npt

from ._library import EVENT, EXEC_CALLBACK, ActivationParams, library
from ._wait import wait_event
from .errors import LineFailedError, NotActiveError, PortRangeError
from .linear import LinearMethods
from .memory import MemoryMethods
from .procedures import Procedures
from .settings import Settings
from .snapshot import SnapshotMethods
from .timed import TimedMethods
from .units import Scale

FLAG_BAUDRATE = 0x1  #: ``ActivationParams.flags``: the line speed is given.
FLAG_WAKEUP = 0x2  #: wait for a sleeping amplifier (``abort_activation`` ends the wait).
FLAG_RTSCTS = 0x4  #: RTS/CTS handshake.
FLAG_DISPLAY = 0x8  #: the display norm's sign bit affects text values.

Values = npt.NDArray[np.float64]
Statuses = npt.NDArray[np.uint8]
BytesLike = Union[bytes, bytearray, Sequence[int]]


def _bytes_argument(data: BytesLike) -> Tuple[ctypes.Array[ctypes.c_ubyte], int]:
    raw = bytes(data)
    return (ctypes.c_ubyte * max(1, len(raw))).from_buffer_copy(raw or b"\0"), len(raw)


def set_device_name(port: int, name: Optional[Union[str, os.PathLike[str]]]) -> None:
    """Makes ``port`` open the device ``name`` at its next activation (None: the default)."""
    library().NXsetDeviceName(port, None if name is None else os.fsencode(name))


def device_name(port: int) -> str:
    """The device that ``port`` opens at its next activation."""
    text = ctypes.create_string_buffer(512)
    library().NXgetDeviceName(port, text, len(text))
    return os.fsdecode(text.value)


def abort_activation(port: int) -> None:
    """Ends the wait for a sleeping amplifier of an activation with ``wakeup=True`` (from another thread)."""
    library().TKAabortActivate(port)


def version() -> Tuple[int, int, int, int]:
    """The library's file version as ``(major, minor, build, revision)``."""
    lib = library()
    v, r = lib.TKAversion(), lib.TKArevision()
    return (v >> 16) & 0xFFFF, v & 0xFFFF, (r >> 16) & 0xFFFF, r & 0xFFFF


def request_values(ports: Sequence[int]) -> None:
    """Asks the amplifiers of all ``ports`` for one value each."""
    array = (ctypes.c_int32 * max(1, len(ports)))(*ports)
    library().TKAgetValues(array, len(ports))


def send_bytes_to_devices(ports: Sequence[int], data: BytesLike) -> None:
    """Writes the raw ``data`` to the amplifiers of all ``ports``."""
    array = (ctypes.c_uint32 * max(1, len(ports)))(*ports)
    buffer, count = _bytes_argument(data)
    library().NXsendBytesToDevices(array, len(ports), buffer, count)


class Port(Settings, Procedures, MemoryMethods, LinearMethods, TimedMethods, SnapshotMethods):
    """One amplifier on serial port ``number`` (0..1023).

    ``with Port(3, device="/dev/ttyUSB0", ring=10000) as amp:`` activates the
    port on entry and releases it on exit. ``device`` maps the port number
    to a device path (default: the system's name for the number), ``ring``
    is the capacity of the value ring, ``baud`` a line speed other than
    38400 bit/s, and ``rtscts``, ``wakeup`` and ``display`` set the
    activation flags of the same names. The settings are attributes named
    after the command-line tool's settings (``amp.gain``, ``amp.noise_cut``,
    ``amp.mode.text``), the procedures methods (``amp.adjust_zero()``); a
    name the port does not have raises ``AttributeError``, and every failure
    raises an :class:`NxtkaError` subclass with the library's reason.
    :meth:`read_timed` gives values with their times and sequence numbers,
    :meth:`scale_for` a scale to engineering units for the reads, and
    :meth:`snapshot` / :meth:`restore` every setting as the tool's settings file.
    """

    __slots__ = ("_port", "_device", "_ring", "_baud", "_flags", "_async_buffer")

    def __init__(self, number: int, device: Optional[Union[str, os.PathLike[str]]] = None, ring: int = 10000,
                 baud: Optional[int] = None, rtscts: bool = False, wakeup: bool = False, display: bool = False) -> None:
        self._port = int(number)
        self._device = device
        self._ring = int(ring)
        self._baud = baud
        self._flags = (
            (FLAG_BAUDRATE if baud is not None else 0)
            | (FLAG_RTSCTS if rtscts else 0)
            | (FLAG_WAKEUP if wakeup else 0)
            | (FLAG_DISPLAY if display else 0)
        )
        self._async_buffer: Optional[ctypes.Array[ctypes.c_ubyte]] = None

    @property
    def number(self) -> int:
        """The port number."""
        return self._port

    @property
    def device(self) -> Optional[Union[str, os.PathLike[str]]]:
        """The device path given to the constructor (None: the library's default for the number)."""
        return self._device

    def __repr__(self) -> str:
        return f"<nxtka.Port {self._port} {self._device or ''}>"

    # ---------------------------------------------------------------- activation

    def activate(self) -> Port:
        """Opens the device, starts the port's receive thread and identifies the amplifier."""
        lib = library()
        if self._device is not None:
            set_device_name(self._port, self._device)
        if self._flags == 0:
            lib.TKAactivate(self._port, self._ring)
        else:
            params = ActivationParams(16, self._ring, self._flags, int(self._baud or 0))
            lib.TKAactivateExtended(self._port, ctypes.byref(params))
        return self

    def release(self) -> None:
        """Restores the amplifier's sleep bit and interface lock, stops the receive thread, closes the device."""
        library().TKArelease(self._port)

    def __enter__(self) -> Port:
        return self.activate()

    def __exit__(self, *exc: object) -> None:
        self.release()

    @property
    def active(self) -> bool:
        """True while the port is active, also after its line failed (asks the library, sends nothing)."""
        try:
            library().TKAreceived(self._port)
        except (NotActiveError, PortRangeError):
            return False
        except LineFailedError:
            pass
        return True

    # ---------------------------------------------------------------- values

    def read(self) -> Optional[float]:
        """The oldest value (normalized, 1.05 end of scale), or None when none waits."""
        value = ctypes.c_double()
        return value.value if library().TKAread(self._port, ctypes.byref(value)) == 1 else None

    def read_status(self) -> Optional[Tuple[float, int]]:
        """The oldest value and its status byte as ``(value, status)``, or None when none waits."""
        value, status = ctypes.c_double(), ctypes.c_ubyte()
        r = library().TKAreadStatus(self._port, ctypes.byref(value), ctypes.byref(status))
        return (value.value, status.value) if r == 1 else None

    @overload
    def read_values(self, limit: int = ..., status: Literal[False] = ..., scale: Optional[Scale] = ...) -> Values: ...

    @overload
    def read_values(self, limit: int = ..., *, status: Literal[True],
                    scale: Optional[Scale] = ...) -> Tuple[Values, Statuses]: ...

    def read_values(self, limit: int = 4096, status: bool = False,
                    scale: Optional[Scale] = None) -> Union[Values, Tuple[Values, Statuses]]:
        """What is waiting now: up to ``limit`` values, oldest first, as a float64 array; never waits.

        Right after activation, or when the values came faster than they are
        read, this is fewer than ``limit`` or none at all: an empty array.
        :meth:`wait_for_values` waits for a number of values. With
        ``status=True`` returns ``(values, statuses)``, the statuses as a
        uint8 array. With ``scale`` (from :meth:`scale_for`) the values are
        in its unit. Raises :class:`LineFailedError` when none wait and the
        line has failed.
        """
        if limit < 1:
            raise ValueError("limit must be at least 1")
        values = np.empty(limit, dtype=np.float64)
        statuses = np.empty(limit if status else 0, dtype=np.uint8)
        delivered = ctypes.c_int32(0)
        lib = library()
        pointer = values.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
        if status:
            status_pointer = statuses.ctypes.data_as(ctypes.POINTER(ctypes.c_ubyte))
            r = lib.TKAreadStatusMultiple(self._port, pointer, status_pointer, limit, ctypes.byref(delivered))
        else:
            r = lib.TKAreadMultiple(self._port, pointer, limit, ctypes.byref(delivered))
        n = delivered.value if r == 1 else 0
        read = scale(values[:n]) if scale else values[:n].copy()
        return (read, statuses[:n].copy()) if status else read

    def wait_for_values(self, count: int, timeout: Optional[float] = None, scale: Optional[Scale] = None) -> Values:
        """Waits until ``count`` values have come and returns them, oldest first, as a float64 array.

        Returns fewer when ``timeout`` seconds pass first (None: no limit);
        with ``scale`` the values are in its unit.
        Raises :class:`LineFailedError` when the line fails before.
        """
        deadline = None if timeout is None else time.monotonic() + timeout
        chunks, have = [], 0
        event = self.event()
        while have < count:
            block = self.read_values(count - have, scale=scale)
            if len(block):
                chunks.append(block)
                have += len(block)
                continue
            left = None if deadline is None else deadline - time.monotonic()
            if (left is not None and left <= 0) or not wait_event(event, left):
                break
        return np.concatenate(chunks) if chunks else np.empty(0)

    def event(self) -> Any:
        """The port's data event: a descriptor (POSIX) or HANDLE (Windows), signalled while values wait
        and once the line has failed. Never read or close it."""
        return library().NXrequestEvent(self._port)

    def fileno(self) -> int:
        """The data event's descriptor, so that a Port can be given to ``select``/``poll`` (POSIX)."""
        return int(self.event())

    def wait(self, timeout: Optional[float] = None) -> bool:
        """Waits until values wait or the line has failed; False after ``timeout`` seconds."""
        return wait_event(self.event(), timeout)

    def blocks(self, limit: int = 4096, timeout: Optional[float] = None) -> Iterator[Values]:
        """Iterates over arrays of up to ``limit`` values as they arrive, sleeping on the data event between them.

        Ends with :class:`LineFailedError` when the line fails (after the last
        values), and with ``TimeoutError`` when no value comes for ``timeout`` seconds.
        """
        event = self.event()
        while True:
            values = self.read_values(limit)
            if len(values):
                yield values
                continue
            if not wait_event(event, timeout):
                raise TimeoutError(f"no values on port {self._port} within {timeout} s")

    def __iter__(self) -> Iterator[float]:
        """Iterates over single values as they arrive (see :meth:`blocks`)."""
        for block in self.blocks():
            yield from block.tolist()

    # ---------------------------------------------------------------- raw bytes and the service hook

    def send_bytes(self, data: BytesLike) -> None:
        """Writes raw bytes to the amplifier."""
        buffer, count = _bytes_argument(data)
        library().NXsendBytes(self._port, buffer, count)

    def send_bytes_async(self, data: BytesLike) -> Any:
        """Starts a write; returns its event when still in progress (call :meth:`synchronize_send`
        from this thread after it), None when written at once. ``data`` is kept until then."""
        self._async_buffer, count = _bytes_argument(data)
        handle = EVENT()
        r = library().NXasynchronousSendBytes(self._port, self._async_buffer, count, ctypes.byref(handle))
        return handle.value if r == 1 else None  # type: ignore[attr-defined]

    def synchronize_send(self) -> None:
        """Waits for the write :meth:`send_bytes_async` started."""
        library().NXsynchronizeSendBytes(self._port)
        self._async_buffer = None

    def run_locked(self, callback: Callable[[int, int], int], argument: int = 0) -> int:
        """Runs ``callback(port, argument)`` while the port's command lock is held; its int result."""
        function = EXEC_CALLBACK(lambda port, arg: int(callback(port, arg)))
        return int(library().NXreservedExec(self._port, 0, function, argument))

