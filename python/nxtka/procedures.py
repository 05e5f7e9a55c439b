"""The amplifier's procedures and the settings that take more than one value, as methods of a port."""

from __future__ import annotations

import ctypes
from typing import Tuple

from ._library import library


def _identifier(identifier: bytes) -> ctypes.Array[ctypes.c_ubyte]:
    raw = bytes(identifier)
    if len(raw) != 3:
        raise ValueError("the identifier has 3 bytes")
    return (ctypes.c_ubyte * 3).from_buffer_copy(raw)


class Procedures:
    """Procedures of the amplifier on the port ``_port`` (a mixin of :class:`~nxtka.Port`)."""

    __slots__ = ()
    _port: int

    def initialize(self) -> None:
        """Identifies the amplifier again after its settings changed (calls TKAinitialize)."""
        library().TKAinitialize(self._port)

    def flush(self) -> bool:
        """Drops the waiting values in step with the amplifier; True if some were dropped (calls TKAflushBuffer)."""
        return bool(library().TKAflushBuffer(self._port))

    def clear_buffer(self) -> None:
        """Clears the amplifier's buffer and the library's input (calls TKAclearBuffer)."""
        library().TKAclearBuffer(self._port)

    def request_value(self) -> None:
        """Asks for one value; it arrives as any other value (calls TKAgetValue)."""
        library().TKAgetValue(self._port)

    def reset_status(self) -> None:
        """Resets the amplifier's status (calls TKAresetStatus)."""
        library().TKAresetStatus(self._port)

    def load_settings(self, number: int) -> None:
        """Loads the amplifier's stored setting number ``number`` (calls TKAgetAll)."""
        library().TKAgetAll(self._port, number)

    def save_settings(self, number: int) -> None:
        """Saves the amplifier's settings as number ``number`` (calls TKAsaveAll)."""
        library().TKAsaveAll(self._port, number)

    def calibrate(self) -> bool:
        """Runs the calibration; True when the amplifier came back within 5 s (calls TKAsetCal)."""
        return bool(library().TKAsetCal(self._port))

    def adjust_zero(self) -> bool:
        """Runs the zero adjustment; True when the amplifier came back within 5 s (calls TKAsetZero)."""
        return bool(library().TKAsetZero(self._port))

    def adjust_scale(self) -> bool:
        """Runs the scale adjustment; True when the amplifier came back within 5 s (calls TKAsetScale)."""
        return bool(library().TKAsetScale(self._port))

    def adjust_offset(self) -> bool:
        """Runs the offset adjustment; True when the amplifier came back within 5 s (calls TKAsetOffset)."""
        return bool(library().TKAsetOffset(self._port))

    def lock_interface(self) -> int:
        """Locks the amplifier's user interface; the answer byte, 1 when locked (calls TKAlockUII)."""
        return int(library().TKAlockUII(self._port))

    def unlock_interface(self) -> None:
        """Unlocks the amplifier's user interface (calls TKAunlockUII)."""
        library().TKAunlockUII(self._port)

    def set_mode_lock(self, lock: bool, identifier: bytes) -> None:
        """Locks (or unlocks) the settings with the amplifier's 3-byte identifier (calls NXsetModeLock)."""
        library().NXsetModeLock(self._port, 1 if lock else 0, _identifier(identifier))

    def send_id(self, identifier: bytes) -> None:
        """Sends the amplifier's 3-byte identifier (calls NXsendID)."""
        library().NXsendID(self._port, _identifier(identifier))

    def is_command_available(self, first: int, second: int) -> bool:
        """True when the amplifier has the commands ``first`` and ``second`` (calls TKAisCommandAvailable)."""
        return bool(library().TKAisCommandAvailable(self._port, first, second))

    def set_user_text_char(self, index: int, character: int) -> None:
        """Writes one character (its low byte) of the 256-cell user text (calls TKAsetUserTextChar)."""
        library().TKAsetUserTextChar(self._port, index, character)

    def range_entry(self, first: int, second: int) -> Tuple[int, float]:
        """Range-table entry first/second as ``(status, value)`` (calls TKAgetRanges)."""
        value = ctypes.c_double()
        status = library().TKAgetRanges(self._port, first, second, ctypes.byref(value))
        return int(status), value.value

    def set_range_entry(self, first: int, second: int, value: float) -> None:
        """Writes range-table entry first/second as a number, 0.01 to 83886.07 in magnitude (calls TKAsetRanges)."""
        library().TKAsetRanges(self._port, first, second, value)

    def write_range_raw(self, first: int, second: int, value: int) -> None:
        """Writes range-table entry first/second raw, 0..0xFFFFFF (calls NXwriteRanges)."""
        library().NXwriteRanges(self._port, first, second, value)

    def sensor_text_assign(self) -> Tuple[int, int]:
        """The sensor text assignment as its two answer bytes (calls TKAgetSensorTextAssign)."""
        second = ctypes.c_int32()
        first = library().TKAgetSensorTextAssign(self._port, ctypes.byref(second))
        return int(first), second.value
