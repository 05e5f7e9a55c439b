"""The amplifier's 1024-byte memory, moved as NumPy arrays of bytes (methods of :class:`~nxtka.Port`)."""

from __future__ import annotations

import ctypes
from typing import Optional, Tuple, Union

import numpy as np

from ._library import library
from .errors import NxtkaError, error_for, last_failure

#: Status codes: 0..15 success, 16..31 the amplifier's failure (16 also an unknown answer), 255 no answer.
STATUS_NO_ANSWER = 255


class MemoryTransferError(NxtkaError):
    """A memory transfer stopped early or a step failed.

    ``done`` is the number of bytes moved before the failure (None for a
    single step), ``status`` the step's status code (None for a block),
    ``address`` the first address that does not hold its byte after a
    verified write (None otherwise).
    """

    def __init__(self, function, text, done=None, status=None, address=None):
        failure, reason = last_failure()
        self.done = done
        self.status = status
        self.address = address
        super().__init__(function, failure, f"{text}: {reason}" if reason else text)


def _byte_pointer(array):
    return array.ctypes.data_as(ctypes.POINTER(ctypes.c_uint8))


class MemoryMethods:
    """The memory methods of :class:`~nxtka.Port`."""

    __slots__ = ()
    _port: int

    def read_memory(self, address: int, count: int) -> np.ndarray:
        """Reads ``count`` bytes from ``address`` as a uint8 array."""
        if count < 0:
            raise ValueError("count must not be negative")
        data = np.zeros(max(count, 1), dtype=np.uint8)
        n = library().TKAcopyMemory(self._port, count, address, _byte_pointer(data))
        if n != count:
            raise MemoryTransferError("TKAcopyMemory", f"read {n} of {count} bytes from {address}", done=n)
        return data[:count]

    def write_memory(self, address: int, data: Union[bytes, bytearray, np.ndarray], verify: bool = True) -> None:
        """Writes the bytes of ``data`` (bytes or an array of 0..255) from ``address``, one command each.

        ``verify`` (the default) reads them back: the line has no checksum, so a
        byte changed on the way shows only then, as :class:`MemoryTransferError`
        with the first ``address`` that does not hold its byte.
        """
        array = np.ascontiguousarray(np.frombuffer(bytes(data), dtype=np.uint8) if isinstance(data, (bytes, bytearray))
                                     else np.asarray(data, dtype=np.uint8))
        count = len(array)
        if count == 0:
            return
        if verify:
            first = ctypes.c_int32(-1)
            if library().NXwriteMemoryVerified(self._port, address, _byte_pointer(array), count, ctypes.byref(first)) != count:
                if first.value < 0:
                    raise error_for("NXwriteMemoryVerified")
                raise MemoryTransferError("NXwriteMemoryVerified", f"address {first.value} does not hold its byte",
                                          address=first.value)
            return
        n = library().TKAcopyMemory(self._port, -count, address, _byte_pointer(array))
        if n != count:
            raise MemoryTransferError("TKAcopyMemory", f"wrote {n} of {count} bytes from {address}", done=n)

    def check_memory(self, address: int, count: Optional[int] = None,
                     data: Union[bytes, bytearray, np.ndarray, None] = None) -> np.ndarray:
        """Status code of every byte as a uint8 array: reads ``count`` bytes, or with ``data`` writes them
        with the amplifier's special flag. Never stops early; the range must lie within the 1024 bytes."""
        if (count is None) == (data is None):
            raise TypeError("give either count (read) or data (write)")
        if data is None:
            buffer = np.zeros(max(count, 1), dtype=np.uint8)
            length = count
        else:
            buffer = np.array(bytearray(bytes(data)) if isinstance(data, (bytes, bytearray)) else data, dtype=np.uint8)
            length = -len(buffer)
        library().TKAcheckMemory(self._port, length, address, _byte_pointer(buffer))
        return buffer[: abs(length)]

    def read_memory_word(self, address: int) -> Tuple[np.ndarray, int]:
        """Reads the 4-byte word at ``address`` (a multiple of 4) as ``(uint8 array, status code)``."""
        data = np.zeros(4, dtype=np.uint8)
        status = ctypes.c_int32(STATUS_NO_ANSWER)
        if library().TKAreadMemory(self._port, address, _byte_pointer(data), ctypes.byref(status)) != 0:
            raise MemoryTransferError("TKAreadMemory", f"status {status.value}", status=status.value)
        return data, status.value

    def write_memory_byte(self, address: int, value: int, flag: bool = False) -> int:
        """Writes one byte to ``address``; ``flag`` marks the amplifier's special form. Returns the status code."""
        status = ctypes.c_int32(STATUS_NO_ANSWER)
        if library().TKAwriteMemory(self._port, address, 1 if flag else 0, value, ctypes.byref(status)) != 0:
            raise MemoryTransferError("TKAwriteMemory", f"status {status.value}", status=status.value)
        return status.value
